// Soak run: minutes of audio through the plug-in's headless build, as fast as the machine goes,
// with a host's three threads at once. The audio thread processes blocks of every size from 1 to
// 4096 frames against a transport whose tempo changes now and then; an automation thread sets
// every parameter to a random value once per processed block; the user-interface thread keeps the
// editor open, idles it at 10 Hz of audio time (each idle is one refresh period on the headless
// build) and walks through all 40 programs. Every output sample must be finite and within 1.0,
// and the process's resident memory must stay flat after a warm-up.
//
// Usage: ql_soak [--minutes N] [--plugin PATH] [--seed N] [--rss-margin-kib N]
// Exit status 0 when every check held, 1 when one failed, 2 for a usage error.
#include "host/pluginhost.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace qltest;

namespace {

constexpr double kRate = 44100.0;
constexpr int kMaxBlock = 4096;
constexpr int kParams = 80;
constexpr int kPrograms = 40;
constexpr uint64_t kFramesPerTick = 4410; // the editor's 100 ms at 44.1 kHz
constexpr uint64_t kTicksPerProgram = 20; // a program change every 2 s of audio
constexpr uint64_t kTicksPerRssSample = 100;
constexpr uint64_t kTicksPerReport = 600;
// How far the audio may run ahead of the editor's idle calls, so the editor's 10 Hz stays 10 Hz
// of audio time when the user-interface thread is the slower one.
constexpr uint64_t kMaxLeadTicks = 10;

struct Options {
    double minutes = 10.0;
    std::string plugin;
    uint64_t seed = 1;
    long rssMarginKiB = 512;
};

const char* const kUsage =
    "usage: ql_soak [--minutes N] [--plugin PATH] [--seed N] [--rss-margin-kib N]\n"
    "  --minutes N          minutes of audio at 44.1 kHz (default 10; run as fast as possible)\n"
    "  --plugin PATH        the plug-in's headless build (default: the one this build made)\n"
    "  --seed N             seed of the random blocks, values, tempos and signals (default 1)\n"
    "  --rss-margin-kib N   growth of resident memory after the warm-up that fails the run\n"
    "                       (default 512)\n";

bool parse(int argc, char** argv, Options& o) {
#ifdef QL_SOAK_PLUGIN
    o.plugin = QL_SOAK_PLUGIN;
#endif
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        char* end = nullptr;
        if (arg == "--minutes") {
            o.minutes = std::strtod(value, &end);
            if (*end || !(o.minutes > 0.0) || o.minutes > 24 * 60) return false;
        } else if (arg == "--plugin") {
            o.plugin = value;
        } else if (arg == "--seed") {
            o.seed = std::strtoull(value, &end, 10);
            if (*end) return false;
        } else if (arg == "--rss-margin-kib") {
            o.rssMarginKiB = std::strtol(value, &end, 10);
            if (*end || o.rssMarginKiB < 0) return false;
        } else {
            return false;
        }
    }
    return !o.plugin.empty();
}

long residentKiB() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return -1;
    long size = 0, resident = -1;
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = -1;
    std::fclose(f);
    return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double mib(long kib) {
    return double(kib) / 1024.0;
}

// What the threads share. Counters only grow; the waits are C++20 atomic waits.
struct Shared {
    AEffect* effect = nullptr;
    uint64_t totalFrames = 0;
    std::atomic<uint64_t> frames{0};   // processed so far
    std::atomic<uint64_t> blocks{0};   // processed so far
    std::atomic<uint64_t> sweeps{0};   // automation sweeps done, one per block
    std::atomic<uint64_t> progress{0}; // bumped after every block and when the audio ends
    std::atomic<uint64_t> uiTicks{0};  // editor idles done; bumped once more on a stop
    std::atomic<bool> audioDone{false};
    std::atomic<bool> stop{false}; // the user-interface thread gave up
};

struct AudioReport {
    uint64_t blocks = 0;
    int smallestBlock = kMaxBlock, largestBlock = 0;
    uint64_t tempoChanges = 0;
    uint64_t badSamples = 0;
    float peak = 0.0f;
};

// The host's audio thread: its transport, its input signal and the checks on every output.
class AudioThread {
  public:
    AudioThread(Shared& shared, ScriptedHost& host, uint64_t seed)
        : shared(shared), host(host), rng(seed), inL(kMaxBlock), inR(kMaxBlock), outL(kMaxBlock),
          outR(kMaxBlock) {
        time.sampleRate = kRate;
        time.timeSigNumerator = 4;
        time.timeSigDenominator = 4;
        setTransport(120.0, 0);
    }

    void run() {
        uint64_t frames = 0;
        while (frames < shared.totalFrames && !waitForEditor(frames) && !waitForAutomation()) {
            const int n = int(std::min<uint64_t>(blockSize(), shared.totalFrames - frames));
            if (std::uniform_int_distribution<int>(0, 199)(rng) == 0) changeTempo();
            time.samplePos = double(frames);
            time.ppqPos = double(frames) / kRate * time.tempo / 60.0;
            fillInput(n, frames);
            float* in[2] = {inL.data(), inR.data()};
            float* out[2] = {outL.data(), outR.data()};
            shared.effect->processReplacing(shared.effect, in, out, n);
            check(n, frames);
            frames += uint64_t(n);
            ++report.blocks;
            report.smallestBlock = std::min(report.smallestBlock, n);
            report.largestBlock = std::max(report.largestBlock, n);
            shared.frames.store(frames);
            shared.blocks.store(report.blocks);
            shared.progress.fetch_add(1);
            shared.progress.notify_all();
        }
        shared.audioDone.store(true);
        shared.progress.fetch_add(1);
        shared.progress.notify_all();
    }

    AudioReport report;

  private:
    // True when the run is over; otherwise waits while the audio leads the editor by too much.
    bool waitForEditor(uint64_t frames) {
        for (;;) {
            const uint64_t ticks = shared.uiTicks.load();
            if (shared.stop.load()) return true;
            if (frames < (ticks + kMaxLeadTicks) * kFramesPerTick) return false;
            shared.uiTicks.wait(ticks);
        }
    }

    // True when the run is over; otherwise waits until the automation has swept the parameters
    // for every block but the last, which it may still be doing while the next one runs.
    bool waitForAutomation() {
        for (;;) {
            const uint64_t sweeps = shared.sweeps.load();
            if (shared.stop.load()) return true;
            if (sweeps + 1 >= report.blocks) return false;
            shared.sweeps.wait(sweeps);
        }
    }

    int blockSize() {
        // Uniform over 1..4096, with the smallest sizes a little more often: hosts with
        // sample-accurate automation split blocks down to a frame.
        if (std::uniform_int_distribution<int>(0, 9)(rng) == 0)
            return std::uniform_int_distribution<int>(1, 16)(rng);
        return std::uniform_int_distribution<int>(1, kMaxBlock)(rng);
    }

    // Mostly a host tempo between 20 and 300 BPM; sometimes only through audioMasterTempoAt, and
    // sometimes no time information at all (the effect's own tempo).
    void changeTempo() {
        const double tempo = std::uniform_real_distribution<double>(20.0, 300.0)(rng);
        setTransport(tempo, std::uniform_int_distribution<int>(0, 9)(rng));
        ++report.tempoChanges;
    }

    void setTransport(double tempo, int mode) {
        time.tempo = tempo;
        time.flags = kVstTransportPlaying | kVstPpqPosValid | kVstTimeSigValid;
        if (mode >= 2) time.flags |= kVstTempoValid;
        host.tempoAtAnswer = VstIntPtr(tempo * 10000.0);
        host.timeInfo = mode == 0 ? nullptr : &time;
    }

    // Scenes of half a second: silence, noise or a tone at levels up to twice full scale, or
    // clicks, so the gate, the ducker and the saturation all get their turn.
    void fillInput(int n, uint64_t start) {
        for (int i = 0; i < n; ++i) {
            if ((start + uint64_t(i)) % 22050 == 0) newScene();
            float l = 0.0f, r = 0.0f;
            switch (scene) {
            case 0:
                break;
            case 1:
                l = level * uniform(rng);
                r = level * uniform(rng);
                break;
            case 2:
                phase += step;
                if (phase > 6.283185307179586) phase -= 6.283185307179586;
                l = level * float(std::sin(phase));
                r = -l;
                break;
            default:
                l = r = ((start + uint64_t(i)) % 5512 == 0) ? level : 0.0f;
                break;
            }
            inL[size_t(i)] = l;
            inR[size_t(i)] = r;
        }
    }

    void newScene() {
        scene = std::uniform_int_distribution<int>(0, 3)(rng);
        level = std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
        if (std::uniform_int_distribution<int>(0, 7)(rng) == 0) level *= 2.0f;
        step =
            std::uniform_real_distribution<double>(20.0, 15000.0)(rng) * 6.283185307179586 / kRate;
    }

    void check(int n, uint64_t start) {
        for (const std::vector<float>* channel : {&outL, &outR})
            for (int i = 0; i < n; ++i) {
                const float x = (*channel)[size_t(i)];
                if (std::isfinite(x) && std::fabs(x) <= 1.0f) {
                    report.peak = std::max(report.peak, std::fabs(x));
                    continue;
                }
                if (report.badSamples++ < 10)
                    std::fprintf(stderr, "soak: FAILED: output %s at frame %llu is %g\n",
                                 channel == &outL ? "left" : "right",
                                 static_cast<unsigned long long>(start + uint64_t(i)), double(x));
            }
    }

    Shared& shared;
    ScriptedHost& host;
    std::mt19937_64 rng;
    std::uniform_real_distribution<float> uniform{-1.0f, 1.0f};
    std::vector<float> inL, inR, outL, outR;
    VstTimeInfo time{};
    int scene = 0;
    float level = 0.0f;
    double phase = 0.0, step = 0.0;
};

// The host's automation thread: every parameter, once per processed block, through the record,
// while the next block is processed. A value is 0 or 1 as often as in between, so the switches
// move too, and now and then out of range or not a number, which the effect must clamp.
struct AutomationThread {
    uint64_t sweeps = 0;

    void run(Shared& shared, uint64_t seed) {
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        std::uniform_int_distribution<int> kind(0, 99);
        for (;;) {
            for (;;) {
                const uint64_t seen = shared.progress.load();
                const bool done = shared.audioDone.load(); // read before the count it ends
                if (shared.blocks.load() > sweeps) break;
                if (done) return;
                shared.progress.wait(seen);
            }
            AEffect* e = shared.effect;
            for (int index = 0; index < kParams; ++index) {
                const int k = kind(rng);
                float value = unit(rng);
                if (k < 20)
                    value = 0.0f;
                else if (k < 40)
                    value = 1.0f;
                else if (k == 40)
                    value = 1.5f;
                else if (k == 41)
                    value = -0.25f;
                else if (k == 42)
                    value = std::nanf("");
                e->setParameter(e, index, value);
            }
            shared.sweeps.store(++sweeps);
            shared.sweeps.notify_all();
        }
    }
};

struct UiReport {
    uint64_t ticks = 0;
    uint64_t programChanges = 0;
    long rssOpen = 0, rssStart = 0, rssEnd = 0, rssMax = 0;
};

void printProgress(const Shared& shared, const UiReport& ui, double wallSeconds) {
    const double audioMinutes = double(shared.frames.load()) / kRate / 60.0;
    std::printf("soak: %6.2f of %.2f audio min, %7.1f s wall (%.0fx), %llu editor ticks, "
                "program %d, RSS %.1f MiB\n",
                audioMinutes, double(shared.totalFrames) / kRate / 60.0, wallSeconds,
                audioMinutes * 60.0 / std::max(wallSeconds, 1e-9),
                static_cast<unsigned long long>(ui.ticks),
                int(dispatch(shared.effect, effGetProgram)), mib(residentKiB()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    const auto wall = [&] { return std::chrono::duration<double>(Clock::now() - started).count(); };
    int failures = 0;
    const auto fail = [&](const std::string& what) {
        ++failures;
        std::fprintf(stderr, "soak: FAILED: %s\n", what.c_str());
    };

    PluginLibrary library(options.plugin.c_str());
    if (!library.main) {
        std::fprintf(stderr, "soak: cannot use %s: %s\n", options.plugin.c_str(),
                     library.error.c_str());
        return 1;
    }
    ScriptedHost host;
    host.record = false; // hours of requests, from two threads
    Shared shared;
    shared.totalFrames = uint64_t(std::llround(options.minutes * 60.0 * kRate));
    AudioThread audio(shared, host, options.seed * 3 + 1);

    shared.effect = library.main(ScriptedHost::callback);
    AEffect* e = shared.effect;
    if (!e) {
        std::fprintf(stderr, "soak: the plug-in made no effect\n");
        return 1;
    }
    dispatch(e, effOpen);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, float(kRate));
    dispatch(e, effSetBlockSize, 0, kMaxBlock);
    dispatch(e, effMainsChanged, 0, 1);
    int hostWindow = 0;
    if (dispatch(e, effEditOpen, 0, 0, &hostWindow) != 1) {
        fail("the editor did not open (is this the plug-in's headless build?)");
        dispatch(e, effClose);
        return 1;
    }

    UiReport ui;
    ui.rssOpen = residentKiB();
    const uint64_t totalTicks = shared.totalFrames / kFramesPerTick;
    // Warm-up: every program once over, or a twentieth of the run when that is shorter.
    const uint64_t warmupTicks =
        std::max<uint64_t>(1, std::min(kTicksPerProgram * kPrograms, totalTicks / 20));
    std::printf("soak: %.2f audio min at 44.1 kHz (%llu frames), seed %llu, plug-in %s\n",
                options.minutes, static_cast<unsigned long long>(shared.totalFrames),
                static_cast<unsigned long long>(options.seed), options.plugin.c_str());
    std::fflush(stdout);

    AutomationThread automation;
    std::thread audioThread([&] { audio.run(); });
    std::thread automationThread([&] { automation.run(shared, options.seed * 3 + 2); });

    // The user-interface thread: the editor's idle calls at 10 Hz of audio time, program changes,
    // the memory samples.
    int program = 0;
    for (uint64_t tick = 1; tick <= totalTicks; ++tick) {
        const uint64_t due = tick * kFramesPerTick;
        for (;;) {
            const uint64_t seen = shared.progress.load();
            if (shared.frames.load() >= due || shared.audioDone.load()) break;
            shared.progress.wait(seen);
        }
        if (shared.frames.load() < due) break; // the audio ended early
        dispatch(e, effEditIdle);
        ui.ticks = tick;
        shared.uiTicks.store(tick);
        shared.uiTicks.notify_all();

        if (tick % kTicksPerProgram == 0) {
            program = (program + 1) % kPrograms;
            dispatch(e, effSetProgram, 0, program);
            ++ui.programChanges;
            if (dispatch(e, effGetProgram) != program)
                fail("effSetProgram " + std::to_string(program) + " did not take");
        }
        if (tick == warmupTicks) ui.rssStart = ui.rssMax = residentKiB();
        if (tick > warmupTicks && tick % kTicksPerRssSample == 0)
            ui.rssMax = std::max(ui.rssMax, residentKiB());
        if (tick % kTicksPerReport == 0) printProgress(shared, ui, wall());
    }
    ui.rssEnd = residentKiB();
    ui.rssMax = std::max(ui.rssMax, ui.rssEnd);
    shared.stop.store(true);
    shared.uiTicks.fetch_add(1);
    shared.uiTicks.notify_all();
    audioThread.join();
    automationThread.join();

    ERect* rect = nullptr;
    dispatch(e, effEditGetRect, 0, 0, &rect);
    if (!rect || rect->bottom != 369 || rect->right != 600)
        fail("the editor's rectangle changed while it was open");
    dispatch(e, effEditClose);
    dispatch(e, effMainsChanged, 0, 0);
    if (dispatch(e, effClose) != 1) fail("effClose did not answer 1");
    if (!library.close()) fail("the library did not unload");
    const double wallSeconds = wall();

    const AudioReport& a = audio.report;
    if (shared.frames.load() != shared.totalFrames)
        fail("the audio stopped after " + std::to_string(shared.frames.load()) + " frames");
    if (ui.ticks != totalTicks) fail("the editor idled " + std::to_string(ui.ticks) + " times");
    if (automation.sweeps != a.blocks)
        fail(std::to_string(automation.sweeps) + " automation sweeps for " +
             std::to_string(a.blocks) + " blocks");
    if (a.badSamples)
        fail(std::to_string(a.badSamples) + " output samples not finite or above 1.0");
    if (ui.rssStart <= 0 || ui.rssEnd <= 0)
        fail("resident memory could not be read");
    else if (ui.rssMax - ui.rssStart > options.rssMarginKiB)
        fail("resident memory grew by " + std::to_string(ui.rssMax - ui.rssStart) +
             " KiB after the warm-up (allowed " + std::to_string(options.rssMarginKiB) + ")");

    const double audioSeconds = double(shared.frames.load()) / kRate;
    std::printf("soak: audio         %.2f min (%llu frames at 44.1 kHz)\n", audioSeconds / 60.0,
                static_cast<unsigned long long>(shared.frames.load()));
    std::printf("soak: wall time     %.1f s (%.0fx real time)\n", wallSeconds,
                audioSeconds / std::max(wallSeconds, 1e-9));
    std::printf("soak: blocks        %llu (sizes %d..%d), %llu tempo changes\n",
                static_cast<unsigned long long>(a.blocks), a.smallestBlock, a.largestBlock,
                static_cast<unsigned long long>(a.tempoChanges));
    std::printf("soak: programs      %llu changes (%.1f cycles of %d)\n",
                static_cast<unsigned long long>(ui.programChanges),
                double(ui.programChanges) / kPrograms, kPrograms);
    std::printf("soak: automation    %llu events (%llu sweeps of %d parameters, one per block)\n",
                static_cast<unsigned long long>(automation.sweeps * kParams),
                static_cast<unsigned long long>(automation.sweeps), kParams);
    std::printf("soak: editor ticks  %llu (10 Hz of audio time)\n",
                static_cast<unsigned long long>(ui.ticks));
    std::printf("soak: output        peak %.4f, %llu bad samples\n", double(a.peak),
                static_cast<unsigned long long>(a.badSamples));
    std::printf(
        "soak: RSS           %.1f MiB at open, %.1f MiB after warm-up, %.1f MiB at the end, "
        "%.1f MiB max (growth %+ld KiB, allowed %ld)\n",
        mib(ui.rssOpen), mib(ui.rssStart), mib(ui.rssEnd), mib(ui.rssMax), ui.rssMax - ui.rssStart,
        options.rssMarginKiB);
    std::printf("soak: %s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
