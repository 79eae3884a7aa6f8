// The VST3 build as a host drives it, against its oracle, the effect in a plain VST 2 host: the
// same audio bits, the table's parameters and texts, the programs, the saved state, and safe
// answers to whatever a host may send.
#include "vst3host.h"

#include "effect/paramtable.h"
#include "effect/state.h"
#include "formats/bridge/pluginbridge.h"
#include "shell/pluginfactory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

using namespace vst3host;

namespace {

constexpr v3_param_id kProgramParam = 1000;
constexpr double kRate = 48000.0;
constexpr int kBlock = 512;

const char* modulePath() {
    const char* env = std::getenv("QL_VST3_PLUGIN");
    return env ? env : QL_VST3_PLUGIN_PATH;
}

Module& module() {
    static Module m(modulePath());
    return m;
}

v3_class_info_2 classInfo() {
    v3_plugin_factory_2** f2 = nullptr;
    v3_class_info_2 info{};
    v3_cpp_obj_query_interface(module().factory, v3_plugin_factory_2_iid, &f2);
    if (f2) v3_cpp_obj(f2)->get_class_info_2(f2, 0, &info);
    return info;
}

std::unique_ptr<Instance> newInstance() {
    auto i = std::make_unique<Instance>(module().factory, classInfo().class_id);
    return i->valid() ? std::move(i) : nullptr;
}

std::vector<float> testInput(int frames, int channel) {
    std::vector<float> v(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) // short bursts, as percussion
        v[size_t(i)] = (i % 9000 < 300) ? 0.6f * std::sin(0.05f * float(i) + float(channel)) : 0.0f;
    return v;
}

template <class Process> std::vector<float> render(Process&& process, int frames) {
    const auto inL = testInput(frames, 0), inR = testInput(frames, 1);
    std::vector<float> out(size_t(frames) * 2);
    std::vector<float> l(kBlock), r(kBlock);
    for (int pos = 0; pos < frames; pos += kBlock) {
        const int n = std::min(kBlock, frames - pos);
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

VstTimeInfo gTime{};
bool gHostGivesTime = true;
VstIntPtr QL_VSTCALL plainHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterGetTime)
        return gHostGivesTime ? reinterpret_cast<VstIntPtr>(&gTime) : 0;
    return 0;
}

std::vector<float> renderVst2(int program, double tempo, bool withTime, int frames) {
    gHostGivesTime = withTime;
    AEffect* e = ql::createVstEffect(plainHost);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, float(kRate));
    e->dispatcher(e, effSetBlockSize, 0, kBlock, nullptr, 0.0f);
    e->dispatcher(e, effSetProgram, 0, program, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    auto out = render(
        [&](float** in, float** o, int n, int pos) {
            gTime = VstTimeInfo{};
            gTime.samplePos = pos;
            gTime.sampleRate = kRate;
            gTime.tempo = tempo;
            gTime.flags = kVstTempoValid;
            e->processReplacing(e, in, o, n);
        },
        frames);
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    return out;
}

enum class Time { Tempo, None, ContextWithoutTempo };

// The program is chosen as hosts do: by the controller (a preset) or in the first block's queue.
std::vector<float> renderVst3(int program, double tempo, Time time, bool programByQueue,
                              int frames) {
    auto inst = newInstance();
    if (!inst || !inst->setup(kRate, kBlock)) return {};
    Changes first;
    if (programByQueue)
        first.set(kProgramParam, program / 39.0);
    else
        inst->ctrl()->set_parameter_normalised(inst->controller, kProgramParam, program / 39.0);
    return render(
        [&](float** in, float** o, int n, int pos) {
            v3_process_context ctx{};
            ctx.sample_rate = kRate;
            ctx.project_time_in_samples = pos;
            ctx.bpm = tempo;
            ctx.state = time == Time::Tempo ? V3_PROCESS_CTX_TEMPO_VALID : 0;
            inst->process(in, o, n, time == Time::None ? nullptr : &ctx, pos ? nullptr : &first);
        },
        frames);
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return !a.empty() && a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

std::string text(Instance& i, v3_param_id id, double value) {
    v3_str_128 s{};
    if (i.ctrl()->get_parameter_string_for_value(i.controller, id, value, s) != V3_OK) return "-";
    return utf8(s);
}

v3_result parse(Instance& i, v3_param_id id, const std::string& t, double& value) {
    v3_str_128 s{};
    utf16(t, s, 128);
    return i.ctrl()->get_parameter_value_for_string(i.controller, id, s, &value);
}

} // namespace

TEST(Vst3, FactoryOffersOneDelayEffectWithEveryInterface) {
    ASSERT_NE(module().factory, nullptr) << "no GetPluginFactory in " << modulePath();
    const v3_class_info_2 info = classInfo();
    EXPECT_STREQ(info.category, "Audio Module Class");
    EXPECT_STREQ(info.sub_categories, "Fx|Delay");
    EXPECT_STREQ(info.name, "Quillantrope");
    EXPECT_EQ(v3_cpp_obj(module().factory)->num_classes(module().factory), 1);

    auto inst = newInstance();
    ASSERT_TRUE(inst);
    v3_plugin_view** noView = inst->ctrl()->create_view(inst->controller, "no such view");
    EXPECT_EQ(noView, nullptr);
    EXPECT_EQ(inst->proc()->get_latency_samples(inst->processor), 0u);
    EXPECT_EQ(inst->proc()->get_tail_samples(inst->processor), 0xFFFFFFFFu) << "infinite tail";

    v3_tuid other{};
    void* obj = nullptr;
    EXPECT_NE(v3_cpp_obj(module().factory)
                  ->create_instance(module().factory, other, v3_component_iid, &obj),
              V3_OK);
    EXPECT_EQ(obj, nullptr);
}

TEST(Vst3, RendersTheSameBitsAsVst2ForEveryProgram) {
    const int frames = 30000;
    for (int program = 0; program < 40; ++program) {
        const auto withTempo = renderVst2(program, 97.0, true, frames);
        const auto noTime = renderVst2(program, 97.0, false, frames);
        const bool byQueue = program % 2 == 1;
        EXPECT_TRUE(sameBits(renderVst3(program, 97.0, Time::Tempo, byQueue, frames), withTempo))
            << "program " << program << " at the host's tempo";
        EXPECT_TRUE(sameBits(renderVst3(program, 97.0, Time::None, byQueue, frames), noTime))
            << "program " << program << " with no process context";
        EXPECT_TRUE(
            sameBits(renderVst3(program, 97.0, Time::ContextWithoutTempo, byQueue, frames), noTime))
            << "program " << program << ": a tempo without its valid flag is no tempo";
    }
}

TEST(Vst3, ParametersAreTheTablesWithItsTexts) {
    auto inst = newInstance();
    ASSERT_TRUE(inst && inst->setup(kRate, kBlock));
    ql::formats::PluginBridge oracle;
    oracle.setSampleRate(kRate);

    const int32_t count = inst->ctrl()->get_parameter_count(inst->controller);
    ASSERT_EQ(count, ql::kNumNamedParams + 1);
    std::vector<v3_param_id> ids;
    for (int32_t i = 0; i < count; ++i) {
        v3_param_info p{};
        ASSERT_EQ(inst->ctrl()->get_parameter_info(inst->controller, i, &p), V3_OK);
        if (p.flags & V3_PARAM_PROGRAM_CHANGE) {
            EXPECT_EQ(p.param_id, kProgramParam);
            EXPECT_EQ(p.step_count, 39);
            continue;
        }
        ASSERT_LT(p.param_id, v3_param_id(ql::kNumParams));
        const ql::ParamInfo& row = ql::paramInfo(int(p.param_id));
        EXPECT_FALSE(row.isSpare());
        EXPECT_EQ(utf8(p.title), row.title);
        EXPECT_EQ(p.step_count, row.isStepped() ? 1 : 0) << row.name;
        EXPECT_EQ(p.default_normalised_value, double(row.defaultValue)) << row.name;
        EXPECT_TRUE(p.flags & V3_PARAM_CAN_AUTOMATE);
        ids.push_back(p.param_id);
    }
    ASSERT_EQ(ids.size(), size_t(ql::kNumNamedParams));

    for (v3_param_id id : ids) {
        for (double v : {0.0, 0.3, 0.5, 0.999, 1.0}) {
            char expected[128];
            oracle.formatValue(int(id), float(v), expected, sizeof expected);
            const std::string shown = text(*inst, id, v);
            EXPECT_EQ(shown, expected) << ql::paramInfo(int(id)).name << " at " << v;
            double back = -1.0;
            float oracleBack = -2.0f;
            ASSERT_EQ(oracle.parseValue(int(id), shown, oracleBack),
                      parse(*inst, id, shown, back) == V3_OK)
                << shown;
            if (back >= 0.0) {
                EXPECT_EQ(back, double(oracleBack)) << shown;
            }
        }
        double value = 0.5;
        EXPECT_EQ(parse(*inst, id, "banana", value), V3_FALSE) << "unreadable text is refused";
        EXPECT_EQ(value, 0.5);
    }
    double value = 0.0;
    EXPECT_EQ(text(*inst, 8, 0.5), "-") << "spare indices are no parameters";
    EXPECT_NE(parse(*inst, 8, "0", value), V3_OK);
    EXPECT_EQ(text(*inst, kProgramParam, 15 / 39.0), oracle.programName(15));
    ASSERT_EQ(parse(*inst, kProgramParam, oracle.programName(15), value), V3_OK);
    EXPECT_EQ(value, 15 / 39.0);
}

TEST(Vst3, TheFortyProgramsAreOneProgramListAndReachTheHost) {
    auto inst = newInstance();
    ASSERT_TRUE(inst && inst->setup(kRate, kBlock));
    ql::formats::PluginBridge oracle;
    v3_unit_information* u = inst->unit();
    ASSERT_EQ(u->get_unit_count(inst->units), 1);
    v3_unit_info unit{};
    ASSERT_EQ(u->get_unit_info(inst->units, 0, &unit), V3_OK);
    v3_program_list_info list{};
    ASSERT_EQ(u->get_program_list_info(inst->units, 0, &list), V3_OK);
    EXPECT_EQ(unit.program_list_id, list.id);
    ASSERT_EQ(list.programCount, 40);
    for (int p = 0; p < 40; ++p) {
        v3_str_128 name{};
        ASSERT_EQ(u->get_program_name(inst->units, list.id, p, name), V3_OK);
        EXPECT_EQ(utf8(name), oracle.programName(p));
    }
    v3_str_128 name{};
    EXPECT_NE(u->get_program_name(inst->units, list.id, 40, name), V3_OK);

    // A preset chosen through the controller: the values are the program's at once, and the
    // host's copy follows in the next block's output changes.
    Handler handler;
    inst->ctrl()->set_component_handler(inst->controller, handler.as<v3_component_handler>());
    oracle.selectProgram(27);
    ASSERT_EQ(inst->ctrl()->set_parameter_normalised(inst->controller, kProgramParam, 27 / 39.0),
              V3_OK);
    EXPECT_TRUE(handler.events.empty()) << "no call back into the host from inside its call";
    EXPECT_EQ(inst->value(kProgramParam), 27 / 39.0);
    for (int i = 0; i < ql::kNumParams; ++i) {
        if (ql::paramInfo(i).isSpare()) continue;
        EXPECT_EQ(inst->value(v3_param_id(i)), oracle.parameter(i)) << i;
    }
    float silence[kBlock] = {}, l[kBlock], r[kBlock];
    float* in[2] = {silence, silence};
    float* out[2] = {l, r};
    Changes outChanges;
    inst->process(in, out, kBlock, nullptr, nullptr, &outChanges);
    ASSERT_EQ(outChanges.queues.size(), size_t(ql::kNumNamedParams));
    for (const Queue& q : outChanges.queues)
        EXPECT_EQ(q.points.back().second, oracle.parameter(int(q.id))) << q.id;
}

TEST(Vst3, StateRoundTripsThroughStreamsThatGoInPieces) {
    auto a = newInstance();
    ASSERT_TRUE(a && a->setup(kRate, kBlock));
    Changes changes;
    changes.set(kProgramParam, 12 / 39.0);
    float silence[64] = {}, l[64], r[64];
    float* in[2] = {silence, silence};
    float* out[2] = {l, r};
    a->process(in, out, 64, nullptr, &changes);
    Changes edit;
    edit.set(ql::LeftFeedbackLevel, 0.625);
    a->process(in, out, 64, nullptr, &edit);
    const auto saved = a->state();
    ASSERT_EQ(saved.size(), ql::kStateSize);

    // The component and then the controller take the blob, as hosts restore a session; the
    // stream holds more after it (a host's own chunks), which is left unread.
    auto b = newInstance();
    ASSERT_TRUE(b);
    std::vector<uint8_t> file = saved;
    file.insert(file.end(), {'C', 'o', 'n', 't', 0, 0, 0, 0});
    Stream s(5, file);
    ASSERT_EQ(b->comp()->set_state(b->component, s.as<v3_bstream>()), V3_OK);
    EXPECT_EQ(s.pos, saved.size());
    s.pos = 0;
    ASSERT_EQ(b->ctrl()->set_component_state(b->controller, s.as<v3_bstream>()), V3_OK);
    EXPECT_EQ(b->state(), saved);
    EXPECT_EQ(b->value(kProgramParam), 12 / 39.0);
    EXPECT_EQ(b->value(ql::LeftFeedbackLevel), 0.625);
}

TEST(Vst3, UnreadableStatesAreRefusedAndChangeNothing) {
    auto inst = newInstance();
    ASSERT_TRUE(inst && inst->setup(kRate, kBlock));
    const auto good = inst->state();
    auto variant = [&](size_t offset, std::vector<uint8_t> bytes) {
        auto v = good;
        std::copy(bytes.begin(), bytes.end(), v.begin() + std::ptrdiff_t(offset));
        return v;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<uint8_t> nanBytes(4);
    std::memcpy(nanBytes.data(), &nan, 4);
    std::vector<uint8_t> unterminated(32, 'x');
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> bad = {
        {"empty", {}},
        {"a header only", std::vector<uint8_t>(good.begin(), good.begin() + 28)},
        {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"another magic", variant(0, {'X', 'L', 'S', 'T'})},
        {"a newer version", variant(4, {2, 0, 0, 0})},
        {"version 0", variant(4, {0, 0, 0, 0})},
        {"other sizes", variant(12, {81, 0, 0, 0})},
        {"program 40", variant(24, {40, 0, 0, 0})},
        {"a value not a number", variant(28, nanBytes)},
        {"a name without end", variant(348, unterminated)},
    };
    for (const auto& [what, bytes] : bad) {
        Stream s(3, bytes);
        EXPECT_EQ(inst->comp()->set_state(inst->component, s.as<v3_bstream>()), V3_FALSE) << what;
        s.pos = 0;
        EXPECT_EQ(inst->ctrl()->set_component_state(inst->controller, s.as<v3_bstream>()), V3_FALSE)
            << what;
        EXPECT_EQ(inst->state(), good) << what << " changed the effect";
    }
    EXPECT_NE(inst->comp()->set_state(inst->component, nullptr), V3_OK);
    EXPECT_NE(inst->ctrl()->set_component_state(inst->controller, nullptr), V3_OK);
    EXPECT_NE(inst->comp()->get_state(inst->component, nullptr), V3_OK);
    EXPECT_EQ(inst->state(), good);
}

TEST(Vst3, AbsurdInputIsAnsweredSafely) {
    auto inst = newInstance();
    ASSERT_TRUE(inst);
    v3_audio_processor* p = inst->proc();
    v3_speaker_arrangement stereo = V3_SPEAKER_L | V3_SPEAKER_R, mono = V3_SPEAKER_M,
                           surround = stereo | V3_SPEAKER_C | V3_SPEAKER_LFE | V3_SPEAKER_LS |
                                      V3_SPEAKER_RS;
    v3_speaker_arrangement two[2] = {stereo, stereo};
    EXPECT_EQ(p->set_bus_arrangements(inst->processor, &mono, 1, &mono, 1), V3_FALSE);
    EXPECT_EQ(p->set_bus_arrangements(inst->processor, &stereo, 1, &surround, 1), V3_FALSE);
    EXPECT_EQ(p->set_bus_arrangements(inst->processor, two, 2, &stereo, 1), V3_FALSE);
    EXPECT_EQ(p->set_bus_arrangements(inst->processor, nullptr, 0, &stereo, 1), V3_FALSE);
    EXPECT_EQ(p->set_bus_arrangements(inst->processor, &stereo, 1, &stereo, 1), V3_OK);
    v3_speaker_arrangement got = 0;
    EXPECT_EQ(p->get_bus_arrangement(inst->processor, V3_OUTPUT, 0, &got), V3_OK);
    EXPECT_EQ(got, stereo);
    EXPECT_NE(p->get_bus_arrangement(inst->processor, V3_OUTPUT, 1, &got), V3_OK);
    EXPECT_EQ(inst->comp()->get_bus_count(inst->component, V3_EVENT, V3_INPUT), 0);
    v3_bus_info bus{};
    EXPECT_NE(inst->comp()->get_bus_info(inst->component, V3_AUDIO, V3_INPUT, 1, &bus), V3_OK);
    EXPECT_EQ(p->can_process_sample_size(inst->processor, V3_SAMPLE_64), V3_FALSE);
    v3_process_setup nanRate{V3_REALTIME, V3_SAMPLE_32, kBlock,
                             std::numeric_limits<double>::quiet_NaN()};
    EXPECT_EQ(p->setup_processing(inst->processor, &nanRate), V3_FALSE);
    v3_process_setup wide{V3_REALTIME, V3_SAMPLE_64, kBlock, kRate};
    EXPECT_EQ(p->setup_processing(inst->processor, &wide), V3_FALSE);
    ASSERT_TRUE(inst->setup(kRate, kBlock));

    EXPECT_EQ(p->process(inst->processor, nullptr), V3_INVALID_ARG);
    // 0 frames and no buffers: answered, and its parameter changes are taken.
    const double dry = inst->value(ql::DryLevel);
    Changes changes;
    changes.set(ql::LeftFeedbackLevel, 0.375);
    changes.set(ql::DryLevel, std::numeric_limits<double>::quiet_NaN());
    changes.set(9999, 0.5);
    EXPECT_EQ(inst->process(nullptr, nullptr, 0, nullptr, &changes), V3_OK);
    EXPECT_EQ(inst->value(ql::LeftFeedbackLevel), 0.375);
    EXPECT_EQ(inst->value(ql::DryLevel), dry) << "a value that is no number is ignored";

    // Samples that are no numbers, infinities, huge values; then a block with no input bus.
    const int n = 4096;
    std::vector<float> inL(n), inR(n), l(n), r(n);
    for (int i = 0; i < n; ++i) {
        inL[size_t(i)] = i % 3 == 0   ? std::numeric_limits<float>::quiet_NaN()
                         : i % 3 == 1 ? std::numeric_limits<float>::infinity()
                                      : 1e30f;
        inR[size_t(i)] = -inL[size_t(i)];
    }
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {l.data(), r.data()};
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(inst->process(in, out, n, nullptr), V3_OK);
        for (int i = 0; i < n; ++i)
            ASSERT_TRUE(std::isfinite(l[size_t(i)]) && std::isfinite(r[size_t(i)])) << i;
    }
    v3_audio_bus_buffers outBus{};
    outBus.num_channels = 2;
    outBus.channel_buffers_32 = out;
    v3_process_data d{};
    d.symbolic_sample_size = V3_SAMPLE_32;
    d.nframes = n;
    d.num_output_buses = 1;
    d.outputs = &outBus;
    EXPECT_EQ(p->process(inst->processor, &d), V3_OK);
    for (int i = 0; i < n; ++i)
        ASSERT_TRUE(std::isfinite(l[size_t(i)]) && std::isfinite(r[size_t(i)])) << i;
    outBus.num_channels = 1; // a mono bus is not written
    l[0] = 42.0f;
    EXPECT_EQ(p->process(inst->processor, &d), V3_OK);
    EXPECT_EQ(l[0], 42.0f);
    EXPECT_EQ(inst->comp()->set_active(inst->component, 0), V3_OK);
}
