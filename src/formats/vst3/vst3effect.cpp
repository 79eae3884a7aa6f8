#include "formats/vst3/vst3effect.h"

#include "effect/paramtable.h"
#include "effect/state.h"
#include "formats/vst3/vst3view.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace ql::formats::vst3 {

void toUtf16(std::string_view text, int16_t* out, std::size_t capacity) {
    if (capacity == 0) return;
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size() && n + 1 < capacity;) {
        // UTF-8 to code points of the basic plane; anything malformed becomes '?'.
        const auto c = static_cast<unsigned char>(text[i]);
        char32_t cp = '?';
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
            cp = char32_t(c & 0x1F) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3F);
            len = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size()) {
            cp = char32_t(c & 0x0F) << 12 |
                 char32_t(static_cast<unsigned char>(text[i + 1]) & 0x3F) << 6 |
                 (static_cast<unsigned char>(text[i + 2]) & 0x3F);
            len = 3;
        }
        out[n++] = static_cast<int16_t>(static_cast<std::uint16_t>(cp));
        i += len;
    }
    out[n] = 0;
}

std::size_t fromUtf16(const int16_t* text, char* out, std::size_t capacity) {
    if (capacity == 0) return 0;
    std::size_t n = 0;
    for (; text && *text && n + 3 < capacity; ++text) {
        const auto cp = static_cast<std::uint16_t>(*text);
        if (cp < 0x80) {
            out[n++] = static_cast<char>(cp);
        } else if (cp < 0x800) {
            out[n++] = static_cast<char>(0xC0 | (cp >> 6));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out[n++] = static_cast<char>(0xE0 | (cp >> 12));
            out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    out[n] = '\0';
    return n;
}

namespace {

// The 40 named parameters in index order; the spare indices are not offered at all.
struct NamedIndices {
    std::int32_t index[kNumNamedParams] = {};
    constexpr NamedIndices() {
        int n = 0;
        for (int i = 0; i < kNumParams; ++i)
            if (!kParamTable[i].isSpare()) index[n++] = i;
    }
};
constexpr NamedIndices kNamed;
constexpr std::int32_t kParameterCount = kNumNamedParams + 1; // and the program change

bool isNamedParam(v3_param_id id) {
    return id < v3_param_id(kNumParams) && !kParamTable[id].isSpare();
}

const char* unitOf(ParamKind kind) {
    switch (kind) {
    case ParamKind::Level:
    case ParamKind::Threshold:
        return "dB";
    case ParamKind::DelayTime:
    case ParamKind::InitialOffset:
        return "/16";
    case ParamKind::Frequency:
        return "Hz";
    case ParamKind::Resonance:
    case ParamKind::Range:
    case ParamKind::Speed:
        return "%";
    case ParamKind::Tempo:
        return "BPM";
    default:
        return "";
    }
}

std::int32_t programOf(double normalised) {
    return std::clamp(static_cast<std::int32_t>(std::lround(normalised * (kNumPrograms - 1))), 0,
                      kNumPrograms - 1);
}

bool sameTuid(const v3_tuid a, const v3_tuid b) {
    return std::memcmp(a, b, sizeof(v3_tuid)) == 0;
}

// The host's stream gives and takes bytes in pieces of its choosing.
std::size_t readFully(v3_bstream** stream, void* buffer, std::size_t size) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const auto want = static_cast<std::int32_t>(
            std::min<std::size_t>(size - done, std::numeric_limits<std::int32_t>::max()));
        std::int32_t got = 0;
        if (v3_cpp_obj(stream)->read(stream, bytes + done, want, &got) != V3_OK || got <= 0 ||
            got > want)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool writeFully(v3_bstream** stream, const std::vector<std::uint8_t>& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const auto want = static_cast<std::int32_t>(data.size() - done);
        std::int32_t put = 0;
        if (v3_cpp_obj(stream)->write(stream, const_cast<std::uint8_t*>(data.data() + done), want,
                                      &put) != V3_OK ||
            put <= 0 || put > want)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::uint32_t littleU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// How long an editor's value outranks the host's queues after its gesture ended: long enough
// for a host to echo it back, short enough not to hide the host's own automation.
constexpr double kEchoGuardSeconds = 0.5;

} // namespace

// The interfaces' functions. `self` is the face the host called through.
struct Effect::Api {
    static Effect* of(void* self) { return ownerOf<Effect>(self); }

    // FUnknown, the same on every face.
    static v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj) {
        if (!obj) return V3_INVALID_ARG;
        *obj = of(self)->query(iid);
        return *obj ? V3_OK : V3_NO_INTERFACE;
    }
    static uint32_t V3_API ref(void* self) { return of(self)->ref(); }
    static uint32_t V3_API unref(void* self) { return of(self)->unref(); }

    // IPluginBase, on the component and the controller alike.
    static v3_result V3_API initialize(void* self, v3_funknown** context) {
        Effect* e = of(self);
        if (e->hostContext_) return V3_OK; // the controller face of the same object
        e->hostContext_ = context;
        if (context) v3_cpp_obj_ref(context);
        return V3_OK;
    }
    static v3_result V3_API terminate(void* self) {
        Effect* e = of(self);
        if (e->hostContext_) {
            v3_funknown** context = e->hostContext_;
            e->hostContext_ = nullptr;
            v3_cpp_obj_unref(context);
        }
        return V3_OK;
    }

    // IComponent.
    static v3_result V3_API getControllerClassId(void*, v3_tuid) {
        return V3_NOT_IMPLEMENTED; // the component is its own controller
    }
    static v3_result V3_API setIoMode(void*, int32_t) { return V3_OK; }
    static int32_t V3_API getBusCount(void*, int32_t mediaType, int32_t direction) {
        return mediaType == V3_AUDIO && (direction == V3_INPUT || direction == V3_OUTPUT) ? 1 : 0;
    }
    static v3_result V3_API getBusInfo(void*, int32_t mediaType, int32_t direction, int32_t index,
                                       v3_bus_info* info) {
        if (!info || mediaType != V3_AUDIO || index != 0 ||
            (direction != V3_INPUT && direction != V3_OUTPUT))
            return V3_INVALID_ARG;
        *info = v3_bus_info{};
        info->media_type = V3_AUDIO;
        info->direction = direction;
        info->channel_count = 2;
        toUtf16(direction == V3_INPUT ? "Stereo In" : "Stereo Out", info->bus_name, 128);
        info->bus_type = V3_MAIN;
        info->flags = V3_DEFAULT_ACTIVE;
        return V3_OK;
    }
    static v3_result V3_API getRoutingInfo(void*, v3_routing_info*, v3_routing_info*) {
        return V3_FALSE;
    }
    static v3_result V3_API activateBus(void*, int32_t mediaType, int32_t direction, int32_t index,
                                        v3_bool) {
        return mediaType == V3_AUDIO && index == 0 &&
                       (direction == V3_INPUT || direction == V3_OUTPUT)
                   ? V3_OK
                   : V3_INVALID_ARG;
    }
    static v3_result V3_API setActive(void* self, v3_bool state) {
        Effect* e = of(self);
        if (state && !e->active_) e->bridge_.start();
        if (!state && e->active_) e->bridge_.stop();
        e->active_ = state != 0;
        return V3_OK;
    }
    static v3_result V3_API setState(void* self, v3_bstream** stream) {
        return of(self)->readComponentState(stream) ? V3_OK : V3_FALSE;
    }
    static v3_result V3_API getState(void* self, v3_bstream** stream) {
        if (!stream) return V3_INVALID_ARG;
        return writeFully(stream, of(self)->bridge_.saveState()) ? V3_OK : V3_FALSE;
    }

    // IAudioProcessor.
    static v3_result V3_API setBusArrangements(void*, v3_speaker_arrangement* inputs,
                                               int32_t numInputs, v3_speaker_arrangement* outputs,
                                               int32_t numOutputs) {
        // Stereo in, stereo out, nothing else.
        const bool stereo = inputs && outputs && numInputs == 1 && numOutputs == 1 &&
                            inputs[0] == kStereo && outputs[0] == kStereo;
        return stereo ? V3_OK : V3_FALSE;
    }
    static v3_result V3_API getBusArrangement(void*, int32_t direction, int32_t index,
                                              v3_speaker_arrangement* arrangement) {
        if (!arrangement || index != 0 || (direction != V3_INPUT && direction != V3_OUTPUT))
            return V3_INVALID_ARG;
        *arrangement = kStereo;
        return V3_OK;
    }
    static v3_result V3_API canProcessSampleSize(void*, int32_t size) {
        return size == V3_SAMPLE_32 ? V3_OK : V3_FALSE;
    }
    static uint32_t V3_API getLatencySamples(void*) { return 0; }
    static v3_result V3_API setupProcessing(void* self, v3_process_setup* setup) {
        if (!setup || setup->symbolic_sample_size != V3_SAMPLE_32 ||
            !(setup->sample_rate > 0.0 && setup->sample_rate < 1e7) || setup->max_block_size < 0)
            return V3_FALSE;
        Effect* e = of(self);
        e->sampleRate_ = setup->sample_rate;
        e->maxBlock_ = setup->max_block_size;
        e->bridge_.setSampleRate(setup->sample_rate);
        e->bridge_.setBlockSize(setup->max_block_size);
        return V3_OK;
    }
    static v3_result V3_API setProcessing(void*, v3_bool) { return V3_OK; }
    static v3_result V3_API process(void* self, v3_process_data* data) {
        if (!data) return V3_INVALID_ARG;
        Effect* e = of(self);
        // Every change a queue holds for this block applies at its start, as a VST 2 host sets
        // parameters between blocks: the engine works frame by frame, and the same values at the
        // same frames keep every format's render equal to the VST 2 one.
        e->applyParameterChanges(data->input_params);
        // Values a program change or a state set behind the host's back: the host's copy of
        // them follows the output changes.
        e->reportValues(data->output_params);
        const int32_t frames = data->nframes;
        if (frames < 0 || data->symbolic_sample_size != V3_SAMPLE_32) return V3_INVALID_ARG;
        auto stereoBus = [](v3_audio_bus_buffers* buses, int32_t count) -> float** {
            if (!buses || count < 1 || buses[0].num_channels != 2) return nullptr;
            float** channels = buses[0].channel_buffers_32;
            return channels && channels[0] && channels[1] ? channels : nullptr;
        };
        float** out = stereoBus(data->outputs, data->num_output_buses);
        if (frames == 0 || !out) return V3_OK; // nothing to write: the values are taken
        float** in = stereoBus(data->inputs, data->num_input_buses);
        if (!in) {
            // No input: the effect hears silence (processed in place).
            std::fill_n(out[0], frames, 0.0f);
            std::fill_n(out[1], frames, 0.0f);
            in = out;
        }
        Transport transport;
        if (const v3_process_context* ctx = data->ctx) {
            transport.present = true;
            transport.hasTempo = (ctx->state & V3_PROCESS_CTX_TEMPO_VALID) != 0;
            transport.tempo = ctx->bpm;
            transport.hasSamplePos = true;
            transport.samplePos = static_cast<double>(ctx->project_time_in_samples);
        }
        e->bridge_.process(in, out, frames, transport);
        data->outputs[0].channel_silence_bitset = 0;
        e->framesProcessed_.fetch_add(frames, std::memory_order_relaxed);
        return V3_OK;
    }
    static uint32_t V3_API getTailSamples(void*) { return kInfiniteTail; }

    // IProcessContextRequirements: the tempo and the position are all it reads.
    static uint32_t V3_API getProcessContextRequirements(void*) {
        return V3_PROCESS_CTX_NEED_TEMPO | V3_PROCESS_CTX_NEED_PROJECT_TIME;
    }

    // IEditController.
    static v3_result V3_API setComponentState(void* self, v3_bstream** stream) {
        // The controller's values are the effect's: the same blob, read once more. Loading it
        // twice leaves the same state, and a blob refused here was refused by setState too.
        return of(self)->readComponentState(stream) ? V3_OK : V3_FALSE;
    }
    static v3_result V3_API controllerSetState(void*, v3_bstream** stream) {
        return stream ? V3_OK : V3_INVALID_ARG; // everything is in the component's state
    }
    static v3_result V3_API controllerGetState(void*, v3_bstream** stream) {
        return stream ? V3_OK : V3_INVALID_ARG;
    }
    static int32_t V3_API getParameterCount(void*) { return kParameterCount; }
    static v3_result V3_API getParameterInfo(void*, int32_t index, v3_param_info* info) {
        if (!info || index < 0 || index >= kParameterCount) return V3_INVALID_ARG;
        *info = v3_param_info{};
        info->unit_id = kRootUnitId;
        if (index == kNumNamedParams) {
            info->param_id = kProgramParamId;
            toUtf16("Program", info->title, 128);
            toUtf16("Program", info->short_title, 128);
            info->step_count = kNumPrograms - 1;
            info->flags = V3_PARAM_PROGRAM_CHANGE | V3_PARAM_IS_LIST | V3_PARAM_CAN_AUTOMATE;
            return V3_OK;
        }
        const ParamInfo& p = kParamTable[kNamed.index[index]];
        info->param_id = static_cast<v3_param_id>(p.index);
        toUtf16(p.title, info->title, 128);
        toUtf16(p.title, info->short_title, 128);
        toUtf16(unitOf(p.kind), info->units, 128);
        info->step_count = p.isStepped() ? 1 : 0;
        info->default_normalised_value = p.defaultValue;
        info->flags = V3_PARAM_CAN_AUTOMATE;
        return V3_OK;
    }
    static v3_result V3_API getParamStringByValue(void* self, v3_param_id id, double value,
                                                  v3_str_128 out) {
        if (!out || !std::isfinite(value)) return V3_INVALID_ARG;
        Effect* e = of(self);
        value = std::clamp(value, 0.0, 1.0);
        if (id == kProgramParamId) {
            toUtf16(e->bridge_.programName(programOf(value)), out, 128);
            return V3_OK;
        }
        if (!isNamedParam(id)) return V3_INVALID_ARG;
        char text[128];
        e->bridge_.formatValue(static_cast<std::int32_t>(id), static_cast<float>(value), text,
                               sizeof text);
        toUtf16(text, out, 128);
        return V3_OK;
    }
    static v3_result V3_API getParamValueByString(void* self, v3_param_id id, int16_t* input,
                                                  double* out) {
        if (!input || !out) return V3_INVALID_ARG;
        Effect* e = of(self);
        char text[3 * 128 + 1];
        const std::size_t length = fromUtf16(input, text, sizeof text);
        if (id == kProgramParamId) {
            // A program's name, as the host showed it.
            for (std::int32_t p = 0; p < kNumPrograms; ++p) {
                if (e->bridge_.programName(p) == std::string_view(text, length)) {
                    *out = double(p) / (kNumPrograms - 1);
                    return V3_OK;
                }
            }
            return V3_FALSE;
        }
        float value = 0.0f;
        if (!isNamedParam(id) ||
            !e->bridge_.parseValue(static_cast<std::int32_t>(id), {text, length}, value))
            return V3_FALSE;
        *out = value;
        return V3_OK;
    }
    static double V3_API normalisedToPlain(void*, v3_param_id id, double value) {
        return id == kProgramParamId ? double(programOf(value)) : value;
    }
    static double V3_API plainToNormalised(void*, v3_param_id id, double plain) {
        if (id == kProgramParamId)
            return std::clamp(plain, 0.0, double(kNumPrograms - 1)) / (kNumPrograms - 1);
        return std::isfinite(plain) ? std::clamp(plain, 0.0, 1.0) : 0.0;
    }
    static double V3_API getParamNormalised(void* self, v3_param_id id) {
        Effect* e = of(self);
        if (id == kProgramParamId) return double(e->bridge_.currentProgram()) / (kNumPrograms - 1);
        return isNamedParam(id) ? e->bridge_.parameter(static_cast<std::int32_t>(id)) : 0.0;
    }
    static v3_result V3_API setParamNormalised(void* self, v3_param_id id, double value) {
        Effect* e = of(self);
        if (!std::isfinite(value)) return V3_INVALID_ARG;
        if (id == kProgramParamId) {
            // A host chooses a preset here (and often sends the same change through the queues
            // too, which then finds it made). The host hears of the new values later, never
            // from inside its own call: Ardour holds a lock around it that restartComponent takes.
            const std::int32_t program = programOf(value);
            if (program != e->bridge_.currentProgram()) {
                e->bridge_.selectProgram(program);
                e->valuesChanged_.store(true, std::memory_order_relaxed);
            }
            return V3_OK;
        }
        // The host telling the controller what it sends the processor through the queues. The
        // controller's values are the effect's, which the queues set: setting them here too
        // would let an older value overtake a newer edit.
        return isNamedParam(id) ? V3_OK : V3_INVALID_ARG;
    }
    static v3_result V3_API setComponentHandler(void* self, v3_component_handler** handler) {
        Effect* e = of(self);
        if (handler) v3_cpp_obj_ref(handler);
        if (e->handler_) v3_cpp_obj_unref(e->handler_);
        e->handler_ = handler;
        return V3_OK;
    }
    static v3_plugin_view** V3_API createView(void* self, const char* name) {
        if (!name || std::strcmp(name, "editor") != 0) return nullptr;
        return createEditorView(*of(self));
    }

    // IUnitInfo: one unit holding one program list, the 40 programs.
    static int32_t V3_API getUnitCount(void*) { return 1; }
    static v3_result V3_API getUnitInfo(void*, int32_t index, v3_unit_info* info) {
        if (!info || index != 0) return V3_INVALID_ARG;
        *info = v3_unit_info{};
        info->id = kRootUnitId;
        info->parent_unit_id = -1;
        toUtf16("Root", info->name, 128);
        info->program_list_id = kProgramListId;
        return V3_OK;
    }
    static int32_t V3_API getProgramListCount(void*) { return 1; }
    static v3_result V3_API getProgramListInfo(void*, int32_t index, v3_program_list_info* info) {
        if (!info || index != 0) return V3_INVALID_ARG;
        *info = v3_program_list_info{};
        info->id = kProgramListId;
        toUtf16("Programs", info->name, 128);
        info->programCount = kNumPrograms;
        return V3_OK;
    }
    static v3_result V3_API getProgramName(void* self, int32_t list, int32_t program,
                                           v3_str_128 name) {
        if (!name || list != kProgramListId || program < 0 || program >= kNumPrograms)
            return V3_INVALID_ARG;
        toUtf16(of(self)->bridge_.programName(program), name, 128);
        return V3_OK;
    }
    static v3_result V3_API getProgramInfo(void*, int32_t, int32_t, const char*, v3_str_128) {
        return V3_FALSE;
    }
    static v3_result V3_API hasProgramPitchNames(void*, int32_t, int32_t) { return V3_FALSE; }
    static v3_result V3_API getProgramPitchName(void*, int32_t, int32_t, int16_t, v3_str_128) {
        return V3_FALSE;
    }
    static int32_t V3_API getSelectedUnit(void*) { return kRootUnitId; }
    static v3_result V3_API selectUnit(void*, int32_t unit) {
        return unit == kRootUnitId ? V3_OK : V3_INVALID_ARG;
    }
    static v3_result V3_API getUnitByBus(void*, int32_t, int32_t, int32_t, int32_t, int32_t* unit) {
        if (!unit) return V3_INVALID_ARG;
        *unit = kRootUnitId;
        return V3_OK;
    }
    static v3_result V3_API setUnitProgramData(void*, int32_t, int32_t, v3_bstream**) {
        return V3_NOT_IMPLEMENTED;
    }
};

namespace {
#define QL_V3_UNKNOWN                                                                              \
    { &Effect::Api::queryInterface, &Effect::Api::ref, &Effect::Api::unref }

const v3_component_cpp kComponentVtable = {
    QL_V3_UNKNOWN,
    {&Effect::Api::initialize, &Effect::Api::terminate},
    {&Effect::Api::getControllerClassId, &Effect::Api::setIoMode, &Effect::Api::getBusCount,
     &Effect::Api::getBusInfo, &Effect::Api::getRoutingInfo, &Effect::Api::activateBus,
     &Effect::Api::setActive, &Effect::Api::setState, &Effect::Api::getState},
};

const v3_audio_processor_cpp kProcessorVtable = {
    QL_V3_UNKNOWN,
    {&Effect::Api::setBusArrangements, &Effect::Api::getBusArrangement,
     &Effect::Api::canProcessSampleSize, &Effect::Api::getLatencySamples,
     &Effect::Api::setupProcessing, &Effect::Api::setProcessing, &Effect::Api::process,
     &Effect::Api::getTailSamples},
};

const v3_edit_controller_cpp kControllerVtable = {
    QL_V3_UNKNOWN,
    {&Effect::Api::initialize, &Effect::Api::terminate},
    {&Effect::Api::setComponentState, &Effect::Api::controllerSetState,
     &Effect::Api::controllerGetState, &Effect::Api::getParameterCount,
     &Effect::Api::getParameterInfo, &Effect::Api::getParamStringByValue,
     &Effect::Api::getParamValueByString, &Effect::Api::normalisedToPlain,
     &Effect::Api::plainToNormalised, &Effect::Api::getParamNormalised,
     &Effect::Api::setParamNormalised, &Effect::Api::setComponentHandler, &Effect::Api::createView},
};

const v3_unit_information_cpp kUnitsVtable = {
    QL_V3_UNKNOWN,
    {&Effect::Api::getUnitCount, &Effect::Api::getUnitInfo, &Effect::Api::getProgramListCount,
     &Effect::Api::getProgramListInfo, &Effect::Api::getProgramName, &Effect::Api::getProgramInfo,
     &Effect::Api::hasProgramPitchNames, &Effect::Api::getProgramPitchName,
     &Effect::Api::getSelectedUnit, &Effect::Api::selectUnit, &Effect::Api::getUnitByBus,
     &Effect::Api::setUnitProgramData},
};

const v3_process_context_requirements_cpp kContextRequirementsVtable = {
    QL_V3_UNKNOWN,
    {&Effect::Api::getProcessContextRequirements},
};
#undef QL_V3_UNKNOWN

void editListener(void* context) {
    static_cast<Effect*>(context)->flushEdits();
}
} // namespace

Effect::Effect()
    : component_{&kComponentVtable, this}, processor_{&kProcessorVtable, this},
      controller_{&kControllerVtable, this}, units_{&kUnitsVtable, this},
      contextRequirements_{&kContextRequirementsVtable, this}, bridge_(HostNames{kVendor, kName}) {
    if (bridge_.valid()) bridge_.setEditListener(&editListener, this);
}

Effect::~Effect() {
    if (handler_) v3_cpp_obj_unref(handler_);
    if (hostContext_) v3_cpp_obj_unref(hostContext_);
}

Effect* Effect::create() {
    auto* effect = new (std::nothrow) Effect();
    if (effect && !effect->bridge_.valid()) {
        delete effect;
        return nullptr;
    }
    return effect;
}

void* Effect::query(const v3_tuid iid) {
    void* face = nullptr;
    if (sameTuid(iid, v3_funknown_iid) || sameTuid(iid, v3_plugin_base_iid) ||
        sameTuid(iid, v3_component_iid))
        face = &component_;
    else if (sameTuid(iid, v3_audio_processor_iid))
        face = &processor_;
    else if (sameTuid(iid, v3_edit_controller_iid))
        face = &controller_;
    else if (sameTuid(iid, v3_unit_information_iid))
        face = &units_;
    else if (sameTuid(iid, v3_process_context_requirements_iid))
        face = &contextRequirements_;
    if (face) ref();
    return face;
}

std::uint32_t Effect::ref() {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::uint32_t Effect::unref() {
    const std::uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

bool Effect::readComponentState(v3_bstream** stream) {
    if (!stream) return false;
    // Exactly the blob's bytes: the host's stream may hold more after it (Ardour's preset file
    // has the controller's chunk and a chunk list behind the component's).
    std::vector<std::uint8_t> blob(kStateHeaderSize);
    if (readFully(stream, blob.data(), blob.size()) != blob.size()) return false;
    std::size_t size = kStateHeaderSize;
    if (std::memcmp(blob.data(), "QLST", 4) == 0 && littleU32(blob.data() + 4) == kStateVersion &&
        littleU32(blob.data() + 8) == kStateHeaderSize &&
        littleU32(blob.data() + 12) == std::uint32_t(kNumParams) &&
        littleU32(blob.data() + 16) == std::uint32_t(kNumPrograms) &&
        littleU32(blob.data() + 20) == EffectState::kNameField) {
        blob.resize(kStateSize);
        size += readFully(stream, blob.data() + kStateHeaderSize, kStateSize - kStateHeaderSize);
    }
    // What the header does not describe as this version's state is refused by the loader.
    if (bridge_.loadState(blob.data(), size) != StateResult::Ok) return false;
    valuesChanged_.store(true, std::memory_order_relaxed);
    return true;
}

void Effect::tellHostValuesChanged() {
    if (handler_ && valuesChanged_.exchange(false, std::memory_order_relaxed))
        v3_cpp_obj(handler_)->restart_component(handler_, V3_RESTART_PARAM_VALUES_CHANGED);
}

void Effect::reportValues(v3_param_changes** changes) {
    if (!changes || !valuesChanged_.exchange(false, std::memory_order_relaxed)) return;
    for (std::int32_t index : kNamed.index) {
        auto id = static_cast<v3_param_id>(index);
        int32_t slot = 0;
        v3_param_value_queue** queue = v3_cpp_obj(changes)->add_param_data(changes, &id, &slot);
        if (queue) v3_cpp_obj(queue)->add_point(queue, 0, bridge_.parameter(index), &slot);
    }
}

bool Effect::acceptHostValue(std::int32_t index, float value) {
    const std::int64_t until = editGuardUntil_[index].load(std::memory_order_acquire);
    if (until == 0) return true;
    if (value == editValue_[index].load(std::memory_order_relaxed)) {
        // The host has caught up with the editor.
        std::int64_t expected = until;
        editGuardUntil_[index].compare_exchange_strong(expected, 0, std::memory_order_relaxed);
        return true;
    }
    if (framesProcessed_.load(std::memory_order_relaxed) < until) return false;
    editGuardUntil_[index].store(0, std::memory_order_relaxed);
    return true;
}

void Effect::applyParameterChanges(v3_param_changes** changes) {
    if (!changes) return;
    const int32_t count = v3_cpp_obj(changes)->get_param_count(changes);
    for (int32_t i = 0; i < count; ++i) {
        v3_param_value_queue** queue = v3_cpp_obj(changes)->get_param_data(changes, i);
        if (!queue) continue;
        const v3_param_id id = v3_cpp_obj(queue)->get_param_id(queue);
        const int32_t points = v3_cpp_obj(queue)->get_point_count(queue);
        int32_t offset = 0;
        double value = 0.0;
        // The last point is the value the block ends with; it holds from the block's start.
        if (points <= 0 ||
            v3_cpp_obj(queue)->get_point(queue, points - 1, &offset, &value) != V3_OK ||
            !std::isfinite(value))
            continue;
        value = std::clamp(value, 0.0, 1.0);
        if (id == kProgramParamId) {
            const std::int32_t program = programOf(value);
            if (program != bridge_.currentProgram()) {
                bridge_.selectProgram(program);
                valuesChanged_.store(true, std::memory_order_relaxed);
            }
        } else if (isNamedParam(id)) {
            const auto index = static_cast<std::int32_t>(id);
            const auto v = static_cast<float>(value);
            if (acceptHostValue(index, v)) bridge_.setParameter(index, v);
        }
    }
}

void Effect::flushEdits() {
    // Values changed behind the host's back are told first: an edit after them must come last.
    tellHostValuesChanged();
    EditEvent event;
    const std::int64_t now = framesProcessed_.load(std::memory_order_relaxed);
    const auto guardFrames = static_cast<std::int64_t>(kEchoGuardSeconds * sampleRate_);
    while (bridge_.nextEdit(event)) {
        const std::int32_t index = event.index;
        if (index < 0 || index >= kNumParams) continue;
        const auto id = static_cast<v3_param_id>(index);
        switch (event.kind) {
        case EditEvent::Kind::Begin:
            gestureOpen_[index] = true;
            editGuardUntil_[index].store(std::numeric_limits<std::int64_t>::max(),
                                         std::memory_order_release);
            if (handler_) v3_cpp_obj(handler_)->begin_edit(handler_, id);
            break;
        case EditEvent::Kind::Value:
            editValue_[index].store(event.value, std::memory_order_relaxed);
            editGuardUntil_[index].store(
                gestureOpen_[index] ? std::numeric_limits<std::int64_t>::max() : now + guardFrames,
                std::memory_order_release);
            if (handler_) v3_cpp_obj(handler_)->perform_edit(handler_, id, event.value);
            break;
        case EditEvent::Kind::End:
            gestureOpen_[index] = false;
            if (editGuardUntil_[index].load(std::memory_order_relaxed) != 0)
                editGuardUntil_[index].store(now + guardFrames, std::memory_order_release);
            if (handler_) v3_cpp_obj(handler_)->end_edit(handler_, id);
            break;
        }
    }
}

} // namespace ql::formats::vst3
