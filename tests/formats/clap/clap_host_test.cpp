// Quillantrope.clap in a small CLAP host, against its oracle, the effect driven by a plain VST 2
// host: the same audio bits, the parameters and texts of the table, programs, the saved state
// through streams of any stride, the editor, and hosts that give too little or nonsense.
#include "formats/clap/claphost.h"

#include "effect/paramtable.h"
#include "effect/state.h"
#include "shell/pluginfactory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

#ifdef QL_TEST_X11
#include "host/xdisplay.h"
#include <X11/extensions/XTest.h>
#ifdef QL_TEST_PNG
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#endif
#endif

using namespace clhost;

namespace {

const clap_plugin_factory_t* factory() {
    static std::string error;
    static const clap_plugin_entry_t* entry = [] {
        const clap_plugin_entry_t* e = loadEntry(QL_CLAP_PLUGIN, error);
        return e && e->init(QL_CLAP_PLUGIN) ? e : nullptr;
    }();
    return entry ? static_cast<const clap_plugin_factory_t*>(
                       entry->get_factory(CLAP_PLUGIN_FACTORY_ID))
                 : nullptr;
}

class ClapTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(factory(), nullptr) << "cannot load " << QL_CLAP_PLUGIN; }
    std::unique_ptr<Plugin> make(Host& h) {
        auto plugin = std::make_unique<Plugin>(factory(), &h.host);
        EXPECT_TRUE(plugin->ready());
        return plugin;
    }
    Host host;
};

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 512;

std::vector<float> testInput(int frames, int channel) {
    std::vector<float> v(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) // short bursts, as percussion
        v[size_t(i)] = (i % 9000 < 300) ? 0.6f * std::sin(0.05f * float(i) + float(channel)) : 0.0f;
    return v;
}

// The oracle: the effect in a VST 2 host that gives a tempo, or no time at all.
VstTimeInfo gTime{};
bool gGivesTime = false;
VstIntPtr QL_VSTCALL vst2Host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterGetTime) return gGivesTime ? reinterpret_cast<VstIntPtr>(&gTime) : 0;
    return 0;
}

// Interleaved output of `frames` frames.
std::vector<float> renderVst2(int program, double tempo, int frames) {
    gGivesTime = tempo > 0;
    AEffect* e = ql::createVstEffect(vst2Host);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, float(kRate));
    e->dispatcher(e, effSetBlockSize, 0, kBlock, nullptr, 0.0f);
    e->dispatcher(e, effSetProgram, 0, program, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    const auto inL = testInput(frames, 0), inR = testInput(frames, 1);
    std::vector<float> out(size_t(frames) * 2), l(kBlock), r(kBlock);
    for (int pos = 0; pos < frames; pos += int(kBlock)) {
        const int n = std::min(int(kBlock), frames - pos);
        float* in[2] = {const_cast<float*>(&inL[size_t(pos)]),
                        const_cast<float*>(&inR[size_t(pos)])};
        float* o[2] = {l.data(), r.data()};
        gTime = VstTimeInfo{};
        gTime.samplePos = pos;
        gTime.sampleRate = kRate;
        gTime.tempo = tempo;
        gTime.flags = kVstTempoValid;
        e->processReplacing(e, in, o, n);
        for (int i = 0; i < n; ++i) {
            out[size_t(pos + i) * 2] = l[size_t(i)];
            out[size_t(pos + i) * 2 + 1] = r[size_t(i)];
        }
    }
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    return out;
}

enum class Clock { Tempo, TransportWithoutTempo, Absent };

// The same through the CLAP plug-in: the program set as a host sets a parameter, processed in
// place (the host's input buffers are its output buffers).
std::vector<float> renderClap(Plugin& pl, int program, Clock time, double tempo, int frames) {
    InputEvents select;
    select.value(pl.idOf("Program"), program);
    pl.flush(select);
    EXPECT_TRUE(pl.p->activate(pl.p, kRate, 1, kBlock));
    EXPECT_TRUE(pl.p->start_processing(pl.p));
    const auto inL = testInput(frames, 0), inR = testInput(frames, 1);
    std::vector<float> out(size_t(frames) * 2), l(kBlock), r(kBlock);
    for (int pos = 0; pos < frames; pos += int(kBlock)) {
        const int n = std::min(int(kBlock), frames - pos);
        std::copy_n(&inL[size_t(pos)], n, l.data());
        std::copy_n(&inR[size_t(pos)], n, r.data());
        InputEvents none;
        OutputEvents sent;
        Block b(l.data(), r.data(), l.data(), r.data(), uint32_t(n), none, sent);
        if (time != Clock::Absent) b.withTransport(time == Clock::Tempo ? tempo : 0.0);
        EXPECT_EQ(pl.p->process(pl.p, &b.process), CLAP_PROCESS_CONTINUE);
        for (int i = 0; i < n; ++i) {
            out[size_t(pos + i) * 2] = l[size_t(i)];
            out[size_t(pos + i) * 2 + 1] = r[size_t(i)];
        }
    }
    pl.p->stop_processing(pl.p);
    pl.p->deactivate(pl.p);
    return out;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

} // namespace

TEST_F(ClapTest, OneDelayPluginWithStereoPortsAndOnlyItsEntry) {
    ASSERT_EQ(factory()->get_plugin_count(factory()), 1u);
    const clap_plugin_descriptor_t* d = factory()->get_plugin_descriptor(factory(), 0);
    EXPECT_STREQ(d->id, "audio.quillantrope.quillantrope");
    EXPECT_STREQ(d->name, "Quillantrope");
    std::vector<std::string> features;
    for (const char* const* f = d->features; *f; ++f)
        features.emplace_back(*f);
    EXPECT_EQ(features, (std::vector<std::string>{"audio-effect", "delay", "stereo"}));
    EXPECT_EQ(factory()->get_plugin_descriptor(factory(), 1), nullptr);
    EXPECT_EQ(factory()->create_plugin(factory(), &host.host, "org.other.plugin"), nullptr);
    EXPECT_EQ(factory()->create_plugin(factory(), &host.host, nullptr), nullptr);

    auto pl = make(host);
    for (bool input : {true, false}) {
        ASSERT_EQ(pl->ports->count(pl->p, input), 1u);
        clap_audio_port_info_t info{};
        ASSERT_TRUE(pl->ports->get(pl->p, 0, input, &info));
        EXPECT_EQ(info.channel_count, 2u);
        EXPECT_STREQ(info.port_type, CLAP_PORT_STEREO);
        EXPECT_EQ(info.in_place_pair, 0u) << "in place";
        EXPECT_FALSE(pl->ports->get(pl->p, 1, input, &info));
    }
    EXPECT_EQ(pl->latency->get(pl->p), 0u);
    EXPECT_EQ(pl->p->get_extension(pl->p, "clap.no-such-extension"), nullptr);
}

TEST_F(ClapTest, HostsThatGiveTooLittleOrNonsense) {
    EXPECT_EQ(factory()->create_plugin(factory(), nullptr, "audio.quillantrope.quillantrope"),
              nullptr);
    Host old;
    old.host.clap_version = {0, 9, 0};
    EXPECT_EQ(factory()->create_plugin(factory(), &old.host, "audio.quillantrope.quillantrope"),
              nullptr);

    // No extensions at all: the plug-in still works, without an editor.
    Host bare;
    bare.host.get_extension = nullptr;
    bare.host.request_callback = nullptr;
    auto pl = make(bare);
    EXPECT_FALSE(pl->gui->create(pl->p, CLAP_WINDOW_API_X11, false)) << "no timer for the editor";
    EXPECT_FALSE(pl->p->activate(pl->p, 0.0, 1, kBlock));
    EXPECT_FALSE(pl->p->activate(pl->p, NAN, 1, kBlock));
    EXPECT_FALSE(pl->p->activate(pl->p, kRate, 1, 0));
    float l[kBlock] = {}, r[kBlock] = {};
    InputEvents in;
    OutputEvents out;
    Block b(l, r, l, r, kBlock, in, out);
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_ERROR) << "not active";
    ASSERT_TRUE(pl->p->activate(pl->p, kRate, 1, kBlock));
    ASSERT_TRUE(pl->p->start_processing(pl->p));
    EXPECT_EQ(pl->p->process(pl->p, nullptr), CLAP_PROCESS_ERROR);

    // Changes the host sends: nonsense values, unknown ids, events of other kinds and sizes.
    const double drySetting = pl->value(ql::DryLevel);
    in.value(ql::DryLevel, NAN);
    in.value(5000, 0.5);
    in.value(pl->idOf("Program"), NAN);
    in.events.push_back(in.events.back());
    in.events.back().header.size = 8;
    in.events.back().param_id = ql::DryLevel;
    in.value(ql::GateThreshold, 1e300);
    in.value(ql::LoCutFreq, -INFINITY);
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(pl->value(ql::DryLevel), drySetting);
    EXPECT_EQ(pl->value(ql::GateThreshold), 1.0);
    EXPECT_EQ(pl->value(ql::LoCutFreq), 0.0);
    EXPECT_EQ(pl->value(pl->idOf("Program")), 0.0);
    in.events.clear();

    b.process.frames_count = 0;
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_CONTINUE) << "a block of 0 frames";
    b.process.frames_count = kBlock + 1;
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_ERROR) << "more than promised";
    b.process.frames_count = kBlock;
    b.process.audio_inputs_count = 0;
    l[0] = r[0] = 0.5f;
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_ERROR) << "no input";
    EXPECT_EQ(l[0], 0.0f) << "the output is silence";
    b.process.audio_inputs_count = 1;
    b.out.channel_count = 1;
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_ERROR) << "a mono output";
    b.out.channel_count = 2;

    // Non-finite samples in, finite samples out, and the echoes go on after the input stops.
    for (int i = 0; i < int(kBlock); ++i)
        l[i] = r[i] = i % 3 == 0 ? NAN : (i % 3 == 1 ? INFINITY : 0.5f);
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_CONTINUE);
    bool finite = true;
    for (int i = 0; i < int(kBlock); ++i)
        finite &= std::isfinite(l[i]) && std::isfinite(r[i]);
    EXPECT_TRUE(finite);
    pl->p->stop_processing(pl->p);
    pl->p->deactivate(pl->p);
    pl->p->deactivate(pl->p);
}

TEST_F(ClapTest, RendersTheBitsOfTheVst2Build) {
    constexpr int kFrames = 40000;
    for (int program : {0, 12, 27}) {
        const auto withTempo = renderVst2(program, 97.0, kFrames);
        const auto withoutTime = renderVst2(program, 0.0, kFrames);
        ASSERT_FALSE(sameBits(withTempo, withoutTime)) << "the tempo must matter to the check";
        Plugin a(factory(), &host.host), b(factory(), &host.host), c(factory(), &host.host);
        EXPECT_TRUE(sameBits(renderClap(a, program, Clock::Tempo, 97.0, kFrames), withTempo))
            << "program " << program << " with the host's tempo";
        EXPECT_TRUE(sameBits(renderClap(b, program, Clock::Absent, 0.0, kFrames), withoutTime))
            << "program " << program << " without a transport";
        EXPECT_TRUE(sameBits(renderClap(c, program, Clock::TransportWithoutTempo, 0.0, kFrames),
                             withoutTime))
            << "program " << program << ": a transport without a tempo is no tempo";
    }
}

TEST_F(ClapTest, ParametersAreTheTablesWithItsTexts) {
    auto pl = make(host);
    ASSERT_EQ(pl->params->count(pl->p), uint32_t(ql::kNumParams + 1));
    ASSERT_TRUE(pl->p->activate(pl->p, 44100.0, 1, kBlock));
    // The texts' context: no host tempo, so the manual tempo of program 0.
    AEffect* oracle = ql::createVstEffect(vst2Host);
    oracle->dispatcher(oracle, effSetSampleRate, 0, 0, nullptr, 44100.0f);
    for (uint32_t i = 0; i < uint32_t(ql::kNumParams); ++i) {
        const ql::ParamInfo& row = ql::paramInfo(int(i));
        clap_param_info_t info{};
        ASSERT_TRUE(pl->params->get_info(pl->p, i, &info));
        EXPECT_EQ(info.id, i) << "ids are the VST 2 indices";
        EXPECT_STREQ(info.name, row.title);
        EXPECT_EQ(info.min_value, 0.0);
        EXPECT_EQ(info.max_value, 1.0);
        EXPECT_EQ(info.default_value, double(row.defaultValue));
        EXPECT_EQ(bool(info.flags & CLAP_PARAM_IS_HIDDEN), row.isSpare()) << row.name;
        EXPECT_EQ(bool(info.flags & CLAP_PARAM_IS_AUTOMATABLE), !row.isSpare()) << row.name;
        EXPECT_EQ(bool(info.flags & CLAP_PARAM_IS_STEPPED), row.isStepped()) << row.name;
        EXPECT_EQ(pl->value(i), double(oracle->getParameter(oracle, VstInt32(i)))) << row.name;
        // Every text reads back to a value with the same text.
        for (double v : {0.0, 0.02, 0.25, 0.5, 0.61, 0.999, 1.0}) {
            const std::string text = pl->text(i, v);
            double read = -1.0;
            ASSERT_TRUE(pl->params->text_to_value(pl->p, i, text.c_str(), &read))
                << row.name << " '" << text << "'";
            EXPECT_EQ(pl->text(i, read), text) << row.name;
        }
    }
    oracle->dispatcher(oracle, effClose, 0, 0, nullptr, 0.0f);

    EXPECT_EQ(pl->text(ql::DryOn, 1.0), "On");
    EXPECT_EQ(pl->text(ql::DryOn, 0.999), "Off") << "on exactly at 1.0";
    EXPECT_EQ(pl->text(ql::DryLevel, 0.5), "-6.0 dB");
    EXPECT_EQ(pl->text(ql::HiCutFreq, 1.0), "22.1 kHz");
    EXPECT_EQ(pl->text(ql::ManualTempo, 0.14), "140 BPM");
    auto read = [&](clap_id id, const char* typed) {
        double v = -1.0;
        return pl->params->text_to_value(pl->p, id, typed, &v) ? v : -1.0;
    };
    EXPECT_FLOAT_EQ(float(read(ql::DryLevel, "-6 dB")), 0.5011872f);
    EXPECT_EQ(read(ql::LeftDelayTime, "3/16"), 0.1875);
    EXPECT_NE(pl->text(ql::LeftDelayTime, read(ql::LeftDelayTime, "375 ms")).find("(375 ms)"),
              std::string::npos)
        << "at the manual tempo";
    EXPECT_EQ(read(ql::DelayTimeLink, "On"), 1.0);
    EXPECT_EQ(read(ql::HiCutFreq, "2.5k"), double(float(2500.0 / 22050.0)));
    for (const char* bad : {"", "abc", "nan", "6 dB extra", "1/0"})
        EXPECT_EQ(read(ql::DryLevel, bad), -1.0) << "'" << bad << "' is refused";
    double v = 0.0;
    EXPECT_FALSE(pl->params->text_to_value(pl->p, ql::DryLevel, nullptr, &v));
    EXPECT_FALSE(pl->params->text_to_value(pl->p, 5000, "0.5", &v));
    char small[5];
    EXPECT_TRUE(pl->params->value_to_text(pl->p, ql::DryLevel, 0.5, small, sizeof small));
    EXPECT_STREQ(small, "-6.0") << "cut to the host's buffer";
    EXPECT_FALSE(pl->params->value_to_text(pl->p, ql::DryLevel, 0.5, small, 0));
    EXPECT_FALSE(pl->params->value_to_text(pl->p, 5000, 0.5, small, sizeof small));
    EXPECT_FALSE(pl->params->get_info(pl->p, ql::kNumParams + 1, nullptr));
    pl->p->deactivate(pl->p);
}

TEST_F(ClapTest, ProgramParameterLoadsProgramsAndTellsTheHost) {
    auto pl = make(host);
    clap_param_info_t info{};
    ASSERT_TRUE(pl->params->get_info(pl->p, ql::kNumParams, &info));
    const clap_id program = info.id;
    EXPECT_STREQ(info.name, "Program");
    EXPECT_GE(program, clap_id(ql::kNumParams)) << "outside the effect's indices";
    EXPECT_TRUE(info.flags & CLAP_PARAM_IS_STEPPED);
    EXPECT_EQ(info.max_value, ql::kNumPrograms - 1);
    EXPECT_EQ(pl->text(program, 0), "SEND PingPong 6/16");
    for (int p = 0; p < ql::kNumPrograms; ++p) {
        double v = -1.0;
        const std::string name = pl->text(program, p);
        ASSERT_TRUE(pl->params->text_to_value(pl->p, program, name.c_str(), &v)) << name;
        EXPECT_EQ(pl->text(program, v), name);
    }
    double v = 0;
    EXPECT_FALSE(pl->params->text_to_value(pl->p, program, "No Such Program", &v));

    // The oracle: the effect's values after the same program change through its VST 2 record.
    AEffect* oracle = ql::createVstEffect(vst2Host);
    auto expectTold = [&](int p, const std::vector<SentEvent>& sent) {
        oracle->dispatcher(oracle, effSetProgram, 0, p, nullptr, 0.0f);
        EXPECT_EQ(pl->value(program), p);
        int changed = 0;
        for (int i = 0; i < ql::kNumParams; ++i) {
            const double now = pl->value(clap_id(i));
            EXPECT_EQ(now, oracle->getParameter(oracle, i)) << "program " << p << " index " << i;
            const bool told = std::count(sent.begin(), sent.end(),
                                         SentEvent{CLAP_EVENT_PARAM_VALUE, clap_id(i), now}) == 1;
            changed += told;
        }
        EXPECT_EQ(size_t(changed), sent.size()) << "only values, each once";
        EXPECT_GT(changed, 0) << "program " << p;
    };
    InputEvents select;
    select.value(program, 12.7); // stepped: truncated
    expectTold(12, pl->flush(select));

    // While the audio runs, the block's output events tell the host.
    ASSERT_TRUE(pl->p->activate(pl->p, kRate, 1, kBlock));
    ASSERT_TRUE(pl->p->start_processing(pl->p));
    float l[kBlock] = {}, r[kBlock] = {};
    select.events.clear();
    select.value(program, 27);
    OutputEvents sent;
    Block b(l, r, l, r, kBlock, select, sent);
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_CONTINUE);
    expectTold(27, sent.events);

    // A host that cannot take the events hears of the change by a rescan on the main thread.
    select.events.clear();
    select.value(program, 3);
    sent.events.clear();
    sent.refuse = true;
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(host.callbacks, 1);
    pl->p->on_main_thread(pl->p);
    EXPECT_EQ(host.rescans, std::vector<clap_param_rescan_flags>{CLAP_PARAM_RESCAN_VALUES});
    oracle->dispatcher(oracle, effClose, 0, 0, nullptr, 0.0f);
    pl->p->stop_processing(pl->p);
    pl->p->deactivate(pl->p);
}

namespace {
// Streams that move at most `stride` bytes a call, fail at a given byte, or never move any.
struct Stream {
    std::vector<uint8_t> bytes;
    size_t at = 0, stride = 1, failAt = SIZE_MAX;
    clap_istream_t in{this, [](const clap_istream_t* s, void* buffer, uint64_t size) -> int64_t {
                          auto* self = static_cast<Stream*>(s->ctx);
                          if (self->at >= self->failAt) return -1;
                          const size_t n = std::min<size_t>(
                              {size_t(size), self->stride, self->bytes.size() - self->at});
                          if (n) std::memcpy(buffer, self->bytes.data() + self->at, n);
                          self->at += n;
                          return int64_t(n);
                      }};
    clap_ostream_t out{this,
                       [](const clap_ostream_t* s, const void* buffer, uint64_t size) -> int64_t {
                           auto* self = static_cast<Stream*>(s->ctx);
                           if (self->bytes.size() >= self->failAt) return self->stride ? -1 : 0;
                           const size_t n = std::min<size_t>(size_t(size), self->stride);
                           const auto* b = static_cast<const uint8_t*>(buffer);
                           self->bytes.insert(self->bytes.end(), b, b + n);
                           return int64_t(n);
                       }};
};

std::vector<uint8_t> saved(Plugin& pl) {
    Stream s;
    s.stride = 1 << 20;
    EXPECT_TRUE(pl.state->save(pl.p, &s.out));
    return s.bytes;
}
} // namespace

TEST_F(ClapTest, StateRoundTripsThroughAnyStreamAndBadStatesChangeNothing) {
    auto a = make(host);
    InputEvents edits;
    edits.value(a->idOf("Program"), 7);
    edits.value(ql::LeftFeedbackLevel, 0.61);
    edits.value(55, 0.3); // a spare keeps its value too
    a->flush(edits);
    Stream written;
    written.stride = 7; // the host's stream takes a few bytes a call
    ASSERT_TRUE(a->state->save(a->p, &written.out));
    ASSERT_EQ(written.bytes.size(), ql::kStateSize);

    auto b = make(host);
    Stream reading{written.bytes};
    reading.stride = 3;
    ASSERT_TRUE(b->state->load(b->p, &reading.in));
    EXPECT_EQ(saved(*b), written.bytes) << "the same bits";
    EXPECT_EQ(b->value(b->idOf("Program")), 7);
    EXPECT_EQ(b->value(ql::LeftFeedbackLevel), double(0.61f));
    EXPECT_EQ(b->value(55), double(0.3f));
    EXPECT_EQ(host.rescans, std::vector<clap_param_rescan_flags>{CLAP_PARAM_RESCAN_VALUES})
        << "the host reads the new values";

    // Saving into streams that fail, or take nothing, is refused.
    for (size_t stride : {size_t(1), size_t(0)}) {
        Stream failing;
        failing.stride = stride;
        failing.failAt = stride ? 100 : 0;
        EXPECT_FALSE(a->state->save(a->p, &failing.out));
    }

    auto patched = written.bytes;
    patched[0] = 'X';
    auto longer = written.bytes;
    longer.push_back(0);
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        size_t failAt;
    } bad[] = {
        {"empty", {}, SIZE_MAX},
        {"truncated", {written.bytes.begin(), written.bytes.end() - 1}, SIZE_MAX},
        {"a byte too many", longer, SIZE_MAX},
        {"wrong magic", patched, SIZE_MAX},
        {"read error half way", written.bytes, 5000},
    };
    auto c = make(host);
    InputEvents change;
    change.value(ql::DryLevel, 0.25);
    c->flush(change);
    const auto before = saved(*c);
    for (const auto& t : bad) {
        Stream s{t.bytes};
        s.stride = 4096;
        s.failAt = t.failAt;
        EXPECT_FALSE(c->state->load(c->p, &s.in)) << t.what;
        EXPECT_EQ(saved(*c), before) << t.what << " changed the instance";
    }
    EXPECT_FALSE(c->state->load(c->p, nullptr));
    EXPECT_FALSE(c->state->save(c->p, nullptr));
}

#ifdef QL_TEST_X11

namespace {
using qltest::childCount;
constexpr int kWidth = 600, kHeight = 369;

class ClapEditorTest : public ClapTest {
  protected:
    void SetUp() override {
        ClapTest::SetUp();
        for (int attempt = 0; attempt < 4 && !dpy; ++attempt) {
            if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            dpy = XOpenDisplay(nullptr);
        }
        if (!dpy) GTEST_SKIP() << "no X display reachable (scripts/test runs these under Xvfb)";
        const int screen = DefaultScreen(dpy);
        frame = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, kWidth, kHeight, 0, 0,
                                    BlackPixel(dpy, screen));
        XMapRaised(dpy, frame);
        XSync(dpy, False);
    }
    void TearDown() override {
        if (!dpy) return;
        XDestroyWindow(dpy, frame);
        XCloseDisplay(dpy);
    }
    int rootChildren() { return childCount(dpy, DefaultRootWindow(dpy)); }
    // The host's timer, as its event loop runs it.
    void runTimer(Plugin& pl, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            for (clap_id id : host.timerIds)
                pl.timer->on_timer(pl.p, id);
            std::this_thread::sleep_for(std::chrono::milliseconds(host.timerPeriod / 4));
        }
    }
    void click(int x, int y) {
        int sx = 0, sy = 0;
        Window child;
        XTranslateCoordinates(dpy, frame, DefaultRootWindow(dpy), x, y, &sx, &sy, &child);
        XTestFakeMotionEvent(dpy, -1, sx, sy, CurrentTime);
        XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
        XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
        XSync(dpy, False);
    }
    clap_window_t window() const {
        clap_window_t w{};
        w.api = CLAP_WINDOW_API_X11;
        w.x11 = frame;
        return w;
    }

    qltest::XServerLock lock;
    Display* dpy = nullptr;
    Window frame = 0;
};
} // namespace

TEST_F(ClapEditorTest, EmbeddedFixedSizeEditorOnTheHostsTimer) {
    auto pl = make(host);
    const clap_plugin_gui_t& gui = *pl->gui;
    EXPECT_TRUE(gui.is_api_supported(pl->p, CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(gui.is_api_supported(pl->p, CLAP_WINDOW_API_X11, true)) << "embedded only";
    EXPECT_FALSE(gui.is_api_supported(pl->p, CLAP_WINDOW_API_WIN32, false));
    EXPECT_FALSE(gui.create(pl->p, CLAP_WINDOW_API_X11, true));
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui.get_size(pl->p, &w, &h));
    EXPECT_EQ(w, 600u);
    EXPECT_EQ(h, 369u);
    EXPECT_FALSE(gui.can_resize(pl->p));
    EXPECT_FALSE(gui.set_size(pl->p, 800, 600));

    // A host that creates the editor and never gives it a parent: no window anywhere.
    const int before = rootChildren();
    ASSERT_TRUE(gui.create(pl->p, CLAP_WINDOW_API_X11, false));
    gui.destroy(pl->p);
    EXPECT_EQ(rootChildren(), before);
    EXPECT_TRUE(host.timerIds.empty());

    ASSERT_TRUE(gui.create(pl->p, CLAP_WINDOW_API_X11, false));
    clap_window_t wrong{};
    wrong.api = CLAP_WINDOW_API_WIN32;
    EXPECT_FALSE(gui.set_parent(pl->p, &wrong));
    EXPECT_FALSE(gui.set_parent(pl->p, nullptr));
    const clap_window_t parent = window();
    ASSERT_TRUE(gui.set_parent(pl->p, &parent));
    EXPECT_TRUE(gui.show(pl->p));
    EXPECT_EQ(childCount(dpy, frame), 1);
    ASSERT_EQ(host.timerIds.size(), 1u);
    EXPECT_EQ(host.timerPeriod, 100u) << "10 Hz";
    runTimer(*pl, 400);
    const qltest::Picture picture = qltest::grab(dpy, frame, kWidth, kHeight);
    ASSERT_EQ(picture.width, kWidth);
    EXPECT_TRUE(picture.at(230, 300).lightGrey()) << "panel body";
    EXPECT_TRUE(picture.at(100, 345).dark()) << "bottom bar";
    EXPECT_TRUE(picture.at(262, 36).green()) << "left feedback on, lit";
#ifdef QL_TEST_PNG
    if (const char* path = std::getenv("QL_CLAP_SCREENSHOT")) {
        std::vector<unsigned char> rgb;
        for (const qltest::Rgb& c : picture.pixels)
            rgb.insert(rgb.end(), {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)});
        EXPECT_NE(stbi_write_png(path, kWidth, kHeight, 3, rgb.data(), kWidth * 3), 0);
    }
#endif

    // A click on the left feedback button, with no audio running: the host is asked for a flush
    // and hears a whole gesture.
    const int flushesBefore = host.flushRequests;
    click(262, 36);
    runTimer(*pl, 500);
    EXPECT_GT(host.flushRequests, flushesBefore);
    InputEvents none;
    const auto sent = pl->flush(none);
    const std::vector<SentEvent> gesture = {
        {CLAP_EVENT_PARAM_GESTURE_BEGIN, ql::LeftFeedbackOn, 0.0},
        {CLAP_EVENT_PARAM_VALUE, ql::LeftFeedbackOn, 0.0},
        {CLAP_EVENT_PARAM_GESTURE_END, ql::LeftFeedbackOn, 0.0}};
    EXPECT_EQ(sent, gesture);
    EXPECT_EQ(pl->value(ql::LeftFeedbackOn), 0.0);

    // While the audio runs, the next block tells the host, unasked.
    ASSERT_TRUE(pl->p->activate(pl->p, kRate, 1, kBlock));
    ASSERT_TRUE(pl->p->start_processing(pl->p));
    const int flushesProcessing = host.flushRequests;
    click(262, 36);
    runTimer(*pl, 500);
    EXPECT_EQ(host.flushRequests, flushesProcessing);
    float l[kBlock] = {}, r[kBlock] = {};
    OutputEvents out;
    Block b(l, r, l, r, kBlock, none, out);
    EXPECT_EQ(pl->p->process(pl->p, &b.process), CLAP_PROCESS_CONTINUE);
    ASSERT_EQ(out.events.size(), 3u);
    EXPECT_EQ(out.events[1], (SentEvent{CLAP_EVENT_PARAM_VALUE, ql::LeftFeedbackOn, 1.0}));
    pl->p->stop_processing(pl->p);
    pl->p->deactivate(pl->p);

    gui.destroy(pl->p);
    EXPECT_EQ(childCount(dpy, frame), 0);
    EXPECT_TRUE(host.timerIds.empty());
    gui.destroy(pl->p);

    // Destroying the plug-in with its editor open closes it.
    ASSERT_TRUE(gui.create(pl->p, CLAP_WINDOW_API_X11, false));
    ASSERT_TRUE(gui.set_parent(pl->p, &parent));
    EXPECT_EQ(childCount(dpy, frame), 1);
    pl.reset();
    EXPECT_EQ(childCount(dpy, frame), 0);
    EXPECT_TRUE(host.timerIds.empty());
}

#endif

#ifdef _WIN32

// The Win32 editor inside a host's window: a child window while open, none after destroy.
TEST_F(ClapTest, EmbeddedWin32EditorOnTheHostsTimer) {
    auto pl = make(host);
    const clap_plugin_gui_t& gui = *pl->gui;
    EXPECT_TRUE(gui.is_api_supported(pl->p, CLAP_WINDOW_API_WIN32, false));
    EXPECT_FALSE(gui.is_api_supported(pl->p, CLAP_WINDOW_API_X11, false));
    HWND frame = CreateWindowExA(0, "STATIC", "CLAP test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                 0, 640, 420, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(gui.create(pl->p, CLAP_WINDOW_API_WIN32, false));
    clap_window_t parent{};
    parent.api = CLAP_WINDOW_API_WIN32;
    parent.win32 = frame;
    ASSERT_TRUE(gui.set_parent(pl->p, &parent));
    EXPECT_NE(GetWindow(frame, GW_CHILD), nullptr);
    ASSERT_EQ(host.timerIds.size(), 1u);
    for (int i = 0; i < 10; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        pl->timer->on_timer(pl->p, host.timerIds[0]);
        Sleep(20);
    }
    gui.destroy(pl->p);
    EXPECT_EQ(GetWindow(frame, GW_CHILD), nullptr);
    EXPECT_TRUE(host.timerIds.empty());
    DestroyWindow(frame);
}

#endif
