// The command line of quillantrope-render.
#pragma once

#include "formathost.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qlrender {

// A mistake on the command line: reported with the usage hint, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Any other failure: reported as it is, exit status 1.
struct RenderError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class SampleFormat { Pcm16, Pcm24, Float32 };

struct ParameterSetting {
    int index;
    float value;
    std::string spelled; // as the user typed it, for messages
};

struct Options {
    std::string input; // empty: the built-in demo
    std::string output;
    SampleFormat format = SampleFormat::Float32;
    std::string program; // number or name; empty keeps the plug-in's program 0
    std::vector<ParameterSetting> parameters;
    double tempo = 120.0;
    bool tempoGiven = false;
    bool noHostTime = false;
    bool tempoAt = false;
    int sampleRate = 0; // 0: the input's rate, or 44100 for the demo
    int blockSize = 512;
    std::optional<double> tailSeconds; // none: until the echoes have died away
    bool listPrograms = false;
    bool listParams = false;
    std::string plugin; // empty: the first one found where pluginSearchFolders() looks
    std::optional<PluginFormat> pluginFormat; // none: from --plugin's suffix, else VST 2
    bool quiet = false;
    bool timing = false;
    bool help = false;
};

Options parseCommandLine(const std::vector<std::string>& args);
std::string usageText();

// The candidate closest to `word` (case-insensitive edit distance), for "did you mean" hints.
std::string closestMatch(std::string_view word, const std::vector<std::string>& candidates);

bool equalsIgnoringCase(std::string_view a, std::string_view b);

// A whole-text number: no trailing characters, finite. Empty when the text is not one.
std::optional<double> parseNumber(const std::string& text);

} // namespace qlrender
