// A small CLAP host for tests: loads a .clap file through its one exported symbol, offers the
// host extensions a real host offers (each can be withheld), and keeps what the plug-in asked of
// it: flush requests, rescans, timers, callbacks and the events it sent.
#pragma once

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-factory.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace clhost {

inline const clap_plugin_entry_t* loadEntry(const char* path, std::string& error) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        error = std::string("cannot load ") + path;
        return nullptr;
    }
    auto* entry = reinterpret_cast<const clap_plugin_entry_t*>(
        reinterpret_cast<void*>(GetProcAddress(module, "clap_entry")));
#else
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = why ? why : "dlopen failed";
        return nullptr;
    }
    auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(handle, "clap_entry"));
#endif
    if (!entry) error = std::string(path) + " has no clap_entry";
    return entry;
}

// What the plug-in sent: one row per event, whatever its type.
struct SentEvent {
    uint16_t type;
    clap_id id;
    double value; // PARAM_VALUE only
    bool operator==(const SentEvent&) const = default;
};

class OutputEvents {
  public:
    OutputEvents() {
        list.ctx = this;
        list.try_push = [](const clap_output_events_t* l, const clap_event_header_t* e) {
            auto* self = static_cast<OutputEvents*>(l->ctx);
            if (self->refuse) return false;
            SentEvent s{e->type, 0, 0.0};
            if (e->type == CLAP_EVENT_PARAM_VALUE) {
                const auto* v = reinterpret_cast<const clap_event_param_value_t*>(e);
                s.id = v->param_id;
                s.value = v->value;
            } else if (e->type == CLAP_EVENT_PARAM_GESTURE_BEGIN ||
                       e->type == CLAP_EVENT_PARAM_GESTURE_END) {
                s.id = reinterpret_cast<const clap_event_param_gesture_t*>(e)->param_id;
            }
            self->events.push_back(s);
            return true;
        };
    }
    OutputEvents(const OutputEvents&) = delete;
    clap_output_events_t list{};
    std::vector<SentEvent> events;
    bool refuse = false; // a host out of memory
};

class InputEvents {
  public:
    InputEvents() {
        list.ctx = this;
        list.size = [](const clap_input_events_t* l) {
            return uint32_t(static_cast<const InputEvents*>(l->ctx)->events.size());
        };
        list.get = [](const clap_input_events_t* l, uint32_t i) -> const clap_event_header_t* {
            const auto* self = static_cast<const InputEvents*>(l->ctx);
            return i < self->events.size() ? &self->events[i].header : nullptr;
        };
    }
    InputEvents(const InputEvents&) = delete;
    void value(clap_id id, double v, uint32_t time = 0) {
        clap_event_param_value_t e{};
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        e.param_id = id;
        e.note_id = -1;
        e.port_index = e.channel = e.key = -1;
        e.value = v;
        events.push_back(e);
    }
    clap_input_events_t list{};
    std::vector<clap_event_param_value_t> events;
};

class Host {
  public:
    Host() {
        host.host_data = this;
        host.get_extension = [](const clap_host_t* h, const char* id) -> const void* {
            auto* self = static_cast<Host*>(h->host_data);
            if (self->offerParams && !std::strcmp(id, CLAP_EXT_PARAMS)) return &self->params;
            if (self->offerTimers && !std::strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return &self->timers;
            return nullptr;
        };
        host.request_restart = [](const clap_host_t*) {};
        host.request_process = [](const clap_host_t*) {};
        host.request_callback = [](const clap_host_t* h) {
            ++static_cast<Host*>(h->host_data)->callbacks;
        };
        params.rescan = [](const clap_host_t* h, clap_param_rescan_flags flags) {
            static_cast<Host*>(h->host_data)->rescans.push_back(flags);
        };
        params.clear = [](const clap_host_t*, clap_id, clap_param_clear_flags) {};
        params.request_flush = [](const clap_host_t* h) {
            ++static_cast<Host*>(h->host_data)->flushRequests;
        };
        timers.register_timer = [](const clap_host_t* h, uint32_t period, clap_id* id) {
            auto* self = static_cast<Host*>(h->host_data);
            *id = self->nextTimer++;
            self->timerIds.push_back(*id);
            self->timerPeriod = period;
            return true;
        };
        timers.unregister_timer = [](const clap_host_t* h, clap_id id) {
            auto& ids = static_cast<Host*>(h->host_data)->timerIds;
            for (auto it = ids.begin(); it != ids.end(); ++it)
                if (*it == id) {
                    ids.erase(it);
                    return true;
                }
            return false;
        };
    }
    Host(const Host&) = delete;

    clap_host_t host{
        CLAP_VERSION_INIT, nullptr, "CLAP test host", "Quillantrope tests", "", "1", nullptr,
        nullptr,           nullptr, nullptr};
    clap_host_params_t params{};
    clap_host_timer_support_t timers{};
    bool offerParams = true, offerTimers = true;

    int flushRequests = 0, callbacks = 0;
    std::vector<clap_param_rescan_flags> rescans;
    std::vector<clap_id> timerIds;
    uint32_t timerPeriod = 0;
    clap_id nextTimer = 7;
};

// One plug-in instance and its extensions.
struct Plugin {
    const clap_plugin_t* p = nullptr;
    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_state_t* state = nullptr;
    const clap_plugin_audio_ports_t* ports = nullptr;
    const clap_plugin_latency_t* latency = nullptr;
    const clap_plugin_gui_t* gui = nullptr;
    const clap_plugin_timer_support_t* timer = nullptr;

    Plugin(const clap_plugin_factory_t* factory, const clap_host_t* host) {
        p = factory->create_plugin(factory, host, factory->get_plugin_descriptor(factory, 0)->id);
        if (!p || !p->init(p)) return;
        auto ext = [&](const char* id) { return p->get_extension(p, id); };
        params = static_cast<const clap_plugin_params_t*>(ext(CLAP_EXT_PARAMS));
        state = static_cast<const clap_plugin_state_t*>(ext(CLAP_EXT_STATE));
        ports = static_cast<const clap_plugin_audio_ports_t*>(ext(CLAP_EXT_AUDIO_PORTS));
        latency = static_cast<const clap_plugin_latency_t*>(ext(CLAP_EXT_LATENCY));
        gui = static_cast<const clap_plugin_gui_t*>(ext(CLAP_EXT_GUI));
        timer = static_cast<const clap_plugin_timer_support_t*>(ext(CLAP_EXT_TIMER_SUPPORT));
    }
    ~Plugin() {
        if (p) p->destroy(p);
    }
    Plugin(const Plugin&) = delete;
    bool ready() const { return p && params && state && ports && latency && gui && timer; }

    double value(clap_id id) const {
        double v = -1.0;
        params->get_value(p, id, &v);
        return v;
    }
    std::string text(clap_id id, double v) const {
        char s[CLAP_NAME_SIZE] = {};
        return params->value_to_text(p, id, v, s, sizeof s) ? s : "(refused)";
    }
    // The id of the parameter the host shows as `name`, or CLAP_INVALID_ID.
    clap_id idOf(const char* name) const {
        for (uint32_t i = 0; i < params->count(p); ++i) {
            clap_param_info_t info{};
            if (params->get_info(p, i, &info) && !std::strcmp(info.name, name)) return info.id;
        }
        return CLAP_INVALID_ID;
    }
    std::vector<SentEvent> flush(InputEvents& in) {
        OutputEvents out;
        params->flush(p, &in.list, &out.list);
        return out.events;
    }
};

// A process call's buffers and records for one stereo port each way.
struct Block {
    clap_audio_buffer_t in{}, out{};
    clap_event_transport_t transport{};
    clap_process_t process{};
    float* inChannels[2] = {};
    float* outChannels[2] = {};

    Block(float* inL, float* inR, float* outL, float* outR, uint32_t frames, InputEvents& events,
          OutputEvents& sent) {
        inChannels[0] = inL;
        inChannels[1] = inR;
        outChannels[0] = outL;
        outChannels[1] = outR;
        in.data32 = inChannels;
        in.channel_count = 2;
        out.data32 = outChannels;
        out.channel_count = 2;
        process.steady_time = -1;
        process.frames_count = frames;
        process.audio_inputs = &in;
        process.audio_outputs = &out;
        process.audio_inputs_count = process.audio_outputs_count = 1;
        process.in_events = &events.list;
        process.out_events = &sent.list;
    }
    // The host's tempo in this block (a transport without a tempo when tempo <= 0).
    void withTransport(double tempo) {
        transport.header = {sizeof transport, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
        transport.flags = CLAP_TRANSPORT_IS_PLAYING | (tempo > 0 ? CLAP_TRANSPORT_HAS_TEMPO : 0);
        transport.tempo = tempo;
        process.transport = &transport;
    }
};

} // namespace clhost
