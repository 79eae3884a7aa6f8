// The host side of the CLAP boundary: loads a .clap file through clap_entry, makes its one
// plug-in, and drives it as a CLAP host does: parameter changes as events through flush, the
// programs as the stepped "Program" parameter, and a transport with the tempo in every block.
#include "formathost.h"
#include "options.h"
#include "platform.h"

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/params.h>
#include <clap/plugin-factory.h>

#include <chrono>
#include <cmath>
#include <cstring>

namespace qlrender {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The events the plug-in sends (its answers to program changes): a render has no one to tell.
const clap_output_events_t kDiscard = {
    nullptr, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};

class ClapHost final : public FormatHost {
  public:
    ClapHost(const std::string& path, double rate, int frames, HostTime hostTime);
    ~ClapHost() override;

    int numPrograms() override { return programCount; }
    int numParams() override { return paramCount; }
    std::string programName(int program) override { return text(programParam, program); }
    int currentProgram() override { return static_cast<int>(value(programParam)); }
    void setProgram(int program) override { send(programParam, program); }
    float parameter(int index) override { return static_cast<float>(value(clap_id(index))); }
    void setParameter(int index, float v) override { send(clap_id(index), v); }
    std::string parameterDisplay(int index) override {
        return text(clap_id(index), value(clap_id(index)));
    }
    // CLAP texts carry their unit.
    std::string parameterLabel(int) override { return {}; }
    std::string effectName() override { return plugin->desc->name ? plugin->desc->name : ""; }

    void start() override;
    void process(float* const inputs[2], float* const outputs[2], int frames) override;

  private:
    // Destroys the plug-in and leaves the entry: for the destructor and a failing constructor.
    void release();
    double value(clap_id id) const;
    std::string text(clap_id id, double v) const;
    void send(clap_id id, double v);

    SharedLibrary library;
    const clap_plugin_entry_t* entry = nullptr;
    clap_host_t host{};
    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_params_t* params = nullptr;
    clap_id programParam = CLAP_INVALID_ID;
    int programCount = 0, paramCount = 0;
    bool active = false, processing = false;
    double sampleRate;
    int blockSize;
    HostTime time;
    int64_t samplePos = 0;
};

ClapHost::ClapHost(const std::string& path, double rate, int frames, HostTime hostTime)
    : sampleRate(rate), blockSize(frames), time(hostTime) {
    std::string error;
    if (!library.open(path, error))
        throw RenderError("cannot load the plug-in " + path + ": " + error);
    entry = static_cast<const clap_plugin_entry_t*>(library.symbol("clap_entry"));
    if (!entry) throw RenderError("the plug-in " + path + " exports no clap_entry");
    if (!clap_version_is_compatible(entry->clap_version) || !entry->init ||
        !entry->init(path.c_str())) {
        entry = nullptr;
        throw RenderError("the CLAP plug-in " + path + " refused to start (its entry's init)");
    }
    const auto* factory =
        static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_descriptor_t* descriptor = factory && factory->get_plugin_count(factory) > 0
                                                     ? factory->get_plugin_descriptor(factory, 0)
                                                     : nullptr;
    if (!descriptor) {
        release();
        throw RenderError("the CLAP plug-in " + path + " offers no plug-in");
    }

    host.clap_version = CLAP_VERSION;
    host.host_data = this;
    host.name = "quillantrope-render";
    host.vendor = "Quillantrope";
    host.url = "";
    host.version = "1";
    host.get_extension = [](const clap_host_t*, const char*) -> const void* { return nullptr; };
    host.request_restart = [](const clap_host_t*) {};
    host.request_process = [](const clap_host_t*) {};
    host.request_callback = [](const clap_host_t*) {};
    plugin = factory->create_plugin(factory, &host, descriptor->id);
    if (!plugin) {
        release();
        throw RenderError("the CLAP plug-in " + path + " refused to create its plug-in");
    }
    if (!plugin->init(plugin)) {
        release();
        throw RenderError("the CLAP plug-in " + path + " failed to initialise");
    }
    params =
        static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
    const auto* ports = static_cast<const clap_plugin_audio_ports_t*>(
        plugin->get_extension(plugin, CLAP_EXT_AUDIO_PORTS));
    clap_audio_port_info_t in{}, out{};
    if (!params || !ports || ports->count(plugin, true) < 1 || ports->count(plugin, false) < 1 ||
        !ports->get(plugin, 0, true, &in) || !ports->get(plugin, 0, false, &out) ||
        in.channel_count != 2 || out.channel_count != 2) {
        release();
        throw RenderError("the CLAP plug-in " + path + " is not a stereo effect with parameters");
    }
    // The effect's parameters are ids 0..N-1; the programs are the stepped "Program" parameter.
    for (uint32_t i = 0; i < params->count(plugin); ++i) {
        clap_param_info_t info{};
        if (!params->get_info(plugin, i, &info)) continue;
        if (std::strcmp(info.name, "Program") == 0 && (info.flags & CLAP_PARAM_IS_STEPPED)) {
            programParam = info.id;
            programCount = static_cast<int>(info.max_value) + 1;
        } else {
            ++paramCount;
        }
    }
}

ClapHost::~ClapHost() {
    release();
}

void ClapHost::release() {
    if (plugin) {
        if (processing) plugin->stop_processing(plugin);
        if (active) plugin->deactivate(plugin);
        plugin->destroy(plugin);
        plugin = nullptr;
    }
    processing = active = false;
    if (entry) entry->deinit();
    entry = nullptr;
}

double ClapHost::value(clap_id id) const {
    double v = 0.0;
    return params->get_value(plugin, id, &v) ? v : 0.0;
}

std::string ClapHost::text(clap_id id, double v) const {
    char buffer[CLAP_NAME_SIZE] = {};
    if (!params->value_to_text(plugin, id, v, buffer, sizeof buffer)) return {};
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

void ClapHost::send(clap_id id, double v) {
    if (id == CLAP_INVALID_ID) return;
    clap_event_param_value_t event{};
    event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    event.param_id = id;
    event.note_id = -1;
    event.port_index = event.channel = event.key = -1;
    event.value = v;
    const clap_input_events_t in = {&event,
                                    [](const clap_input_events_t*) -> uint32_t { return 1; },
                                    [](const clap_input_events_t* list, uint32_t) {
                                        return static_cast<const clap_event_header_t*>(list->ctx);
                                    }};
    // Between blocks, on the render's one thread: never at once with process().
    params->flush(plugin, &in, &kDiscard);
}

void ClapHost::start() {
    const auto begin = Clock::now();
    active = plugin->activate(plugin, sampleRate, 1, static_cast<uint32_t>(blockSize));
    if (!active) throw RenderError("the CLAP plug-in refused to activate");
    processing = plugin->start_processing(plugin);
    if (!processing) throw RenderError("the CLAP plug-in refused to start processing");
    if (measuring) pluginTime += secondsSince(begin);
}

void ClapHost::process(float* const inputs[2], float* const outputs[2], int frames) {
    float* ins[2] = {inputs[0], inputs[1]};
    float* outs[2] = {outputs[0], outputs[1]};
    clap_audio_buffer_t in{}, out{};
    in.data32 = ins;
    in.channel_count = 2;
    out.data32 = outs;
    out.channel_count = 2;

    // A playing transport at the render's constant tempo, from the render's start.
    clap_event_transport_t transport{};
    transport.header = {sizeof transport, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
    const double seconds = double(samplePos) / sampleRate;
    transport.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                      CLAP_TRANSPORT_HAS_SECONDS_TIMELINE | CLAP_TRANSPORT_HAS_TIME_SIGNATURE |
                      CLAP_TRANSPORT_IS_PLAYING;
    transport.tempo = time.tempo;
    transport.song_pos_seconds = std::llround(seconds * double(CLAP_SECTIME_FACTOR));
    transport.song_pos_beats =
        std::llround(seconds * time.tempo / 60.0 * double(CLAP_BEATTIME_FACTOR));
    transport.tsig_num = 4;
    transport.tsig_denom = 4;

    const clap_input_events_t none = {
        nullptr, [](const clap_input_events_t*) -> uint32_t { return 0; },
        [](const clap_input_events_t*, uint32_t) -> const clap_event_header_t* { return nullptr; }};
    clap_process_t p{};
    p.steady_time = samplePos;
    p.frames_count = static_cast<uint32_t>(frames);
    p.transport = time.provided ? &transport : nullptr;
    p.audio_inputs = &in;
    p.audio_outputs = &out;
    p.audio_inputs_count = p.audio_outputs_count = 1;
    p.in_events = &none;
    p.out_events = &kDiscard;

    const auto begin = measuring ? Clock::now() : Clock::time_point();
    const clap_process_status status = plugin->process(plugin, &p);
    if (measuring) pluginTime += secondsSince(begin);
    if (status == CLAP_PROCESS_ERROR) throw RenderError("the CLAP plug-in failed to process");
    samplePos += frames;
}

} // namespace

std::unique_ptr<FormatHost> openClapHost(const std::string& path, double sampleRate, int blockSize,
                                         HostTime time) {
    return std::make_unique<ClapHost>(path, sampleRate, blockSize, time);
}

} // namespace qlrender
