// The LV2 backend: loads the bundle through lilv as LV2 hosts do, sets programs by applying the
// plug-in's presets, gives the tempo as a time:Position event, and reads what ports cannot show
// (spare values, the current program, program names) from the plug-in's saved state.
#include "formathost.h"
#include "formats/lv2/lv2ids.h"
#include "options.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qlrender {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The state blob's header, as its header describes it (effect/state.h).
struct BlobLayout {
    std::uint32_t headerSize = 0, params = 0, programs = 0, nameField = 0;
    bool read(const std::vector<std::uint8_t>& blob) {
        if (blob.size() < 24 || std::memcmp(blob.data(), "QLST", 4) != 0) return false;
        std::memcpy(&headerSize, blob.data() + 8, 4);
        std::memcpy(&params, blob.data() + 12, 4);
        std::memcpy(&programs, blob.data() + 16, 4);
        std::memcpy(&nameField, blob.data() + 20, 4);
        return blob.size() >= headerSize + 4ull * params + programs * (nameField + 4ull * params);
    }
};

class Lv2Host final : public FormatHost {
  public:
    Lv2Host(const std::string& path, double rate, int block, HostTime hostTime);
    ~Lv2Host() override;

    int numPrograms() override { return int(presets.size()); }
    int numParams() override { return ql::kNumParams; }
    std::string programName(int program) override;
    int currentProgram() override;
    void setProgram(int program) override;
    float parameter(int index) override;
    void setParameter(int index, float value) override;
    std::string parameterDisplay(int index) override;
    std::string parameterLabel(int) override { return {}; }
    std::string effectName() override { return name; }
    void start() override;
    void process(float* const inputs[2], float* const outputs[2], int frames) override;

  private:
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri);
    static const char* unmap(LV2_URID_Unmap_Handle handle, LV2_URID urid);
    static void setPortValue(const char* symbol, void* self, const void* value, uint32_t size,
                             uint32_t type);
    static LV2_State_Status storeBlob(LV2_State_Handle self, uint32_t key, const void* value,
                                      size_t size, uint32_t type, uint32_t flags);
    static const void* retrieveBlob(LV2_State_Handle self, uint32_t key, size_t* size,
                                    uint32_t* type, uint32_t* flags);
    LV2_URID urid(const char* uri) { return map(this, uri); }
    std::vector<std::uint8_t> saveBlob();
    void restoreBlob(const std::vector<std::uint8_t>& blob);
    void writePosition();

    std::vector<std::string> uris;
    LV2_URID_Map mapFeature{this, &Lv2Host::map};
    LV2_URID_Unmap unmapFeature{this, &Lv2Host::unmap};
    std::int32_t maxBlock;
    std::vector<LV2_Options_Option> options;
    LV2_Feature mapF{LV2_URID__map, &mapFeature};
    LV2_Feature unmapF{LV2_URID__unmap, &unmapFeature};
    LV2_Feature optionsF{LV2_OPTIONS__options, nullptr};
    const LV2_Feature* features[4] = {&mapF, &unmapF, &optionsF, nullptr};

    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    LilvInstance* instance = nullptr;
    const LV2_State_Interface* state = nullptr;
    std::vector<LilvNode*> presets; // by program number
    std::string name;

    float controls[ql::lv2::kNumPorts] = {};
    alignas(8) std::uint8_t sequence[1024] = {};
    LV2_Atom_Forge forge{};
    std::vector<std::uint8_t> blob; // the latest saved state, while saving or restoring

    double sampleRate;
    HostTime time;
    bool running = false;
    bool positionSent = false;
    double samplePos = 0.0;
};

Lv2Host::Lv2Host(const std::string& path, double rate, int block, HostTime hostTime)
    : maxBlock(block), sampleRate(rate), time(hostTime) {
    options = {{LV2_OPTIONS_INSTANCE, 0, urid(LV2_BUF_SIZE__maxBlockLength), sizeof maxBlock,
                urid(LV2_ATOM__Int), &maxBlock},
               {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    optionsF.data = options.data();

    world = lilv_world_new();
    std::string folder = path;
    if (folder.empty() || folder.back() != '/') folder += '/';
    LilvNode* bundle = lilv_new_file_uri(world, nullptr, folder.c_str());
    lilv_world_load_bundle(world, bundle);
    lilv_node_free(bundle);
    LilvNode* uri = lilv_new_uri(world, ql::lv2::kPluginUri);
    plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    lilv_node_free(uri);
    if (!plugin)
        throw RenderError("the bundle " + path + " describes no plug-in " + ql::lv2::kPluginUri);
    if (LilvNode* n = lilv_plugin_get_name(plugin)) {
        name = lilv_node_as_string(n);
        lilv_node_free(n);
    }

    // Ports: every control at its default, found by the parameter's symbol.
    if (lilv_plugin_get_num_ports(plugin) != ql::lv2::kNumPorts)
        throw RenderError("the plug-in in " + path + " does not have the ports this tool knows");
    std::vector<float> defaults(ql::lv2::kNumPorts);
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
    for (unsigned p = ql::lv2::kFirstParam; p < ql::lv2::kNumPorts; ++p)
        controls[p] = defaults[p];

    // Presets, numbered by their URIs.
    presets.resize(ql::kNumPrograms, nullptr);
    LilvNode* presetClass = lilv_new_uri(world, LV2_PRESETS__Preset);
    LilvNodes* related = lilv_plugin_get_related(plugin, presetClass);
    const std::size_t prefix = std::strlen(ql::lv2::kPresetUriPrefix);
    LILV_FOREACH(nodes, i, related) {
        const LilvNode* node = lilv_nodes_get(related, i);
        const char* u = lilv_node_as_uri(node);
        int n = -1;
        if (std::strncmp(u, ql::lv2::kPresetUriPrefix, prefix) == 0) n = std::atoi(u + prefix);
        if (n >= 0 && n < ql::kNumPrograms && !presets[std::size_t(n)]) {
            lilv_world_load_resource(world, node);
            presets[std::size_t(n)] = lilv_node_duplicate(node);
        }
    }
    lilv_nodes_free(related);
    lilv_node_free(presetClass);
    for (LilvNode* p : presets)
        if (!p) throw RenderError("the bundle " + path + " lacks some of the 40 presets");

    instance = lilv_plugin_instantiate(plugin, rate, features);
    if (!instance) throw RenderError("the plug-in in " + path + " refused to instantiate");
    state = static_cast<const LV2_State_Interface*>(
        lilv_instance_get_extension_data(instance, LV2_STATE__interface));
    if (!state) throw RenderError("the plug-in in " + path + " has no state interface");
    for (unsigned p = ql::lv2::kFirstParam; p < ql::lv2::kNumPorts; ++p)
        lilv_instance_connect_port(instance, p, &controls[p]);
    lilv_instance_connect_port(instance, ql::lv2::kControl, sequence);
    lv2_atom_forge_init(&forge, &mapFeature);
    // A VST 2 effect starts on its first program; so does this host, so that the renders of
    // both formats compare without --program.
    setProgram(0);
}

Lv2Host::~Lv2Host() {
    if (instance) {
        if (running) lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    for (LilvNode* p : presets)
        lilv_node_free(p);
    lilv_world_free(world);
}

LV2_URID Lv2Host::map(LV2_URID_Map_Handle handle, const char* uri) {
    auto& uris = static_cast<Lv2Host*>(handle)->uris;
    for (std::size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return LV2_URID(i + 1);
    uris.emplace_back(uri);
    return LV2_URID(uris.size());
}

const char* Lv2Host::unmap(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
    const auto& uris = static_cast<Lv2Host*>(handle)->uris;
    return urid >= 1 && urid <= uris.size() ? uris[urid - 1].c_str() : nullptr;
}

void Lv2Host::setPortValue(const char* symbol, void* self, const void* value, uint32_t size,
                           uint32_t type) {
    auto* host = static_cast<Lv2Host*>(self);
    int port = -1;
    for (const ql::ParamInfo& row : ql::kParamTable)
        if (std::strcmp(row.symbol(), symbol) == 0) port = ql::lv2::portOfParam(row.index);
    if (port < 0) return;
    if (type == host->urid(LV2_ATOM__Float) && size == sizeof(float))
        std::memcpy(&host->controls[port], value, sizeof(float));
    else if (type == host->urid(LV2_ATOM__Double) && size == sizeof(double))
        host->controls[port] = float(*static_cast<const double*>(value));
}

LV2_State_Status Lv2Host::storeBlob(LV2_State_Handle self, uint32_t key, const void* value,
                                    size_t size, uint32_t, uint32_t) {
    auto* host = static_cast<Lv2Host*>(self);
    if (key == host->urid(ql::lv2::kStateKey)) {
        const auto* bytes = static_cast<const std::uint8_t*>(value);
        host->blob.assign(bytes, bytes + size);
    }
    return LV2_STATE_SUCCESS;
}

const void* Lv2Host::retrieveBlob(LV2_State_Handle self, uint32_t key, size_t* size, uint32_t* type,
                                  uint32_t* flags) {
    auto* host = static_cast<Lv2Host*>(self);
    if (key != host->urid(ql::lv2::kStateKey)) return nullptr;
    *size = host->blob.size();
    *type = host->urid(LV2_ATOM__Chunk);
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return host->blob.data();
}

std::vector<std::uint8_t> Lv2Host::saveBlob() {
    blob.clear();
    state->save(lilv_instance_get_handle(instance), &Lv2Host::storeBlob, this,
                LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features);
    BlobLayout layout;
    if (!layout.read(blob) || layout.params != ql::kNumParams)
        throw RenderError("the plug-in saved a state this tool cannot read");
    return blob;
}

void Lv2Host::restoreBlob(const std::vector<std::uint8_t>& b) {
    blob = b;
    if (state->restore(lilv_instance_get_handle(instance), &Lv2Host::retrieveBlob, this, 0,
                       features) != LV2_STATE_SUCCESS)
        throw RenderError("the plug-in refused its own saved state");
}

std::string Lv2Host::programName(int program) {
    const auto b = saveBlob();
    BlobLayout layout;
    layout.read(b);
    if (program < 0 || std::uint32_t(program) >= layout.programs) return {};
    const std::size_t at = layout.headerSize + 4ull * layout.params +
                           std::size_t(program) * (layout.nameField + 4ull * layout.params);
    const char* text = reinterpret_cast<const char*>(b.data() + at);
    return std::string(text, strnlen(text, layout.nameField));
}

int Lv2Host::currentProgram() {
    const auto b = saveBlob();
    std::int32_t current;
    std::memcpy(&current, b.data() + 24, sizeof current);
    return current;
}

void Lv2Host::setProgram(int program) {
    if (program < 0 || program >= numPrograms()) return;
    LilvState* preset =
        lilv_state_new_from_world(world, &mapFeature, presets[std::size_t(program)]);
    if (!preset) throw RenderError("cannot read the preset of program " + std::to_string(program));
    lilv_state_restore(preset, instance, &Lv2Host::setPortValue, this, 0, features);
    lilv_state_free(preset);
}

float Lv2Host::parameter(int index) {
    // A control's value is the host's port value; a spare one lives in the effect alone.
    const int port = ql::lv2::portOfParam(index);
    if (port >= 0) return controls[port];
    if (index < 0 || index >= ql::kNumParams) return 0.0f;
    const auto b = saveBlob();
    BlobLayout layout;
    layout.read(b);
    float value;
    std::memcpy(&value, b.data() + layout.headerSize + 4 * index, sizeof value);
    return value;
}

void Lv2Host::setParameter(int index, float value) {
    const int port = ql::lv2::portOfParam(index);
    if (port >= 0) {
        controls[port] = value;
        return;
    }
    // No port reaches a spare index: it goes in through the saved state, as a session's would.
    if (index < 0 || index >= ql::kNumParams) return;
    auto b = saveBlob();
    BlobLayout layout;
    layout.read(b);
    if (!(value >= 0.0f)) value = 0.0f; // the effect refuses a state with such values
    if (value > 1.0f) value = 1.0f;
    std::memcpy(b.data() + layout.headerSize + 4 * index, &value, sizeof value);
    restoreBlob(b);
}

std::string Lv2Host::parameterDisplay(int index) {
    // LV2 hosts show a control's number.
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", double(parameter(index)));
    return text;
}

void Lv2Host::start() {
    const auto begin = Clock::now();
    lilv_instance_activate(instance);
    if (measuring) pluginTime += secondsSince(begin);
    running = true;
    positionSent = false;
    samplePos = 0.0;
}

// The transport once, before the first block, as hosts send it when it changes.
void Lv2Host::writePosition() {
    lv2_atom_forge_set_buffer(&forge, sequence, sizeof sequence);
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_sequence_head(&forge, &frame, 0);
    if (time.provided && !positionSent) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge, 0);
        lv2_atom_forge_object(&forge, &object, 0, urid(LV2_TIME__Position));
        lv2_atom_forge_key(&forge, urid(LV2_TIME__frame));
        lv2_atom_forge_long(&forge, std::int64_t(samplePos));
        lv2_atom_forge_key(&forge, urid(LV2_TIME__speed));
        lv2_atom_forge_float(&forge, 1.0f);
        lv2_atom_forge_key(&forge, urid(LV2_TIME__beatsPerMinute));
        lv2_atom_forge_double(&forge, time.tempo);
        lv2_atom_forge_pop(&forge, &object);
        positionSent = true;
    }
    lv2_atom_forge_pop(&forge, &frame);
}

void Lv2Host::process(float* const inputs[2], float* const outputs[2], int frames) {
    writePosition();
    lilv_instance_connect_port(instance, ql::lv2::kInLeft, inputs[0]);
    lilv_instance_connect_port(instance, ql::lv2::kInRight, inputs[1]);
    lilv_instance_connect_port(instance, ql::lv2::kOutLeft, outputs[0]);
    lilv_instance_connect_port(instance, ql::lv2::kOutRight, outputs[1]);
    const auto begin = measuring ? Clock::now() : Clock::time_point();
    lilv_instance_run(instance, std::uint32_t(frames));
    if (measuring) pluginTime += secondsSince(begin);
    samplePos += frames;
}

} // namespace

std::unique_ptr<FormatHost> openLv2Host(const std::string& path, double sampleRate, int blockSize,
                                        HostTime time) {
    return std::make_unique<Lv2Host>(path, sampleRate, blockSize, time);
}

} // namespace qlrender
