// Sound files through libsndfile: a block reader that yields two channels whatever the file
// holds (mono feeds both), and a WAV writer that only puts the file in place when it is complete.
#pragma once

#include "background.h"
#include "options.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sf_private_tag;

namespace qlrender {

// Two channels of up to a transfer's worth of frames: the unit handed between the processing
// thread and the file thread.
struct StereoChunk {
    std::vector<float> left, right;
    size_t frames = 0;
};

class SoundReader {
  public:
    // Opens `path` for reading; throws RenderError with libsndfile's reason when it cannot.
    // Reads ahead on `files`, which must outlive the reader.
    SoundReader(const std::string& path, FileThread& files);
    ~SoundReader();
    SoundReader(const SoundReader&) = delete;
    SoundReader& operator=(const SoundReader&) = delete;

    int sampleRate() const { return rate; }
    int channels() const { return channelCount; }
    int64_t frames() const { return frameCount; }
    // Reads up to `count` frames into `left` and `right`; returns the frames read (0 at the end).
    int read(float* left, float* right, int count);
    // The next `count` frames without a copy: `left` and `right` point into the reader's own
    // chunk when the frames lie within it. At a seam between chunks, or near the end, they are
    // read into `stageLeft` and `stageRight` instead and point there. Returns the frames given;
    // the pointers stay valid until the next call.
    int next(int count, float* stageLeft, float* stageRight, const float*& left,
             const float*& right);
    // Seconds the caller has waited for reads the background had not finished.
    double waitedSeconds() const { return io->waitedSeconds(); }

  private:
    void fill(StereoChunk& chunk); // runs on the file thread
    // Makes `current` hold unread frames, taking the chunk read ahead; false at the end.
    bool refill();

    std::string path;
    sf_private_tag* file = nullptr;
    int rate = 0;
    int channelCount = 0;
    int64_t frameCount = 0;
    // `current` is handed out while `ahead` is read and split into channels in the background.
    StereoChunk current, ahead;
    bool pcm16 = false;             // 16-bit files are read as they lie, then scaled
    std::vector<float> interleaved; // the file thread's
    std::vector<short> interleaved16;
    size_t position = 0;
    bool ended = false;
    std::unique_ptr<BackgroundJob> io;
};

class SoundWriter {
  public:
    // Writes into a partial file beside `path`; `commit` moves it into place. Destroyed without a
    // commit, it removes the partial file, so a failed render leaves nothing behind. Writes
    // behind on `files`, which must outlive the writer.
    SoundWriter(const std::string& path, SampleFormat format, int sampleRate, int maxFrames,
                FileThread& files);
    ~SoundWriter();
    SoundWriter(const SoundWriter&) = delete;
    SoundWriter& operator=(const SoundWriter&) = delete;

    // Room for the next `count` frames (at most `maxFrames` of the constructor): the plug-in
    // writes its output there directly, then `advance` counts them in.
    void reserve(int count, float*& left, float*& right);
    void advance(int count);
    void commit();
    // The output's peak magnitude per channel and the samples beyond full scale, measured on
    // the file thread as the frames are written; complete after `commit`.
    double peak(int channel) const { return peaks[channel]; }
    int64_t clippedSamples() const { return clipped; }
    // Seconds the caller has waited for writes the background had not finished.
    double waitedSeconds() const { return io ? io->waitedSeconds() : 0.0; }

  private:
    void handOff();
    void discard();

    std::string path;
    std::string partialPath;
    sf_private_tag* file = nullptr;
    bool committed = false;
    // `pending` fills while `writing` is interleaved and written in the background.
    StereoChunk pending, writing;
    std::vector<float> interleaved; // the file thread's
    size_t capacity = 0;
    double peaks[2] = {0.0, 0.0};
    int64_t clipped = 0;
    std::unique_ptr<BackgroundJob> io;
};

const char* formatDescription(SampleFormat format);

} // namespace qlrender
