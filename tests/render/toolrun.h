// Runs quillantrope-render as a separate process and reads the sound files it writes.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qltest {

struct ToolResult {
    int exitCode = -1; // 128 + signal number when the tool was killed
    std::string out;
    std::string err;
};

// Runs the tool with `args`. With `interruptWhen`, sends it SIGINT as soon as that holds.
ToolResult runTool(const std::vector<std::string>& args,
                   const std::function<bool()>& interruptWhen = nullptr);

struct Sound {
    int sampleRate = 0;
    int channels = 0;
    int format = 0;                 // libsndfile's format word
    std::vector<float> left, right; // mono files fill left only
    size_t frames() const { return left.size(); }
};

// A WAV of 32-bit floats, or of 16-bit samples when `pcm16` (the values should then be
// multiples of 1/32768, so that the file holds them exactly).
void writeSound(const std::filesystem::path& path, int sampleRate, const std::vector<float>& left,
                const std::vector<float>* right = nullptr, bool pcm16 = false);
Sound readSound(const std::filesystem::path& path);

// A fresh folder per test, removed afterwards.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder();
    ~ScratchFolder();
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    std::vector<std::string> entries() const;
};

} // namespace qltest
