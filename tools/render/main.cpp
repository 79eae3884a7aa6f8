// quillantrope-render: an offline plug-in host (VST 2, and CLAP, LV2 or VST3 where built in)
// that renders a sound file (or a built-in demo) through the Quillantrope plug-in and writes the
// result as a WAV file.
#include "audiofile.h"
#include "demo.h"
#include "echoes.h"
#include "formathost.h"
#include "options.h"
#include "paramnames.h"
#include "platform.h"
#include "progress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace qlrender {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDemoSampleRate = 44100;
constexpr double kTailCapSeconds = 30.0;
constexpr double kSilenceThreshold = 3.1622776601683795e-5; // -90 dBFS

volatile std::sig_atomic_t gInterrupted = 0;
// The first interrupt stops the render cleanly; a second one ends the process at once.
extern "C" void onInterrupt(int signal) {
    gInterrupted = 1;
    std::signal(signal, SIG_DFL);
}

bool loud(float sample) {
    return std::fabs(sample) >= kSilenceThreshold;
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

// The first plug-in found where pluginSearchFolders() looks; empty when there is none, with
// `searched` listing the folders for the error.
std::string defaultPluginPath(PluginFormat format, std::string& searched) {
    // VST 2 and CLAP plug-ins are files, LV2 and VST3 ones bundle folders.
    const bool bundle = format == PluginFormat::Lv2 || format == PluginFormat::Vst3;
    for (const auto& folder : pluginSearchFolders(format)) {
        const fs::path candidate = fs::path(folder) / pluginFileName(format);
        std::error_code ec;
        if (bundle ? fs::is_directory(candidate, ec) : fs::is_regular_file(candidate, ec))
            return candidate.string();
        searched += (searched.empty() ? "" : ", ") + folder;
    }
    return {};
}

int resolveProgram(FormatHost& host, const std::string& spelled) {
    const int count = host.numPrograms();
    if (const auto number = parseNumber(spelled)) {
        if (*number != std::floor(*number) || *number < 0 || *number >= count)
            throw UsageError("--program " + spelled + ": programs are numbered 0 to " +
                             std::to_string(count - 1));
        return static_cast<int>(*number);
    }
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(host.programName(i));
        if (equalsIgnoringCase(names.back(), spelled)) return i;
    }
    throw UsageError("--program: no program is named '" + spelled + "'; did you mean '" +
                     closestMatch(spelled, names) + "'? (--list-programs shows them all)");
}

void listPrograms(FormatHost& host) {
    const int current = host.currentProgram();
    for (int i = 0; i < host.numPrograms(); ++i)
        std::printf("%2d%s %s\n", i, i == current ? "*" : " ", host.programName(i).c_str());
}

void listParameters(FormatHost& host) {
    std::printf("%-5s %-22s %-10s %s\n", "index", "name", "value", "display");
    for (int i = 0; i < host.numParams(); ++i) {
        const char* name = parameterName(i);
        std::printf("%5d %-22s %-10.6f %s %s\n", i, name ? name : "(spare)",
                    static_cast<double>(host.parameter(i)), host.parameterDisplay(i).c_str(),
                    host.parameterLabel(i).c_str());
    }
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string decibels(double peak) {
    if (peak <= 0.0) return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(peak));
    return text;
}

// Where the input comes from: a file, or the demo held in memory.
struct Source {
    std::unique_ptr<SoundReader> reader;
    std::vector<float> demo;
    size_t demoPos = 0;

    // The next `count` frames, in place where they lie whole, else copied into the stage
    // buffers (see SoundReader::next). The demo is mono: both channels read the same samples.
    int next(int count, float* stageLeft, float* stageRight, const float*& left,
             const float*& right) {
        if (reader) return reader->next(count, stageLeft, stageRight, left, right);
        const int n = static_cast<int>(std::min<size_t>(count, demo.size() - demoPos));
        if (n == count) {
            left = right = demo.data() + demoPos;
        } else {
            std::copy_n(demo.data() + demoPos, n, stageLeft);
            std::copy_n(demo.data() + demoPos, n, stageRight);
            left = stageLeft;
            right = stageRight;
        }
        demoPos += static_cast<size_t>(n);
        return n;
    }
};

int run(const Options& options) {
    // The output is written beside its final name first; neither name may be the input's.
    if (!options.input.empty() && !options.output.empty()) {
        if (sameFile(options.input, options.output))
            throw UsageError("the output " + options.output +
                             " is the input file; choose another output (the input is never "
                             "overwritten)");
        if (sameFile(options.input, options.output + ".partial"))
            throw UsageError("the input is " + options.output + ".partial, where the output " +
                             options.output +
                             " is written before it is complete; choose "
                             "another output");
    }

    FileThread files; // before the reader and the writer, which use it
    Source source;
    int sampleRate = options.sampleRate ? options.sampleRate : kDemoSampleRate;
    if (!options.input.empty()) {
        source.reader = std::make_unique<SoundReader>(options.input, files);
        if (options.sampleRate && options.sampleRate != source.reader->sampleRate())
            throw UsageError("--sample-rate " + std::to_string(options.sampleRate) + ": " +
                             options.input + " is at " +
                             std::to_string(source.reader->sampleRate()) +
                             " Hz and the tool does not resample");
        sampleRate = source.reader->sampleRate();
    }

    const PluginFormat format = options.pluginFormat.value_or(
        options.plugin.empty() ? PluginFormat::Vst2 : formatOfPath(options.plugin));
    if (options.tempoAt && format != PluginFormat::Vst2)
        throw UsageError("--tempo-at is a VST 2 request; the " + std::string(formatName(format)) +
                         " host gives its tempo in its transport");
    std::string searched;
    const std::string pluginPath =
        options.plugin.empty() ? defaultPluginPath(format, searched) : options.plugin;
    if (pluginPath.empty())
        throw RenderError("no " + pluginFileName(format) + " in " + searched +
                          " (build the plug-in, install it, or give --plugin PATH)");
    {
        std::error_code ec;
        if (!fs::exists(pluginPath, ec)) throw RenderError("no plug-in at " + pluginPath);
    }
    const bool hostTime = !options.noHostTime;
    const auto loadStart = Clock::now();
    const std::unique_ptr<FormatHost> hosted =
        openFormatHost(format, pluginPath, sampleRate, options.blockSize,
                       HostTime{hostTime, options.tempoAt, options.tempo});
    FormatHost& host = *hosted;
    const double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();

    if (!options.program.empty()) host.setProgram(resolveProgram(host, options.program));
    for (const auto& setting : options.parameters) {
        if (setting.index >= host.numParams())
            throw UsageError("--param " + setting.spelled + ": the plug-in has only " +
                             std::to_string(host.numParams()) + " parameters");
        host.setParameter(setting.index, setting.value);
    }
    if (options.listPrograms) listPrograms(host);
    if (options.listParams) listParameters(host);
    if (options.output.empty()) return 0;

    // The plug-in's lines hold one whole note at most; refuse a tempo that would overrun them.
    const TempoInUse inUse = tempoInUse(host, hostTime, options.tempo);
    const double tempo = inUse.bpm;
    const double slowest = 240.0 * sampleRate / static_cast<double>(kDelayLineFrames);
    if (!(tempo >= slowest))
        throw RenderError("the plug-in would run at " + number(tempo) + " BPM" +
                          (inUse.manual ? " (its ManualTempo parameter)" : "") +
                          ", slower than the " + number(slowest) +
                          " BPM that its delay lines hold at " + std::to_string(sampleRate) +
                          " Hz");

    if (!source.reader) source.demo = synthesiseDemo(sampleRate, tempo);
    const int64_t inputFrames =
        source.reader ? source.reader->frames() : static_cast<int64_t>(source.demo.size());
    const bool autoTail = !options.tailSeconds;
    const int64_t tailLimit = static_cast<int64_t>(
        std::llrint((autoTail ? kTailCapSeconds : *options.tailSeconds) * sampleRate));
    const int64_t quietNeeded = longestEchoPath(host, sampleRate, tempo) + options.blockSize;

    // From here an interrupt must not leave a partial file behind.
    gInterrupted = 0;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const int block = options.blockSize;
    SoundWriter writer(options.output, options.format, sampleRate, block, files);

    // The plug-in reads its input where the reader holds it and writes straight into the
    // writer's chunk: the stage buffers serve only the seams between chunks and the tail.
    std::vector<float> inL(block), inR(block);
    int64_t rendered = 0;
    int64_t tailFrames = 0;
    int64_t quietRun = 0;
    bool inputDone = false;
    bool tailQuiet = false;

    ProgressBar progress(!options.quiet && stderrIsTerminal(), inputFrames + tailLimit, sampleRate);
    host.setMeasuring(options.timing);
    const double cpuStart = processCpuSeconds();
    const auto renderStart = Clock::now();
    host.start();
    while (true) {
        if (gInterrupted) throw RenderError("interrupted; " + options.output + " not written");
        int got = 0;
        const float* inLeft = inL.data();
        const float* inRight = inR.data();
        if (!inputDone) {
            got = source.next(block, inL.data(), inR.data(), inLeft, inRight);
            if (got < block) inputDone = true; // a short read always lands in the stage buffers
        }
        // Past the input the block is silence for the echoes to ring out in, up to the limit.
        const int frames = static_cast<int>(
            std::min<int64_t>(block, got + std::max<int64_t>(0, tailLimit - tailFrames)));
        if (frames == 0) break;
        std::fill(inL.begin() + got, inL.begin() + frames, 0.0f);
        std::fill(inR.begin() + got, inR.begin() + frames, 0.0f);

        float* outL = nullptr;
        float* outR = nullptr;
        writer.reserve(frames, outL, outR);
        // The plug-in only reads its inputs; the record's type is not const.
        float* const inputs[2] = {const_cast<float*>(inLeft), const_cast<float*>(inRight)};
        float* const outputs[2] = {outL, outR};
        host.process(inputs, outputs, frames);
        writer.advance(frames);

        if (got < frames) {
            int lastLoud = frames - 1;
            while (lastLoud >= got && !loud(outL[lastLoud]) && !loud(outR[lastLoud]))
                --lastLoud;
            quietRun = lastLoud >= got ? frames - 1 - lastLoud : quietRun + frames - got;
        }
        rendered += frames;
        tailFrames += frames - got;
        progress.update(rendered);
        if (inputDone && autoTail && quietRun >= quietNeeded) {
            tailQuiet = true;
            break;
        }
        if (inputDone && tailFrames >= tailLimit) break;
    }
    writer.commit();
    progress.finish();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    const double renderSeconds = std::chrono::duration<double>(Clock::now() - renderStart).count();
    const double renderCpu = processCpuSeconds() - cpuStart;

    if (options.quiet) return 0;
    std::printf("plug-in: %s (%s)\n", pluginPath.c_str(), formatName(format));
    const double audioSeconds = static_cast<double>(rendered) / sampleRate;
    const double tailSeconds = static_cast<double>(tailFrames) / sampleRate;
    if (autoTail)
        std::printf("tail: %.2f s %s\n", tailSeconds,
                    tailQuiet ? "(until the echoes fell below -90 dBFS)"
                              : "(the 30 s limit; the echoes had not yet fallen below -90 dBFS)");
    std::printf("wrote %s: %lld frames, %.2f s at %d Hz (%s stereo WAV), %.0fx real time, "
                "peak L %s R %s, %s\n",
                options.output.c_str(), static_cast<long long>(rendered), audioSeconds, sampleRate,
                formatDescription(options.format),
                renderSeconds > 0.0 ? audioSeconds / renderSeconds : 0.0,
                decibels(writer.peak(0)).c_str(), decibels(writer.peak(1)).c_str(),
                writer.clippedSamples()
                    ? (std::to_string(writer.clippedSamples()) + " samples clipped").c_str()
                    : "no clipping");
    if (options.timing) {
        // The plug-in's share is the time inside the record's calls less the host callbacks it
        // makes from there; the rest of the render's wall time is the tool's own overhead. The
        // file transfers run on background threads: their cost shows as processor time beyond
        // the wall time, and as waits when they fall behind.
        const double plugin = host.pluginSeconds() - host.callbackSeconds();
        const double overhead = renderSeconds - plugin;
        const double readWait = source.reader ? source.reader->waitedSeconds() : 0.0;
        std::printf("timing: load %.3f s; render %.3f s = plug-in %.3f s (%.1f %%) + tool "
                    "overhead %.3f s (%.1f %%: buffers, host callbacks %.4f s, waits for reads "
                    "%.3f s and writes %.3f s); processor time %.3f s with the file threads\n",
                    loadSeconds, renderSeconds, plugin, 100.0 * plugin / renderSeconds, overhead,
                    100.0 * overhead / renderSeconds, host.callbackSeconds(), readWait,
                    writer.waitedSeconds(), renderCpu);
    }
    return 0;
}

} // namespace
} // namespace qlrender

int main(int argc, char** argv) {
    using namespace qlrender;
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const Options options = parseCommandLine(args);
        if (options.help) {
            std::fputs(usageText().c_str(), stdout);
            return 0;
        }
        return run(options);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "quillantrope-render: error: %s\nTry 'quillantrope-render --help'.\n",
                     e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillantrope-render: error: %s\n", e.what());
        return gInterrupted ? 130 : 1;
    }
}
