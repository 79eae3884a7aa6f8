// Sound files through libsndfile: a block reader that yields two channels whatever the file
// holds (mono feeds both), and a WAV writer that only puts the file in place when it is complete.
#pragma once

#include "options.h"

#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;

namespace qlrender {

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

private:
    std::string path;
    sf_private_tag* file = nullptr;
    int rate = 0;
    int channelCount = 0;
    int64_t frameCount = 0;
    std::vector<float> interleaved;
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

private:
    void discard();

    std::string path;
    std::string partialPath;
    sf_private_tag* file = nullptr;
    bool committed = false;
    std::vector<float> interleaved;
};

const char* formatDescription(SampleFormat format);

} // namespace qlrender
