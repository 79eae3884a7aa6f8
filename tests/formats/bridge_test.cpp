// The format bridge against its oracle, the effect driven by a plain VST 2 host: the same audio
// bits, the same answers, and what the other formats add (texts, saved state, edits).
#include "effect/aplugin.h"
#include "effect/paramtable.h"
#include "formats/bridge/pluginbridge.h"
#include "shell/pluginfactory.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using ql::formats::EditEvent;
using ql::formats::PluginBridge;
using ql::formats::Transport;

namespace {

// A VST 2 host as the render tool is one: a time record with a tempo, advancing with the blocks.
VstTimeInfo gTime{};
bool gHostGivesTime = true;
VstIntPtr QL_VSTCALL plainHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterGetTime)
        return gHostGivesTime ? reinterpret_cast<VstIntPtr>(&gTime) : 0;
    return 0;
}

std::vector<float> testInput(int frames, int channel) {
    std::vector<float> v(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) // short bursts, as percussion
        v[size_t(i)] = (i % 9000 < 300) ? 0.6f * std::sin(0.05f * float(i) + float(channel)) : 0.0f;
    return v;
}

// Renders through any process function in blocks of `block`.
template <class Process> std::vector<float> render(Process&& process, int frames, int block) {
    const auto inL = testInput(frames, 0), inR = testInput(frames, 1);
    std::vector<float> out(size_t(frames) * 2);
    std::vector<float> l(static_cast<size_t>(block)), r(static_cast<size_t>(block));
    for (int pos = 0; pos < frames; pos += block) {
        const int n = std::min(block, frames - pos);
        float* in[2] = {const_cast<float*>(inL.data() + pos), const_cast<float*>(inR.data() + pos)};
        float* o[2] = {l.data(), r.data()};
        process(in, o, n, pos);
        for (int i = 0; i < n; ++i) {
            out[size_t(pos + i) * 2] = l[size_t(i)];
            out[size_t(pos + i) * 2 + 1] = r[size_t(i)];
        }
    }
    return out;
}

std::vector<float> renderVst2(int program, double tempo, bool withTime, int frames, int block) {
    gHostGivesTime = withTime;
    AEffect* e = ql::createVstEffect(plainHost);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    e->dispatcher(e, effSetBlockSize, 0, block, nullptr, 0.0f);
    e->dispatcher(e, effSetProgram, 0, program, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    auto out = render(
        [&](float** in, float** o, int n, int pos) {
            gTime = VstTimeInfo{};
            gTime.samplePos = pos;
            gTime.sampleRate = 48000.0;
            gTime.tempo = tempo;
            gTime.flags = kVstTempoValid;
            e->processReplacing(e, in, o, n);
        },
        frames, block);
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    return out;
}

std::vector<float> renderBridge(PluginBridge& b, int program, double tempo, bool withTime,
                                int frames, int block) {
    b.setSampleRate(48000.0);
    b.setBlockSize(block);
    b.selectProgram(program);
    b.start();
    return render(
        [&](float** in, float** o, int n, int) {
            Transport t;
            t.present = withTime;
            t.hasTempo = withTime;
            t.tempo = tempo;
            b.process(in, o, n, t);
        },
        frames, block);
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

} // namespace

TEST(Bridge, RendersTheSameBitsAsAVst2Host) {
    for (int program : {0, 15, 27}) {
        for (bool withTime : {true, false}) {
            PluginBridge bridge({"Test", "Bridge test"});
            ASSERT_TRUE(bridge.valid());
            const auto viaBridge = renderBridge(bridge, program, 97.0, withTime, 60000, 512);
            const auto direct = renderVst2(program, 97.0, withTime, 60000, 512);
            EXPECT_TRUE(sameBits(viaBridge, direct))
                << "program " << program << " time " << withTime;
        }
    }
}

TEST(Bridge, TimeRecordCarriesATempoOnlyWhenTheHostGaveOne) {
    PluginBridge bridge;
    const APlugin& p = bridge.plugin();
    float silence[64] = {}, outL[64], outR[64];
    float* in[2] = {silence, silence};
    float* out[2] = {outL, outR};

    bridge.process(in, out, 64, Transport{});
    EXPECT_FALSE(p.getHostHasTimeInfo()) << "no transport: the effect runs on its manual tempo";
    EXPECT_EQ(p.getCurrentTempo(), 140.0);

    Transport noTempo;
    noTempo.present = true;
    bridge.process(in, out, 64, noTempo);
    EXPECT_FALSE(p.getHostHasTimeInfo()) << "a transport without a tempo fakes none";
    EXPECT_EQ(p.getCurrentTempo(), 140.0);

    Transport withTempo = noTempo;
    withTempo.hasTempo = true;
    withTempo.tempo = 97.5;
    bridge.process(in, out, 64, withTempo);
    EXPECT_TRUE(p.getHostHasTimeInfo());
    EXPECT_TRUE(p.getTempoSynced());
    EXPECT_EQ(p.getHostTempo(), 97.5f);

    // Later blocks without the tempo: the effect asks for the tempo at the position, and hears
    // the host's latest one, as from a VST 2 host's tempo map.
    bridge.process(in, out, 64, noTempo);
    EXPECT_TRUE(p.getHostHasTimeInfo());
    EXPECT_EQ(p.getHostTempo(), 97.5f);

    bridge.process(in, out, 0, Transport{});
    EXPECT_FALSE(p.getHostHasTimeInfo()) << "a block of 0 frames still runs the timing step";
}

TEST(Bridge, Vst2AnswersStayAsTheyWereAndProgramsStartFromTheTable) {
    PluginBridge bridge;
    AEffect* e = bridge.record();
    for (int i = 0; i < ql::kNumParams; ++i) {
        char name[64] = {}, label[64] = {}, display[64] = {};
        e->dispatcher(e, effGetParamName, i, 0, name, 0.0f);
        e->dispatcher(e, effGetParamLabel, i, 0, label, 0.0f);
        e->dispatcher(e, effGetParamDisplay, i, 0, display, 0.0f);
        EXPECT_STREQ(name, i == 0 ? "Gain" : "") << i;
        EXPECT_STREQ(label, "%");
        char expected[16];
        std::snprintf(expected, sizeof expected, "%.2f", double(bridge.parameter(i)));
        EXPECT_STREQ(display, expected) << i;
    }
    EXPECT_EQ(bridge.programName(24), "INSERT PingPong 6/16 DUCKER") << "full names, not cut to 24";
    EXPECT_EQ(bridge.programName(40), "");
    bridge.selectProgram(36);
    EXPECT_EQ(bridge.programName(36), "Init");
    for (int i = 0; i < ql::kNumParams; ++i)
        EXPECT_EQ(bridge.parameter(i), ql::paramInfo(i).defaultValue) << ql::paramInfo(i).name;
}

TEST(Bridge, TextsRoundTripAndTypedTextIsReadOrRefused) {
    PluginBridge bridge;
    bridge.setSampleRate(44100.0);
    float silence[16] = {}, o[16];
    float* in[2] = {silence, silence};
    float* out[2] = {o, o};
    Transport t;
    t.present = t.hasTempo = true;
    t.tempo = 120.0; // a whole note of 2000 ms
    bridge.process(in, out, 16, t);

    // Every printed text reads back to a value that prints the same.
    for (int i = 0; i < ql::kNumParams; ++i) {
        for (int step = 0; step <= 1000; ++step) {
            const float v = float(step) / 1000.0f;
            char text[64], again[64];
            bridge.formatValue(i, v, text, sizeof text);
            float read = -1.0f;
            ASSERT_TRUE(bridge.parseValue(i, text, read)) << ql::paramInfo(i).name << " " << text;
            bridge.formatValue(i, read, again, sizeof again);
            ASSERT_STREQ(again, text) << ql::paramInfo(i).name << " at " << v;
        }
    }

    auto text = [&](int i, float v) {
        char s[64];
        bridge.formatValue(i, v, s, sizeof s);
        return std::string(s);
    };
    EXPECT_EQ(text(ql::DryOn, 1.0f), "On");
    EXPECT_EQ(text(ql::DryOn, 0.999f), "Off");
    EXPECT_EQ(text(ql::DryLevel, 0.0f), "-inf dB");
    EXPECT_EQ(text(ql::DryLevel, 0.5f), "-6.0 dB");
    EXPECT_EQ(text(ql::LeftDelayTime, 0.375f), "6.0/16 (750 ms)");
    EXPECT_EQ(text(ql::LeftInitialDelayTime, 0.3125f), "-3.0/16 (-375 ms)");
    EXPECT_EQ(text(ql::HiCutFreq, 1.0f), "22.1 kHz");
    EXPECT_EQ(text(ql::LoCutFreq, 0.02f), "441 Hz");
    EXPECT_EQ(text(ql::DuckerRange, 0.3f), "30 %");
    EXPECT_EQ(text(ql::ManualTempo, 0.14f), "140 BPM");

    auto read = [&](int i, const char* typed, float& v) { return bridge.parseValue(i, typed, v); };
    float v = 0;
    EXPECT_TRUE(read(ql::DryLevel, "-6 dB", v));
    EXPECT_FLOAT_EQ(v, 0.5011872f);
    EXPECT_TRUE(read(ql::DryLevel, "-inf", v));
    EXPECT_EQ(v, 0.0f);
    EXPECT_TRUE(read(ql::DryLevel, "+6 dB", v));
    EXPECT_EQ(v, 1.0f) << "beyond the range is clamped to it";
    EXPECT_TRUE(read(ql::LeftDelayTime, "375 ms", v));
    EXPECT_EQ(v, 0.1875f);
    EXPECT_TRUE(read(ql::LeftDelayTime, "3/16", v));
    EXPECT_EQ(v, 0.1875f);
    EXPECT_TRUE(read(ql::LeftDelayTime, "1/4", v));
    EXPECT_EQ(v, 0.25f);
    EXPECT_TRUE(read(ql::RightInitialDelayTime, "-2/16", v));
    EXPECT_EQ(v, 0.375f);
    EXPECT_TRUE(read(ql::TempoSync, "on", v));
    EXPECT_EQ(v, 1.0f);
    EXPECT_TRUE(read(ql::HiCutFreq, "2.5k", v));
    EXPECT_EQ(v, float(2500.0 / 22050.0));
    EXPECT_TRUE(read(ql::ManualTempo, "96 BPM", v));
    EXPECT_EQ(v, 0.096f);
    EXPECT_TRUE(read(ql::LeftDelayTime, "5.9/16 (739 ms)", v));
    EXPECT_EQ(v, float(739.0 / 2000.0)) << "the milliseconds are the finer number";
    EXPECT_TRUE(read(ql::DryLevel, "-0 %", v));
    EXPECT_FALSE(std::signbit(v)) << "no negative zero";
    for (const char* bad : {"", "abc", "On!", "6 dB extra", "1/0", "3/16 (x)", "--6", "e5", "0x10",
                            "nan", "6/16 (9999 ms)"}) {
        for (int i : {int(ql::DryLevel), int(ql::LeftDelayTime), int(ql::TempoSync),
                      int(ql::HiCutFreq), int(ql::GateSpeed)}) {
            v = 0.25f;
            EXPECT_FALSE(read(i, bad, v)) << ql::paramInfo(i).name << " '" << bad << "'";
            EXPECT_EQ(v, 0.25f);
        }
    }
}

TEST(Bridge, SavedStateGivesBackTheSameEffect) {
    PluginBridge a;
    a.selectProgram(7);
    a.setParameter(ql::LeftFeedbackLevel, 0.61f);
    a.setParameter(55, 0.3f); // a spare index keeps its value too
    std::string renamed = "My Mono Echo";
    a.record()->dispatcher(a.record(), effSetProgramName, 0, 0, renamed.data(), 0.0f);
    a.selectProgram(12);
    a.setParameter(ql::GateOn, 1.0f);
    const auto blob = a.saveState();
    ASSERT_EQ(blob.size(), ql::kStateSize);

    PluginBridge b;
    ASSERT_EQ(b.loadState(blob.data(), blob.size()), ql::StateResult::Ok);
    EXPECT_EQ(b.saveState(), blob) << "the same bits";
    EXPECT_EQ(b.currentProgram(), 12);
    EXPECT_EQ(b.programName(7), "My Mono Echo");
    EXPECT_TRUE(sameBits(renderBridge(a, 12, 120.0, true, 20000, 256),
                         renderBridge(b, 12, 120.0, true, 20000, 256)))
        << "the same output afterwards";
    b.selectProgram(7);
    EXPECT_EQ(b.parameter(ql::LeftFeedbackLevel), 0.61f);
    EXPECT_EQ(b.parameter(55), 0.3f);
}

TEST(Bridge, UnreadableStatesAreRefusedAndChangeNothing) {
    PluginBridge source;
    source.selectProgram(3);
    const auto good = source.saveState();

    auto patched = [&](size_t offset, std::vector<std::uint8_t> bytes) {
        auto blob = good;
        std::copy(bytes.begin(), bytes.end(), blob.begin() + long(offset));
        return blob;
    };
    auto u32 = [](std::uint32_t v) {
        return std::vector<std::uint8_t>{std::uint8_t(v), std::uint8_t(v >> 8),
                                         std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    };
    auto f32 = [&](float f) { return u32(std::bit_cast<std::uint32_t>(f)); };
    ASSERT_EQ(good.size(), ql::kStateSize);
    const std::vector<std::uint8_t> truncated(good.begin(), good.end() - 1);
    std::vector<std::uint8_t> longer(good.size() + 1, 0);
    std::copy(good.begin(), good.end(), longer.begin());
    auto unterminated = good;
    std::fill_n(unterminated.begin() + 348, 32, 'A');

    const struct {
        const char* what;
        std::vector<std::uint8_t> blob;
        ql::StateResult expected;
    } cases[] = {
        {"empty", {}, ql::StateResult::Truncated},
        {"truncated", truncated, ql::StateResult::Truncated},
        {"header only", std::vector<std::uint8_t>(good.begin(), good.begin() + 28),
         ql::StateResult::Truncated},
        {"wrong magic", patched(0, {'Q', 'L', 'S', 'X'}), ql::StateResult::BadMagic},
        {"newer version", patched(4, u32(2)), ql::StateResult::NewerVersion},
        {"version 0", patched(4, u32(0)), ql::StateResult::BadVersion},
        {"81 parameters", patched(12, u32(81)), ql::StateResult::BadSizes},
        {"huge program count", patched(16, u32(0xFFFFFFFF)), ql::StateResult::BadSizes},
        {"trailing bytes", longer, ql::StateResult::BadSizes},
        {"program 40", patched(24, u32(40)), ql::StateResult::BadProgram},
        {"value above 1", patched(28 + 4 * 5, f32(1.5f)), ql::StateResult::BadValue},
        {"negative value", patched(28, f32(-0.25f)), ql::StateResult::BadValue},
        {"not a number", patched(28, f32(std::nanf(""))), ql::StateResult::BadValue},
        {"infinite program value", patched(348 + 32 + 4 * 79, f32(INFINITY)),
         ql::StateResult::BadValue},
        {"unterminated name", unterminated, ql::StateResult::BadName},
    };
    PluginBridge target;
    target.setParameter(ql::DryLevel, 0.25f);
    const auto before = target.saveState();
    for (const auto& c : cases) {
        EXPECT_EQ(target.loadState(c.blob.data(), c.blob.size()), c.expected) << c.what;
        EXPECT_EQ(target.saveState(), before) << c.what << " changed the effect";
    }
    EXPECT_EQ(target.loadState(nullptr, 100), ql::StateResult::Truncated);
}
