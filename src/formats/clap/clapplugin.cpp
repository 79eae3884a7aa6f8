// The CLAP plug-in: an adapter on the format bridge. Every value, text, program, state and audio
// block goes through the bridge, so the sound and the texts are those of every other format.
//
// Threads, as CLAP names them: the main thread for set-up, parameters' texts, state, the editor
// and its timer; the audio thread for process() and, while active, flush(). process() and
// flush() never run at once, so whichever runs takes the editor's edits.
#include "formats/clap/clapplugin.h"

#include "effect/paramtable.h"
#include "effect/state.h"
#include "formats/bridge/pluginbridge.h"

#include <clap/events.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-features.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace ql::clap {

namespace {

using formats::EditEvent;
using formats::PluginBridge;
using formats::Transport;

// CLAP has no programs: they are a stepped parameter with an id of its own, outside the effect's
// indices 0..79. Saved automation and sessions refer to it, so it never changes.
constexpr clap_id kProgramParam = 100;
constexpr uint32_t kParamCount = kNumParams + 1;
// The editor's refresh and window-system events, 10 times a second.
constexpr uint32_t kEditorTimerMs = 100;

#if defined(_WIN32)
constexpr const char* kWindowApi = CLAP_WINDOW_API_WIN32;
#else
constexpr const char* kWindowApi = CLAP_WINDOW_API_X11;
#endif

const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_DELAY,
                           CLAP_PLUGIN_FEATURE_STEREO, nullptr};

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION_INIT,
    "audio.quillantrope.quillantrope", // stable: hosts' sessions refer to it
    "Quillantrope",
    "quillantrope.audio",
    "https://quillantrope.audio",
    "",
    "",
    QL_VERSION,
    "Stereo tempo-synchronised delay",
    kFeatures,
};

bool isProgramParam(clap_id id) {
    return id == kProgramParam;
}
bool isEffectParam(clap_id id) {
    return id < clap_id(kNumParams);
}

class Instance {
  public:
    explicit Instance(const clap_host_t* host);
    clap_plugin_t plugin{};

    static Instance* of(const clap_plugin_t* p) {
        return p ? static_cast<Instance*>(p->plugin_data) : nullptr;
    }

    bool init();
    void destroy();
    bool activate(double rate, uint32_t minFrames, uint32_t maxFrames);
    void deactivate();
    bool startProcessing();
    void stopProcessing();
    void reset();
    clap_process_status process(const clap_process_t* p);
    const void* extension(const char* id) const;
    void onMainThread();

    // Parameters.
    bool paramInfo(uint32_t index, clap_param_info_t* info) const;
    bool paramValue(clap_id id, double* value) const;
    bool valueToText(clap_id id, double value, char* display, uint32_t size) const;
    bool textToValue(clap_id id, const char* display, double* value) const;
    void flush(const clap_input_events_t* in, const clap_output_events_t* out);

    // State.
    bool saveState(const clap_ostream_t* stream) const;
    bool loadState(const clap_istream_t* stream);

    // Editor.
    bool guiCreate(const char* api, bool floating);
    void guiDestroy();
    bool guiSetParent(const clap_window_t* window);
    bool guiCreated() const { return editorCreated; }
    void onTimer(clap_id id);

  private:
    template <class T> const T* hostExtension(const char* id) const {
        return host->get_extension ? static_cast<const T*>(host->get_extension(host, id)) : nullptr;
    }
    void applyEvents(const clap_input_events_t* in, const clap_output_events_t* out);
    void setValue(clap_id id, double value, const clap_output_events_t* out);
    void loadProgram(int32_t program, const clap_output_events_t* out);
    void tellEdits(const clap_output_events_t* out);
    void requestFlush() const;
    void closeEditorWindow();
    static void editorEdited(void* context);

    const clap_host_t* host;
    const clap_host_params_t* hostParams = nullptr;
    const clap_host_timer_support_t* hostTimers = nullptr;
    std::unique_ptr<PluginBridge> bridge;

    bool active = false;
    std::atomic<bool> processing{false};
    double sampleRate = 44100.0;
    uint32_t maxFrames = 0;
    // Values the host was not told of on the audio thread, for a rescan on the main thread.
    std::atomic<bool> valuesUntold{false};

    bool editorCreated = false;
    bool timerRunning = false;
    clap_id timerId = 0;
    // Edits whose gesture may still be open, and edits during the current idle call.
    bool editsUntold = false;
    bool editedInIdle = false;
};

// The C entries: each finds its instance and does nothing for a plug-in that never got one.
const clap_plugin_params_t kParams = {
    [](const clap_plugin_t* p) -> uint32_t { return Instance::of(p) ? kParamCount : 0; },
    [](const clap_plugin_t* p, uint32_t index, clap_param_info_t* info) {
        Instance* self = Instance::of(p);
        return self && self->paramInfo(index, info);
    },
    [](const clap_plugin_t* p, clap_id id, double* value) {
        Instance* self = Instance::of(p);
        return self && self->paramValue(id, value);
    },
    [](const clap_plugin_t* p, clap_id id, double value, char* display, uint32_t size) {
        Instance* self = Instance::of(p);
        return self && self->valueToText(id, value, display, size);
    },
    [](const clap_plugin_t* p, clap_id id, const char* display, double* value) {
        Instance* self = Instance::of(p);
        return self && self->textToValue(id, display, value);
    },
    [](const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t* out) {
        if (Instance* self = Instance::of(p)) self->flush(in, out);
    },
};

const clap_plugin_state_t kState = {
    [](const clap_plugin_t* p, const clap_ostream_t* stream) {
        Instance* self = Instance::of(p);
        return self && self->saveState(stream);
    },
    [](const clap_plugin_t* p, const clap_istream_t* stream) {
        Instance* self = Instance::of(p);
        return self && self->loadState(stream);
    },
};

const clap_plugin_audio_ports_t kAudioPorts = {
    [](const clap_plugin_t*, bool) -> uint32_t { return 1; },
    [](const clap_plugin_t*, uint32_t index, bool isInput, clap_audio_port_info_t* info) {
        if (index != 0 || !info) return false;
        *info = clap_audio_port_info_t{};
        info->id = 0;
        std::snprintf(info->name, sizeof info->name, "%s", isInput ? "Input" : "Output");
        info->flags = CLAP_AUDIO_PORT_IS_MAIN;
        info->channel_count = 2;
        info->port_type = CLAP_PORT_STEREO;
        info->in_place_pair = 0; // the other direction's port 0: the host may process in place
        return true;
    },
};

const clap_plugin_latency_t kLatency = {
    [](const clap_plugin_t*) -> uint32_t { return 0; },
};

bool apiSupported(const char* api, bool floating) {
    return api && !floating && std::strcmp(api, kWindowApi) == 0;
}

const clap_plugin_gui_t kGui = {
    [](const clap_plugin_t*, const char* api, bool floating) {
        return apiSupported(api, floating);
    },
    [](const clap_plugin_t*, const char** api, bool* floating) {
        if (api) *api = kWindowApi;
        if (floating) *floating = false;
        return true;
    },
    [](const clap_plugin_t* p, const char* api, bool floating) {
        Instance* self = Instance::of(p);
        return self && self->guiCreate(api, floating);
    },
    [](const clap_plugin_t* p) {
        if (Instance* self = Instance::of(p)) self->guiDestroy();
    },
    // The window has a fixed size in pixels: no scale, no resizing.
    [](const clap_plugin_t*, double) { return false; },
    [](const clap_plugin_t*, uint32_t* width, uint32_t* height) {
        if (!width || !height) return false;
        *width = PluginBridge::kEditorWidth;
        *height = PluginBridge::kEditorHeight;
        return true;
    },
    [](const clap_plugin_t*) { return false; },
    [](const clap_plugin_t*, clap_gui_resize_hints_t*) { return false; },
    [](const clap_plugin_t*, uint32_t*, uint32_t*) { return false; },
    [](const clap_plugin_t*, uint32_t width, uint32_t height) {
        return width == uint32_t(PluginBridge::kEditorWidth) &&
               height == uint32_t(PluginBridge::kEditorHeight);
    },
    [](const clap_plugin_t* p, const clap_window_t* window) {
        Instance* self = Instance::of(p);
        return self && self->guiSetParent(window);
    },
    [](const clap_plugin_t*, const clap_window_t*) { return false; }, // embedded only
    [](const clap_plugin_t*, const char*) {},
    // The embedded window is shown and hidden with its parent.
    [](const clap_plugin_t* p) {
        Instance* self = Instance::of(p);
        return self && self->guiCreated();
    },
    [](const clap_plugin_t* p) {
        Instance* self = Instance::of(p);
        return self && self->guiCreated();
    },
};

const clap_plugin_timer_support_t kTimerSupport = {
    [](const clap_plugin_t* p, clap_id id) {
        if (Instance* self = Instance::of(p)) self->onTimer(id);
    },
};

Instance::Instance(const clap_host_t* h) : host(h) {
    plugin.desc = &kDescriptor;
    plugin.plugin_data = this;
    plugin.init = [](const clap_plugin_t* p) {
        Instance* self = of(p);
        return self && self->init();
    };
    plugin.destroy = [](const clap_plugin_t* p) {
        if (Instance* self = of(p)) self->destroy();
    };
    plugin.activate = [](const clap_plugin_t* p, double rate, uint32_t minFrames,
                         uint32_t maxFrames) {
        Instance* self = of(p);
        return self && self->activate(rate, minFrames, maxFrames);
    };
    plugin.deactivate = [](const clap_plugin_t* p) {
        if (Instance* self = of(p)) self->deactivate();
    };
    plugin.start_processing = [](const clap_plugin_t* p) {
        Instance* self = of(p);
        return self && self->startProcessing();
    };
    plugin.stop_processing = [](const clap_plugin_t* p) {
        if (Instance* self = of(p)) self->stopProcessing();
    };
    plugin.reset = [](const clap_plugin_t* p) {
        if (Instance* self = of(p)) self->reset();
    };
    plugin.process = [](const clap_plugin_t* p, const clap_process_t* process) {
        Instance* self = of(p);
        return self ? self->process(process) : clap_process_status(CLAP_PROCESS_ERROR);
    };
    plugin.get_extension = [](const clap_plugin_t* p, const char* id) {
        Instance* self = of(p);
        return self ? self->extension(id) : nullptr;
    };
    plugin.on_main_thread = [](const clap_plugin_t* p) {
        if (Instance* self = of(p)) self->onMainThread();
    };
}

bool Instance::init() {
    if (bridge) return true;
    try {
        hostParams = hostExtension<clap_host_params_t>(CLAP_EXT_PARAMS);
        hostTimers = hostExtension<clap_host_timer_support_t>(CLAP_EXT_TIMER_SUPPORT);
        auto made = std::make_unique<PluginBridge>(formats::HostNames{host->vendor, host->name});
        if (!made->valid()) return false;
        bridge = std::move(made);
    } catch (...) {
        return false;
    }
    bridge->setEditListener(&Instance::editorEdited, this);
    return true;
}

void Instance::destroy() {
    hostParams = nullptr; // a host being done with the plug-in takes no more requests
    if (editorCreated) guiDestroy();
    if (active) deactivate();
    delete this;
}

bool Instance::activate(double rate, uint32_t, uint32_t frames) {
    if (!bridge || active || !(rate > 0.0 && rate < 1e7) || frames == 0) return false;
    sampleRate = rate;
    maxFrames = std::min<uint32_t>(frames, INT32_MAX);
    bridge->setSampleRate(rate);
    bridge->setBlockSize(int32_t(maxFrames));
    bridge->start();
    active = true;
    return true;
}

void Instance::deactivate() {
    if (!active) return;
    processing.store(false, std::memory_order_release);
    bridge->stop();
    active = false;
}

bool Instance::startProcessing() {
    if (!active) return false;
    processing.store(true, std::memory_order_release);
    return true;
}

void Instance::stopProcessing() {
    processing.store(false, std::memory_order_release);
}

void Instance::reset() {
    // Clears the delay lines; the host tells its tempo again with its next block.
    if (active) bridge->start();
}

// The first port's two channels, or null when the host gave no usable stereo buffer.
float** stereo(const clap_audio_buffer_t* buffers, uint32_t count) {
    if (!buffers || count < 1) return nullptr;
    const clap_audio_buffer_t& b = buffers[0];
    if (b.channel_count < 2 || !b.data32 || !b.data32[0] || !b.data32[1]) return nullptr;
    return b.data32;
}

clap_process_status Instance::process(const clap_process_t* p) {
    if (!bridge || !active || !p) return CLAP_PROCESS_ERROR;
    applyEvents(p->in_events, p->out_events);

    clap_process_status status = CLAP_PROCESS_CONTINUE;
    float** in = stereo(p->audio_inputs, p->audio_inputs_count);
    float** out = stereo(p->audio_outputs, p->audio_outputs_count);
    if (p->frames_count > maxFrames) {
        status = CLAP_PROCESS_ERROR; // more than the host promised: its buffers cannot be trusted
    } else if (!in || !out) {
        if (out)
            for (int c = 0; c < 2; ++c)
                std::fill_n(out[c], p->frames_count, 0.0f);
        status = CLAP_PROCESS_ERROR;
    } else {
        Transport t;
        if (const clap_event_transport_t* tr = p->transport) {
            t.present = true;
            if (tr->flags & CLAP_TRANSPORT_HAS_TEMPO) {
                t.hasTempo = true;
                t.tempo = tr->tempo;
            }
            if (tr->flags & CLAP_TRANSPORT_HAS_SECONDS_TIMELINE) {
                t.hasSamplePos = true;
                t.samplePos =
                    double(tr->song_pos_seconds) / double(CLAP_SECTIME_FACTOR) * sampleRate;
            }
        }
        bridge->process(in, out, int32_t(p->frames_count), t);
    }
    tellEdits(p->out_events);
    // The echoes ring on after the input is quiet: no host may stop the processing for silence.
    return status;
}

const void* Instance::extension(const char* id) const {
    if (!id) return nullptr;
    if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &kParams;
    if (!std::strcmp(id, CLAP_EXT_STATE)) return &kState;
    if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS)) return &kAudioPorts;
    if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &kLatency;
    if (!std::strcmp(id, CLAP_EXT_GUI)) return &kGui;
    if (!std::strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return &kTimerSupport;
    return nullptr;
}

void Instance::onMainThread() {
    if (valuesUntold.exchange(false) && hostParams && hostParams->rescan)
        hostParams->rescan(host, CLAP_PARAM_RESCAN_VALUES);
}

bool Instance::paramInfo(uint32_t index, clap_param_info_t* info) const {
    if (!bridge || !info || index >= kParamCount) return false;
    *info = clap_param_info_t{};
    if (index == kNumParams) {
        info->id = kProgramParam;
        info->flags = CLAP_PARAM_IS_STEPPED;
        std::snprintf(info->name, sizeof info->name, "Program");
        info->min_value = 0.0;
        info->max_value = kNumPrograms - 1;
        info->default_value = 0.0;
        return true;
    }
    const ParamInfo& row = ql::paramInfo(int(index));
    info->id = index;
    if (row.isSpare())
        info->flags = CLAP_PARAM_IS_HIDDEN;
    else
        info->flags = CLAP_PARAM_IS_AUTOMATABLE | (row.isStepped() ? CLAP_PARAM_IS_STEPPED : 0);
    std::snprintf(info->name, sizeof info->name, "%s", row.title);
    info->min_value = 0.0;
    info->max_value = 1.0;
    info->default_value = row.defaultValue;
    return true;
}

bool Instance::paramValue(clap_id id, double* value) const {
    if (!bridge || !value) return false;
    if (isEffectParam(id))
        *value = bridge->parameter(int32_t(id));
    else if (isProgramParam(id))
        *value = bridge->currentProgram();
    else
        return false;
    return true;
}

int32_t programOf(double value) {
    return int32_t(std::clamp(value, 0.0, double(kNumPrograms - 1))); // stepped: truncated
}

bool Instance::valueToText(clap_id id, double value, char* display, uint32_t size) const {
    if (!bridge || !display || size == 0 || value != value) return false;
    if (isEffectParam(id)) {
        bridge->formatValue(int32_t(id), float(std::clamp(value, 0.0, 1.0)), display, size);
        return true;
    }
    if (!isProgramParam(id)) return false;
    std::snprintf(display, size, "%s", bridge->programName(programOf(value)).c_str());
    return true;
}

bool Instance::textToValue(clap_id id, const char* display, double* value) const {
    if (!bridge || !display || !value) return false;
    if (isEffectParam(id)) {
        float v = 0.0f;
        if (!bridge->parseValue(int32_t(id), display, v)) return false;
        *value = v;
        return true;
    }
    if (!isProgramParam(id)) return false;
    for (int32_t program = 0; program < kNumPrograms; ++program) {
        if (bridge->programName(program) == display) {
            *value = program;
            return true;
        }
    }
    return false;
}

void Instance::flush(const clap_input_events_t* in, const clap_output_events_t* out) {
    if (!bridge) return;
    applyEvents(in, out);
    tellEdits(out);
}

void Instance::applyEvents(const clap_input_events_t* in, const clap_output_events_t* out) {
    if (!in || !in->size || !in->get) return;
    // Every change is set before the block, as a VST 2 host sets it.
    const uint32_t count = in->size(in);
    for (uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* h = in->get(in, i);
        if (!h || h->space_id != CLAP_CORE_EVENT_SPACE_ID || h->type != CLAP_EVENT_PARAM_VALUE ||
            h->size < sizeof(clap_event_param_value_t))
            continue;
        const auto& e = *reinterpret_cast<const clap_event_param_value_t*>(h);
        setValue(e.param_id, e.value, out);
    }
}

void Instance::setValue(clap_id id, double value, const clap_output_events_t* out) {
    if (value != value) return; // no number: nothing to set
    if (isEffectParam(id))
        bridge->setParameter(int32_t(id), float(std::clamp(value, 0.0, 1.0)));
    else if (isProgramParam(id))
        loadProgram(programOf(value), out);
}

bool pushValue(const clap_output_events_t* out, clap_id id, double value) {
    clap_event_param_value_t e{};
    e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = id;
    e.note_id = -1;
    e.port_index = e.channel = e.key = -1;
    e.value = value;
    return out && out->try_push && out->try_push(out, &e.header);
}

bool pushGesture(const clap_output_events_t* out, clap_id id, bool begin) {
    clap_event_param_gesture_t e{};
    const uint16_t type = begin ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END;
    e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, type, 0};
    e.param_id = id;
    return out->try_push(out, &e.header);
}

void Instance::loadProgram(int32_t program, const clap_output_events_t* out) {
    // The host hears of every value the program changed, so its view and automation agree.
    float before[kNumParams];
    for (int32_t i = 0; i < kNumParams; ++i)
        before[i] = bridge->parameter(i);
    bridge->selectProgram(program);
    bool untold = false;
    for (int32_t i = 0; i < kNumParams; ++i) {
        const float now = bridge->parameter(i);
        if (std::bit_cast<uint32_t>(now) != std::bit_cast<uint32_t>(before[i]))
            untold |= !pushValue(out, clap_id(i), now);
    }
    if (untold) {
        valuesUntold.store(true);
        if (host->request_callback) host->request_callback(host);
    }
}

void Instance::tellEdits(const clap_output_events_t* out) {
    if (!out || !out->try_push) return; // they wait for a host that can take them
    EditEvent e;
    while (bridge->nextEdit(e)) {
        const clap_id id = clap_id(e.index);
        if (e.kind == EditEvent::Kind::Value)
            pushValue(out, id, e.value);
        else
            pushGesture(out, id, e.kind == EditEvent::Kind::Begin);
    }
}

void Instance::requestFlush() const {
    // While audio runs, the next block takes the edits.
    if (!processing.load(std::memory_order_acquire) && hostParams && hostParams->request_flush)
        hostParams->request_flush(host);
}

void Instance::editorEdited(void* context) {
    Instance* self = static_cast<Instance*>(context);
    self->editsUntold = true;
    self->editedInIdle = true;
    self->requestFlush();
}

bool Instance::saveState(const clap_ostream_t* stream) const {
    if (!bridge || !stream || !stream->write) return false;
    try {
        const std::vector<uint8_t> blob = bridge->saveState();
        // A stream may take any part of what it is given.
        size_t done = 0;
        while (done < blob.size()) {
            const int64_t n = stream->write(stream, blob.data() + done, blob.size() - done);
            if (n <= 0 || uint64_t(n) > blob.size() - done) return false;
            done += size_t(n);
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool Instance::loadState(const clap_istream_t* stream) {
    if (!bridge || !stream || !stream->read) return false;
    try {
        // One byte more than a state holds: a longer stream is refused, not cut.
        std::vector<uint8_t> blob(kStateSize + 1);
        size_t got = 0;
        while (got < blob.size()) {
            const int64_t n = stream->read(stream, blob.data() + got, blob.size() - got);
            if (n == 0) break;
            if (n < 0 || uint64_t(n) > blob.size() - got) return false;
            got += size_t(n);
        }
        if (bridge->loadState(blob.data(), got) != StateResult::Ok) return false;
    } catch (...) {
        return false;
    }
    if (hostParams && hostParams->rescan) hostParams->rescan(host, CLAP_PARAM_RESCAN_VALUES);
    return true;
}

bool Instance::guiCreate(const char* api, bool floating) {
    // Without the host's timer the editor would never be drawn nor hear its events.
    if (!bridge || editorCreated || !apiSupported(api, floating) || !hostTimers ||
        !hostTimers->register_timer || !hostTimers->unregister_timer)
        return false;
    editorCreated = true;
    return true;
}

void Instance::guiDestroy() {
    if (!editorCreated) return;
    closeEditorWindow();
    editorCreated = false;
}

bool Instance::guiSetParent(const clap_window_t* window) {
    if (!editorCreated || !window || !window->api || std::strcmp(window->api, kWindowApi) != 0)
        return false;
#if defined(_WIN32)
    void* parent = window->win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window->x11));
#endif
    if (!parent) return false;
    closeEditorWindow(); // a new parent: the window moves there
    if (!bridge->openEditor(parent)) return false;
    if (!hostTimers->register_timer(host, kEditorTimerMs, &timerId)) {
        bridge->closeEditor();
        return false;
    }
    timerRunning = true;
    return true;
}

void Instance::closeEditorWindow() {
    if (timerRunning) {
        hostTimers->unregister_timer(host, timerId);
        timerRunning = false;
    }
    if (bridge->editorIsOpen()) {
        bridge->closeEditor();
        requestFlush(); // for the ends of open gestures
    }
}

void Instance::onTimer(clap_id id) {
    if (!timerRunning || id != timerId) return;
    editedInIdle = false;
    bridge->idleEditor();
    // An idle call without edits ended the open gestures: the host hears of the ends.
    if (editsUntold && !editedInIdle) {
        editsUntold = false;
        requestFlush();
    }
}

} // namespace

const clap_plugin_descriptor_t& descriptor() {
    return kDescriptor;
}

const clap_plugin_t* createPlugin(const clap_host_t* host) {
    if (!host || !clap_version_is_compatible(host->clap_version)) return nullptr;
    Instance* instance = new (std::nothrow) Instance(host);
    return instance ? &instance->plugin : nullptr;
}

} // namespace ql::clap
