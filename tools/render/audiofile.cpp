#include "audiofile.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace qlrender {

namespace fs = std::filesystem;

namespace {
// Frames per system read or write: the processing blocks are small, the file transfers should
// not be.
constexpr size_t kTransferFrames = 262144;

// 16-bit samples are read as they lie and scaled here, in the pass that splits the channels:
// the same floats libsndfile would give (a power-of-two scale is exact), one pass fewer.
constexpr float kPcm16Scale = 1.0f / 32768.0f;

// The channel loops take plain restricted pointers so that they vectorise: through the vectors'
// members the compiler would have to assume the buffers overlap.
template <typename Sample>
void split(const Sample* __restrict frames, float scale, int channels, float* __restrict left,
           float* __restrict right, size_t count) {
    if (channels == 1) {
        for (size_t i = 0; i < count; ++i)
            left[i] = right[i] = static_cast<float>(frames[i]) * scale;
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        left[i] = static_cast<float>(frames[2 * i]) * scale;
        right[i] = static_cast<float>(frames[2 * i + 1]) * scale;
    }
}

// The peak is kept as a bit pattern: a float's magnitude orders like its pattern, so the loop
// stays in integers and vectorises.
constexpr uint32_t kMagnitude = 0x7fffffffu, kFullScale = 0x3f800000u; // 1.0f

uint32_t magnitudeBits(float sample) {
    uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits & kMagnitude;
}

float fromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Interleaves the channels for the file and measures their peaks in the same pass.
void interleave(const float* __restrict left, const float* __restrict right,
                float* __restrict frames, size_t count, double peaks[2], int64_t& clipped) {
    uint32_t peakLeft = 0, peakRight = 0;
    int64_t over = 0;
    for (size_t i = 0; i < count; ++i) {
        frames[2 * i] = left[i];
        frames[2 * i + 1] = right[i];
        const uint32_t l = magnitudeBits(left[i]), r = magnitudeBits(right[i]);
        peakLeft = std::max(peakLeft, l);
        peakRight = std::max(peakRight, r);
        over += (l > kFullScale) + (r > kFullScale);
    }
    peaks[0] = std::max<double>(peaks[0], fromBits(peakLeft));
    peaks[1] = std::max<double>(peaks[1], fromBits(peakRight));
    clipped += over;
}
} // namespace

SoundReader::SoundReader(const std::string& filePath, FileThread& files) : path(filePath) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw RenderError("cannot read " + path + ": no such file");
    if (fs::is_directory(path, ec)) throw RenderError("cannot read " + path + ": it is a folder");
    SF_INFO info{};
    file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) throw RenderError("cannot read " + path + ": " + sf_strerror(nullptr));
    rate = info.samplerate;
    channelCount = info.channels;
    pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    frameCount = info.frames;
    if (channelCount < 1 || channelCount > 2) {
        sf_close(file);
        file = nullptr;
        throw RenderError(path + " has " + std::to_string(channelCount) +
                          " channels; the plug-in takes mono or stereo input");
    }
    // The first chunk is read while the plug-in loads.
    io = std::make_unique<BackgroundJob>(files);
    io->post([this] { fill(ahead); });
}

SoundReader::~SoundReader() {
    io.reset(); // a read in flight finishes before the file goes
    if (file) sf_close(file);
}

void SoundReader::fill(StereoChunk& chunk) {
    const size_t samples = kTransferFrames * static_cast<size_t>(channelCount);
    const auto want = static_cast<sf_count_t>(kTransferFrames);
    sf_count_t got = 0;
    if (pcm16) {
        interleaved16.resize(samples);
        got = sf_readf_short(file, interleaved16.data(), want);
    } else {
        interleaved.resize(samples);
        got = sf_readf_float(file, interleaved.data(), want);
    }
    if (got < 0 || sf_error(file) != SF_ERR_NO_ERROR)
        throw RenderError("cannot read " + path + ": " + sf_strerror(file));
    chunk.frames = static_cast<size_t>(got);
    chunk.left.resize(kTransferFrames);
    chunk.right.resize(kTransferFrames);
    if (pcm16)
        split(interleaved16.data(), kPcm16Scale, channelCount, chunk.left.data(),
              chunk.right.data(), chunk.frames);
    else
        split(interleaved.data(), 1.0f, channelCount, chunk.left.data(), chunk.right.data(),
              chunk.frames);
}

bool SoundReader::refill() {
    if (position < current.frames) return true;
    if (ended) return false;
    io->wait();
    std::swap(current, ahead);
    position = 0;
    if (current.frames == 0) {
        ended = true;
        return false;
    }
    io->post([this] { fill(ahead); });
    return true;
}

int SoundReader::read(float* left, float* right, int count) {
    int done = 0;
    while (done < count && refill()) {
        const size_t n = std::min(static_cast<size_t>(count - done), current.frames - position);
        std::copy_n(current.left.data() + position, n, left + done);
        std::copy_n(current.right.data() + position, n, right + done);
        position += n;
        done += static_cast<int>(n);
    }
    return done;
}

int SoundReader::next(int count, float* stageLeft, float* stageRight, const float*& left,
                      const float*& right) {
    if (refill() && current.frames - position >= static_cast<size_t>(count)) {
        left = current.left.data() + position;
        right = current.right.data() + position;
        position += static_cast<size_t>(count);
        return count;
    }
    left = stageLeft;
    right = stageRight;
    return read(stageLeft, stageRight, count);
}

const char* formatDescription(SampleFormat format) {
    switch (format) {
    case SampleFormat::Pcm16:
        return "16-bit";
    case SampleFormat::Pcm24:
        return "24-bit";
    case SampleFormat::Float32:
        break;
    }
    return "32-bit float";
}

SoundWriter::SoundWriter(const std::string& filePath, SampleFormat format, int sampleRate,
                         int maxFrames, FileThread& files)
    : path(filePath), partialPath(filePath + ".partial"),
      capacity(std::max(kTransferFrames, static_cast<size_t>(std::max(maxFrames, 1)))) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw RenderError("cannot write " + path + ": it is a folder");
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (format == SampleFormat::Pcm16   ? SF_FORMAT_PCM_16
                                   : format == SampleFormat::Pcm24 ? SF_FORMAT_PCM_24
                                                                   : SF_FORMAT_FLOAT);
    file = sf_open(partialPath.c_str(), SFM_WRITE, &info);
    if (!file) {
        const std::string reason = sf_strerror(nullptr);
        fs::remove(partialPath, ec);
        throw RenderError("cannot write " + path + ": " + reason);
    }
    // Integer formats: samples beyond full scale are clipped, never wrapped around.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // No PEAK chunk in float files: few readers use it, and libsndfile would scan every sample
    // for it a second time (the summary's peaks are measured anyway).
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    for (StereoChunk* chunk : {&pending, &writing}) {
        chunk->left.resize(capacity);
        chunk->right.resize(capacity);
    }
    io = std::make_unique<BackgroundJob>(files);
}

SoundWriter::~SoundWriter() {
    io.reset(); // a write in flight finishes before the file goes
    if (!committed) discard();
}

void SoundWriter::reserve(int count, float*& left, float*& right) {
    if (pending.frames + static_cast<size_t>(count) > capacity) handOff();
    left = pending.left.data() + pending.frames;
    right = pending.right.data() + pending.frames;
}

void SoundWriter::advance(int count) {
    pending.frames += static_cast<size_t>(count);
    if (pending.frames == capacity) handOff();
}

void SoundWriter::handOff() {
    io->wait();
    std::swap(pending, writing);
    pending.frames = 0;
    io->post([this] {
        interleaved.resize(2 * writing.frames);
        interleave(writing.left.data(), writing.right.data(), interleaved.data(), writing.frames,
                   peaks, clipped);
        const auto frames = static_cast<sf_count_t>(writing.frames);
        if (sf_writef_float(file, interleaved.data(), frames) != frames)
            throw RenderError("cannot write " + path + ": " + sf_strerror(file));
    });
}

void SoundWriter::commit() {
    if (pending.frames > 0) handOff();
    io->wait();
    const int closed = sf_close(file);
    file = nullptr;
    if (closed != 0) {
        discard();
        throw RenderError("cannot write " + path + ": " + sf_error_number(closed));
    }
    std::error_code ec;
    fs::rename(partialPath, path, ec);
    if (ec) {
        discard();
        throw RenderError("cannot write " + path + ": " + ec.message());
    }
    committed = true;
}

void SoundWriter::discard() {
    if (file) sf_close(file);
    file = nullptr;
    std::error_code ec;
    fs::remove(partialPath, ec);
}

} // namespace qlrender
