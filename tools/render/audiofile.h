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
    explicit SoundReader(const std::string& path);
    ~SoundReader();
    SoundReader(const SoundReader&) = delete;
    SoundReader& operator=(const SoundReader&) = delete;

    int sampleRate() const { return rate; }
    int channels() const { return channelCount; }
    int64_t frames() const { return frameCount; }
    // Reads up to `count` frames into `left` and `right`; returns the frames read (0 at the end).
    int read(float* left, float* right, int count);
    // Seconds the caller has waited for reads the background had not finished.
    double waitedSeconds() const { return io ? io->waitedSeconds() : 0.0; }

private:
    void fill(StereoChunk& chunk); // runs on the file thread, except the first time

    std::string path;
    sf_private_tag* file = nullptr;
    int rate = 0;
    int channelCount = 0;
    int64_t frameCount = 0;
    // `current` is handed out while `ahead` is read and split into channels in the background.
    StereoChunk current, ahead;
    std::vector<float> interleaved; // the file thread's
    size_t position = 0;
    bool started = false;
    std::unique_ptr<BackgroundJob> io;
};

class SoundWriter {
public:
    // Writes into a partial file beside `path`; `commit` moves it into place. Destroyed without a
    // commit, it removes the partial file, so a failed render leaves nothing behind.
    SoundWriter(const std::string& path, SampleFormat format, int sampleRate);
    ~SoundWriter();
    SoundWriter(const SoundWriter&) = delete;
    SoundWriter& operator=(const SoundWriter&) = delete;

    void write(const float* left, const float* right, int count);
    void commit();
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
    std::unique_ptr<BackgroundJob> io;
};

const char* formatDescription(SampleFormat format);

} // namespace qlrender
