#include "options.h"

#include "paramnames.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace qlrender {

namespace {

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + cost});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::optional<int> parseInteger(const std::string& text) {
    const auto number = parseNumber(text);
    if (!number || *number != std::floor(*number) || std::fabs(*number) > 1e9) return {};
    return static_cast<int>(*number);
}

ParameterSetting parseParameterSetting(const std::string& text) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        throw UsageError("--param expects NAME=VALUE, got '" + text + "'");
    const std::string name = text.substr(0, equals);
    const std::string valueText = text.substr(equals + 1);

    int index = -1;
    for (const auto& p : kNamedParameters)
        if (equalsIgnoringCase(name, p.name)) index = p.index;
    // Spare parameters have no name; they can still be set by number.
    if (index < 0 && std::isdigit(static_cast<unsigned char>(name[0]))) {
        const auto number = parseInteger(name);
        if (!number || *number < 0 || *number >= ql::kNumParams)
            throw UsageError("--param: parameter number " + name + " is outside 0.." +
                             std::to_string(ql::kNumParams - 1));
        index = *number;
    }
    if (index < 0) {
        std::vector<std::string> names;
        for (const auto& p : kNamedParameters)
            names.emplace_back(p.name);
        throw UsageError("--param: unknown parameter '" + name + "'; did you mean '" +
                         closestMatch(name, names) + "'? (--list-params shows them all)");
    }
    const auto value = parseNumber(valueText);
    if (!value)
        throw UsageError("--param " + name + ": '" + valueText +
                         "' is not a number (values are normalised, 0 to 1)");
    if (*value < 0.0 || *value > 1.0)
        throw UsageError("--param " + name + ": " + valueText +
                         " is outside 0..1 (values are normalised)");
    return {index, static_cast<float>(*value), name};
}

} // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

std::string closestMatch(std::string_view word, const std::vector<std::string>& candidates) {
    std::string best;
    size_t bestDistance = SIZE_MAX;
    for (const auto& candidate : candidates) {
        const size_t d = editDistance(word, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    return best;
}

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return {};
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) return {};
    return value;
}

std::string usageText() {
    return R"(Usage: quillantrope-render [INPUT] -o OUTPUT.wav [options]

Renders a sound file through the Quillantrope plug-in, loaded the way a VST 2 host loads it.
Without INPUT a built-in demo (a few bars of short percussive hits at the host tempo) is rendered.
INPUT may be any format libsndfile reads; a mono input feeds both plug-in inputs.

Output:
  -o, --output FILE      the WAV file to write (never the input file)
  --bits 16|24|32f       sample format of the output (default 32f: 32-bit float)
  --tail SECONDS         audio rendered after the input ends (default: until the echoes
                         have fallen below -90 dBFS, at most 30 s)

Plug-in settings (the program is loaded first, then every --param in order):
  --program N|NAME       program number (0-39) or name, e.g. "INSERT Mono 4/16"
  --param NAME=VALUE     set a parameter to a normalised value 0..1; NAME as in --list-params
                         (e.g. DryLevel, LeftDelayTime) or a parameter number; repeatable
  --list-programs        print the programs and exit (renders too when -o is given)
  --list-params          print index, name, value and display text of every parameter

Host:
  --tempo BPM            tempo the host reports (default 120)
  --tempo-at             report the tempo through audioMasterTempoAt, not the time record
  --no-host-time         answer no time information: the plug-in runs on its manual tempo
  --sample-rate HZ       sample rate of the demo (default 44100; an input keeps its own)
  --block-size N         frames per processing call (default 512)
  --format FORMAT        the plug-in format to host: vst2 (the default), clap, lv2 or vst3;
                         without it, a --plugin ending in .clap, .lv2 or .vst3 says it
  --plugin PATH          the plug-in: a VST 2 or CLAP library, an LV2 or VST3 bundle folder
                         (default: Quillantrope.so, .clap, .lv2 or .vst3 beside this tool, else
                         the one installed in ~/.vst, /usr/local/lib/vst or /usr/lib/vst, or the
                         format's own folders (~/.clap, ...), searched in that order on Linux;
                         the summary says which one was used)

Other:
  --quiet                print nothing but errors
  --timing               also print where the time went (plug-in, file I/O, host)
  -h, --help             this text
)";
}

Options parseCommandLine(const std::vector<std::string>& args) {
    Options options;
    bool optionsEnded = false;
    std::vector<std::string> positional;

    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // --name=value is the same as --name value.
        std::optional<std::string> attached;
        if (arg.rfind("--", 0) == 0) {
            const size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                attached = arg.substr(equals + 1);
                arg.resize(equals);
            }
        }
        auto value = [&]() -> std::string {
            if (attached) return *attached;
            if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
            return args[++i];
        };
        auto flag = [&]() {
            if (attached) throw UsageError(arg + " takes no value");
            return true;
        };

        if (arg == "-o" || arg == "--output") {
            options.output = value();
            if (options.output.empty()) throw UsageError("the output file name is empty");
        } else if (arg == "--bits") {
            const std::string bits = value();
            if (bits == "16")
                options.format = SampleFormat::Pcm16;
            else if (bits == "24")
                options.format = SampleFormat::Pcm24;
            else if (bits == "32f" || bits == "32")
                options.format = SampleFormat::Float32;
            else
                throw UsageError("--bits must be 16, 24 or 32f, not '" + bits + "'");
        } else if (arg == "--tail") {
            const std::string text = value();
            const auto seconds = parseNumber(text);
            if (!seconds || *seconds < 0.0 || *seconds > 3600.0)
                throw UsageError("--tail expects seconds between 0 and 3600, not '" + text + "'");
            options.tailSeconds = *seconds;
        } else if (arg == "--program") {
            options.program = value();
            if (options.program.empty()) throw UsageError("--program needs a number or a name");
        } else if (arg == "--param") {
            options.parameters.push_back(parseParameterSetting(value()));
        } else if (arg == "--list-programs") {
            options.listPrograms = flag();
        } else if (arg == "--list-params") {
            options.listParams = flag();
        } else if (arg == "--tempo") {
            const std::string text = value();
            const auto bpm = parseNumber(text);
            if (!bpm || *bpm <= 0.0 || *bpm > 1000.0)
                throw UsageError("--tempo expects beats per minute above 0 and up to 1000, not '" +
                                 text + "'");
            options.tempo = *bpm;
            options.tempoGiven = true;
        } else if (arg == "--tempo-at") {
            options.tempoAt = flag();
        } else if (arg == "--no-host-time") {
            options.noHostTime = flag();
        } else if (arg == "--sample-rate") {
            const std::string text = value();
            const auto rate = parseInteger(text);
            if (!rate || *rate < 8000 || *rate > 384000)
                throw UsageError("--sample-rate expects a whole number of hertz from 8000 to "
                                 "384000, not '" +
                                 text + "'");
            options.sampleRate = *rate;
        } else if (arg == "--block-size") {
            const std::string text = value();
            const auto frames = parseInteger(text);
            if (!frames || *frames < 1 || *frames > 65536)
                throw UsageError("--block-size expects a whole number of frames from 1 to 65536, "
                                 "not '" +
                                 text + "'");
            options.blockSize = *frames;
        } else if (arg == "--format") {
            const std::string spelled = value();
            PluginFormat format{};
            if (!parseFormat(spelled, format))
                throw UsageError("--format " + spelled +
                                 ": the formats are vst2, clap, lv2 and vst3");
            options.pluginFormat = format;
        } else if (arg == "--plugin") {
            options.plugin = value();
            if (options.plugin.empty()) throw UsageError("--plugin needs a path");
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = flag();
        } else if (arg == "--timing") {
            options.timing = flag();
        } else if (arg == "-h" || arg == "--help") {
            options.help = flag();
        } else {
            throw UsageError("unknown option '" + arg + "'");
        }
    }

    if (options.help) return options;
    if (positional.size() > 1)
        throw UsageError("more than one input file given ('" + positional[0] + "', '" +
                         positional[1] + "'); the output goes after -o");
    if (!positional.empty()) options.input = positional[0];
    if (options.noHostTime && options.tempoAt)
        throw UsageError("--tempo-at and --no-host-time contradict each other");
    if (options.noHostTime && options.tempoGiven)
        throw UsageError("--tempo has no effect with --no-host-time (the plug-in then runs on its "
                         "ManualTempo parameter)");
    if (options.output.empty() && !options.listPrograms && !options.listParams)
        throw UsageError("no output file: give one with -o OUTPUT.wav");
    return options;
}

} // namespace qlrender
