#include "audiofile.h"

#include <sndfile.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace qlrender {

namespace fs = std::filesystem;

SoundReader::SoundReader(const std::string& filePath) : path(filePath) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw RenderError("cannot read " + path + ": no such file");
    if (fs::is_directory(path, ec)) throw RenderError("cannot read " + path + ": it is a folder");
    SF_INFO info{};
    file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        throw RenderError("cannot read " + path + ": " + sf_strerror(nullptr));
    rate = info.samplerate;
    channelCount = info.channels;
    frameCount = info.frames;
    if (channelCount < 1 || channelCount > 2) {
        sf_close(file);
        file = nullptr;
        throw RenderError(path + " has " + std::to_string(channelCount) +
                          " channels; the plug-in takes mono or stereo input");
    }
}

SoundReader::~SoundReader() {
    if (file) sf_close(file);
}

int SoundReader::read(float* left, float* right, int count) {
    interleaved.resize(static_cast<size_t>(count) * channelCount);
    const sf_count_t got = sf_readf_float(file, interleaved.data(), count);
    if (got < 0 || sf_error(file) != SF_ERR_NO_ERROR)
        throw RenderError("cannot read " + path + ": " + sf_strerror(file));
    const int frames = static_cast<int>(got);
    if (channelCount == 1) {
        std::copy_n(interleaved.data(), frames, left);
        std::copy_n(interleaved.data(), frames, right);
    } else {
        for (int i = 0; i < frames; ++i) {
            left[i] = interleaved[2 * i];
            right[i] = interleaved[2 * i + 1];
        }
    }
    return frames;
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

SoundWriter::SoundWriter(const std::string& filePath, SampleFormat format, int sampleRate)
    : path(filePath), partialPath(filePath + ".partial") {
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
}

SoundWriter::~SoundWriter() {
    if (!committed) discard();
}

void SoundWriter::write(const float* left, const float* right, int count) {
    interleaved.resize(2 * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
    }
    if (sf_writef_float(file, interleaved.data(), count) != count)
        throw RenderError("cannot write " + path + ": " + sf_strerror(file));
}

void SoundWriter::commit() {
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
