// quillantrope-render run as a process, the way a user runs it: the demo, echo timing through
// the host's tempo paths, the listings, the output formats, and every error the tool reports.
#include "toolrun.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace qltest {
namespace {

namespace fs = std::filesystem;

constexpr int kRate = 44100;

// Program 0, "SEND PingPong 6/16": both delay times 6/16, offsets on, the left one at 5/16
// (half a delay early), the right one at 8/16 (none); feedback 0.4 on both sides.
constexpr float kDelayTime = 0.375f;
constexpr float kLeftInitial = 0.3125f;
constexpr float kRightInitial = 0.5f;
constexpr float kFeedback = 0.4f;

// Frames from an input sample to its first echo on each side, by the engine's rounding:
// to the nearest frame, halves to even.
struct EchoFrames {
    int64_t left, right, delay;
};

EchoFrames pingPongFrames(double tempo, double sampleRate) {
    const double wholeNote = 240.0 / tempo * sampleRate;
    auto frames = [&](double wholeNotes) {
        return static_cast<int64_t>(std::nearbyint(wholeNotes * wholeNote));
    };
    const int64_t delay = frames(kDelayTime);
    return {delay + frames(kLeftInitial - 0.5), delay + frames(kRightInitial - 0.5), delay};
}

float peakOf(const std::vector<float>& samples, size_t from = 0, size_t to = SIZE_MAX) {
    float peak = 0.0f;
    for (size_t i = from; i < std::min(to, samples.size()); ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

class Render : public ::testing::Test {
  protected:
    ScratchFolder dir;

    // A mono file of `frames` frames with one sample of `amplitude` at frame `at`.
    fs::path impulse(int64_t frames, int64_t at, float amplitude = 0.5f) {
        std::vector<float> samples(static_cast<size_t>(frames), 0.0f);
        samples[static_cast<size_t>(at)] = amplitude;
        const fs::path path = dir / "impulse.wav";
        writeSound(path, kRate, samples);
        return path;
    }

    // Checks the first echoes of an impulse of `amplitude` at frame `at`: silence before each,
    // the impulse itself at each first echo, the left second echo one delay later at the
    // feedback level.
    static void expectPingPong(const Sound& s, int64_t at, EchoFrames e, float amplitude) {
        const auto l = static_cast<size_t>(at + e.left), r = static_cast<size_t>(at + e.right);
        const auto l2 = static_cast<size_t>(at + e.left + e.delay);
        ASSERT_GT(s.frames(), l2);
        EXPECT_EQ(peakOf(s.left, 0, l), 0.0f) << "left output before its first echo";
        EXPECT_EQ(s.left[l], amplitude) << "left first echo at frame " << l;
        EXPECT_EQ(peakOf(s.left, l + 1, l2), 0.0f) << "left output between its echoes";
        EXPECT_FLOAT_EQ(s.left[l2], amplitude * kFeedback) << "left second echo at " << l2;
        EXPECT_EQ(peakOf(s.right, 0, r), 0.0f) << "right output before its first echo";
        EXPECT_EQ(s.right[r], amplitude) << "right first echo at frame " << r;
    }
};

TEST_F(Render, DemoIsWrittenAndAudible) {
    const fs::path out = dir / "demo.wav";
    const ToolResult run = runTool({"-o", out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("wrote " + out.string()), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("tail: "), std::string::npos) << run.out;
    const Sound s = readSound(out);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.sampleRate, kRate);
    EXPECT_EQ(s.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    // Program 0 sends no dry signal: whatever is heard is echoes, on both sides.
    EXPECT_GT(peakOf(s.left), 0.01f);
    EXPECT_GT(peakOf(s.right), 0.01f);
}

TEST_F(Render, ImpulseThroughProgramZeroAt120BpmPingPongs) {
    const int64_t at = 1000;
    const fs::path out = dir / "out.wav";
    const ToolResult run = runTool({impulse(kRate, at).string(), "-o", out.string(), "--program",
                                    "0", "--tempo", "120", "--tail", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const EchoFrames e = pingPongFrames(120.0, kRate);
    // About 3/16 and 6/16 of the 88200-frame whole note; 3/16 lands on a half frame.
    EXPECT_EQ(e.left, 16537);
    EXPECT_EQ(e.right, 33075);
    expectPingPong(readSound(out), at, e, 0.5f);
}

TEST_F(Render, WithoutHostTimeThePluginRunsOnItsManualTempo) {
    // The impulse far from the file's start, so that the echoes are timed from where it lies.
    const int64_t at = 40000;
    const fs::path out = dir / "out.wav";
    const ToolResult run =
        runTool({impulse(kRate, at).string(), "-o", out.string(), "--no-host-time", "--tail", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // ManualTempo 0.14 in thousands of beats per minute: 140 BPM.
    expectPingPong(readSound(out), at, pingPongFrames(std::nearbyint(0.14f * 1000.0), kRate), 0.5f);
}

TEST_F(Render, TempoThroughTempoAtEqualsTempoInTheTimeRecord) {
    const int64_t at = 2048;
    const fs::path input = impulse(kRate, at);
    const fs::path viaFlag = dir / "flag.wav", viaTempoAt = dir / "tempoat.wav";
    ASSERT_EQ(
        runTool({input.string(), "-o", viaFlag.string(), "--tempo", "100", "--tail", "2"}).exitCode,
        0);
    ASSERT_EQ(runTool({input.string(), "-o", viaTempoAt.string(), "--tempo", "100", "--tempo-at",
                       "--tail", "2"})
                  .exitCode,
              0);
    const Sound flag = readSound(viaFlag), tempoAt = readSound(viaTempoAt);
    EXPECT_EQ(flag.left, tempoAt.left);
    EXPECT_EQ(flag.right, tempoAt.right);
    expectPingPong(tempoAt, at, pingPongFrames(100.0, kRate), 0.5f);
}

TEST_F(Render, StereoInputKeepsItsSidesAndMonoFeedsBoth) {
    // "SEND Mono 2/16": no offsets, equal delays; the lines never cross.
    std::vector<float> left(4000, 0.0f), right(4000, 0.0f);
    left[10] = 0.25f;
    writeSound(dir / "stereo.wav", kRate, left, &right);
    const fs::path out = dir / "out.wav";
    ASSERT_EQ(runTool({(dir / "stereo.wav").string(), "-o", out.string(), "--program",
                       "SEND Mono 2/16", "--tail", "1"})
                  .exitCode,
              0);
    const Sound s = readSound(out);
    const auto delay = static_cast<size_t>(std::nearbyint(0.125 * 88200.0));
    EXPECT_EQ(s.left[10 + delay], 0.25f);
    EXPECT_EQ(peakOf(s.right), 0.0f);

    writeSound(dir / "mono.wav", kRate, left);
    ASSERT_EQ(runTool({(dir / "mono.wav").string(), "-o", out.string(), "--program",
                       "SEND Mono 2/16", "--tail", "1"})
                  .exitCode,
              0);
    const Sound m = readSound(out);
    EXPECT_EQ(m.left[10 + delay], 0.25f);
    EXPECT_EQ(m.right[10 + delay], 0.25f);

    // The same mono input as 16-bit samples (read another way) renders the same.
    writeSound(dir / "mono16.wav", kRate, left, nullptr, true);
    ASSERT_EQ(runTool({(dir / "mono16.wav").string(), "-o", out.string(), "--program",
                       "SEND Mono 2/16", "--tail", "1"})
                  .exitCode,
              0);
    const Sound m16 = readSound(out);
    EXPECT_TRUE(m16.left == m.left);
    EXPECT_TRUE(m16.right == m.right);
}

TEST_F(Render, DefaultTailRunsUntilTheEchoesFallBelowMinus90Db) {
    const int64_t at = 100;
    const fs::path out = dir / "out.wav";
    const ToolResult run = runTool({impulse(200, at).string(), "-o", out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("until the echoes fell below -90 dBFS"), std::string::npos) << run.out;
    // Each round trip scales the echo by the feedback; the last one at or above -90 dBFS is on
    // the right, whose echoes come whole delays after the input.
    const EchoFrames e = pingPongFrames(120.0, kRate);
    float level = 0.5f;
    int64_t lastAudible = 0;
    for (int64_t k = 1; level >= 3.1622776601683795e-5f; ++k, level *= kFeedback)
        lastAudible = at + k * e.delay;
    const Sound s = readSound(out);
    EXPECT_GT(s.right[static_cast<size_t>(lastAudible)], 0.0f);
    // The render goes on for a while of silence to be sure, but not for long.
    EXPECT_GT(static_cast<int64_t>(s.frames()), lastAudible + e.delay);
    EXPECT_LT(static_cast<int64_t>(s.frames()), lastAudible + 2 * e.delay);
}

TEST_F(Render, DefaultTailStopsAtTheCapWhenEchoesNeverDie) {
    const fs::path out = dir / "out.wav";
    const ToolResult run = runTool({impulse(1000, 0).string(), "-o", out.string(), "--param",
                                    "LeftFeedbackLevel=1", "--param", "RightFeedbackLevel=1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("30 s limit"), std::string::npos) << run.out;
    EXPECT_EQ(readSound(out).frames(), 1000u + 30u * kRate);
}

TEST_F(Render, OutputLengthFormatAndRateFollowTheOptions) {
    writeSound(dir / "in48k.wav", 48000, std::vector<float>(1000, 0.1f));
    const std::pair<const char*, int> formats[] = {
        {"16", SF_FORMAT_PCM_16}, {"24", SF_FORMAT_PCM_24}, {"32f", SF_FORMAT_FLOAT}};
    for (const auto& [bits, subtype] : formats) {
        const fs::path out = dir / (std::string("out") + bits + ".wav");
        const ToolResult run = runTool({(dir / "in48k.wav").string(), "-o", out.string(), "--bits",
                                        bits, "--tail", "0.5", "--quiet"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "") << "--quiet prints nothing";
        const Sound s = readSound(out);
        EXPECT_EQ(s.format, SF_FORMAT_WAV | subtype) << bits;
        EXPECT_EQ(s.sampleRate, 48000);
        EXPECT_EQ(s.channels, 2);
        EXPECT_EQ(s.frames(), 1000u + 24000u);
    }
}

TEST_F(Render, BlockSizeAndFileChunkSeamsLeaveTheOutputUnchanged) {
    // Past three of the tool's 262144-frame file chunks, the sides different, with a tail:
    // blocks that straddle a seam are staged, the others processed where the file data lies.
    // The engine's output does not depend on the block size, so every render must be the same
    // to the bit; so must the same input read from a 16-bit file (the values are multiples of
    // 1/32768, which 16 bits hold exactly).
    const size_t frames = 800000;
    std::vector<float> left(frames), right(frames);
    uint32_t state = 12345;
    for (size_t i = 0; i < frames; ++i) {
        state = state * 1664525u + 1013904223u;
        // Quiet noise on every frame, so that a frame lost or repeated at a seam shows; every
        // value a whole number of 16-bit steps.
        const auto level = [](uint32_t bits, int range) {
            return static_cast<float>(static_cast<int>(bits) - range / 2) / 32768.0f;
        };
        const bool hit = i % 9000 < 40;
        left[i] = level(hit ? state >> 17 : state >> 26, hit ? 32768 : 64);
        right[i] = hit && i % 18000 >= 9000 ? 0.25f : level((state >> 8) & 127u, 128);
    }
    writeSound(dir / "in.wav", kRate, left, &right);
    writeSound(dir / "in16.wav", kRate, left, &right, true);
    Sound reference;
    for (const char* run : {"512", "1000", "1", "65536", "16-bit"}) {
        const bool pcm16 = std::string(run) == "16-bit";
        const char* block = pcm16 ? "512" : run;
        const fs::path out = dir / (std::string("out") + run + ".wav");
        const ToolResult tool =
            runTool({(dir / (pcm16 ? "in16.wav" : "in.wav")).string(), "-o", out.string(),
                     "--program", "24", "--block-size", block, "--tail", "1"});
        ASSERT_EQ(tool.exitCode, 0) << tool.err;
        const Sound s = readSound(out);
        ASSERT_EQ(s.frames(), frames + kRate) << run;
        // The summary's peaks are measured as the file is written: they must be the file's.
        char peaks[64];
        std::snprintf(peaks, sizeof peaks, "peak L %.1f dBFS R %.1f dBFS",
                      20.0 * std::log10(peakOf(s.left)), 20.0 * std::log10(peakOf(s.right)));
        EXPECT_NE(tool.out.find(peaks), std::string::npos) << tool.out << " expected " << peaks;
        if (reference.frames() == 0) {
            EXPECT_GT(peakOf(s.left, frames), 0.0f) << "the echoes go on into the tail";
            reference = s;
            continue;
        }
        EXPECT_TRUE(s.left == reference.left) << run;
        EXPECT_TRUE(s.right == reference.right) << run;
    }
}

TEST_F(Render, ListingsShowProgramsAndTheChosenSettings) {
    const ToolResult programs = runTool({"--list-programs"});
    ASSERT_EQ(programs.exitCode, 0) << programs.err;
    EXPECT_NE(programs.out.find(" 0* SEND PingPong 6/16\n"), std::string::npos) << programs.out;
    EXPECT_NE(programs.out.find("31  INSERT Mono 4/16 DUCKER\n"), std::string::npos);
    EXPECT_EQ(std::count(programs.out.begin(), programs.out.end(), '\n'), 40);

    // The program goes first, then each --param; names match in any letter case.
    const ToolResult params =
        runTool({"--program", "insert mono 4/16", "--param", "rightdelaytime=0.125", "--param",
                 "54=0.5", "--list-params"});
    ASSERT_EQ(params.exitCode, 0) << params.err;
    EXPECT_NE(params.out.find("    7 LeftDelayTime          0.250000   0.25"), std::string::npos)
        << params.out;
    EXPECT_NE(params.out.find("   12 RightDelayTime         0.125000   0.13"), std::string::npos);
    EXPECT_NE(params.out.find("   51 TempoSync              1.000000   1.00"), std::string::npos);
    EXPECT_NE(params.out.find("   54 (spare)                0.500000   0.50"), std::string::npos);
}

// Every refusal: a message naming the problem, a non-zero exit, and no file left behind.
struct Refusal {
    const char* name;
    std::vector<std::string>
        args; // "IN" is a valid input, "BAD" an unreadable one, "OUT" the output
    const char* message;
};

void PrintTo(const Refusal& refusal, std::ostream* os) {
    *os << refusal.name;
}

class RenderRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(RenderRefuses, WithAMessageAndNoOutput) {
    ScratchFolder dir;
    writeSound(dir / "in.wav", kRate, std::vector<float>(100, 0.0f));
    std::ofstream(dir / "bad.wav") << "not a sound file\n";
    std::vector<std::string> args;
    for (const auto& a : GetParam().args)
        args.push_back(a == "IN"    ? (dir / "in.wav").string()
                       : a == "BAD" ? (dir / "bad.wav").string()
                       : a == "OUT" ? (dir / "out.wav").string()
                                    : a);
    const ToolResult run = runTool(args);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    auto left = dir.entries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"bad.wav", "in.wav"}));
}

INSTANTIATE_TEST_SUITE_P(
    Errors, RenderRefuses,
    ::testing::Values(
        Refusal{"MissingInput", {"nowhere.wav", "-o", "OUT"}, "nowhere.wav: no such file"},
        Refusal{"UnreadableInput", {"BAD", "-o", "OUT"}, "cannot read"},
        Refusal{"OutputIsInput", {"IN", "-o", "IN"}, "is the input file"},
        Refusal{"UnknownProgram",
                {"-o", "OUT", "--program", "SEND PingPong 7/16"},
                "did you mean 'SEND PingPong 6/16'"},
        Refusal{"ProgramOutOfRange", {"-o", "OUT", "--program", "40"}, "numbered 0 to 39"},
        Refusal{"UnknownParameter",
                {"-o", "OUT", "--param", "LeftDelayTme=0.5"},
                "did you mean 'LeftDelayTime'"},
        Refusal{"ValueAboveOne", {"-o", "OUT", "--param", "DryLevel=1.5"}, "outside 0..1"},
        Refusal{"ValueBelowZero", {"-o", "OUT", "--param", "DryLevel=-0.1"}, "outside 0..1"},
        Refusal{"ValueNotANumber", {"-o", "OUT", "--param", "DryLevel=loud"}, "not a number"},
        Refusal{"ParameterWithoutValue", {"-o", "OUT", "--param", "DryLevel"}, "NAME=VALUE"},
        Refusal{"UnwritableOutput", {"-o", "no/such/folder/out.wav"}, "cannot write"},
        Refusal{"PluginNotALibrary", {"-o", "OUT", "--plugin", "BAD"}, "cannot load the plug-in"},
        Refusal{"PluginEntryReturnsNull",
                {"-o", "OUT", "--plugin", QL_NULL_PLUGIN},
                "entry returned null"},
        Refusal{"UnknownFormat", {"-o", "OUT", "--format", "au"}, "vst2, clap, lv2 and vst3"},
        Refusal{"TempoAtOutsideVst2",
                {"-o", "OUT", "--format", "clap", "--tempo-at"},
                "--tempo-at is a VST 2 request"},
        Refusal{"NoOutput", {"IN"}, "no output file"},
        Refusal{"UnknownOption", {"-o", "OUT", "--loud"}, "unknown option '--loud'"}),
    [](const auto& refusal) { return std::string(refusal.param.name); });

TEST_F(Render, TheInputIsNeverOverwritten) {
    writeSound(dir / "in.wav", kRate, std::vector<float>(100, 0.25f));
    fs::create_symlink(dir / "in.wav", dir / "alias.wav");
    const ToolResult run = runTool({(dir / "in.wav").string(), "-o", (dir / "alias.wav").string()});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(readSound(dir / "in.wav").left, std::vector<float>(100, 0.25f));
}

TEST_F(Render, AnInterruptedRenderLeavesNoFile) {
    // An hour of tail takes seconds to render; the interrupt comes once the output is begun.
    const fs::path out = dir / "out.wav";
    const ToolResult run = runTool({"-o", out.string(), "--tail", "3600"},
                                   [&] { return fs::exists(out.string() + ".partial"); });
    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
    EXPECT_TRUE(dir.entries().empty());
}

} // namespace
} // namespace qltest
