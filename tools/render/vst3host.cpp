// The VST3 backend: loads a bundle's module through GetPluginFactory, makes the factory's audio
// effect, and drives its component, processor and controller as a host does. Parameters set by
// the tool reach the processor in the next block's input queue; the tempo in the process
// context, flagged valid only when the tool gives one.
#include "formathost.h"
#include "options.h"
#include "platform.h"

#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"
#include "travesty/unit.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

namespace qlrender {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string utf8(const int16_t* text) {
    std::string s;
    for (; *text; ++text) {
        const auto c = static_cast<std::uint16_t>(*text);
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

// The module inside a bundle, for this system and processor; a file is taken as the module.
std::string modulePath(const std::string& path) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) return path;
    fs::path bundle(path);
    if (!bundle.has_filename()) bundle = bundle.parent_path();
#if defined(_WIN32)
    const char* arch = sizeof(void*) == 8 ? "x86_64-win" : "x86-win";
    const char* suffix = ".vst3";
#else
    const char* arch = sizeof(void*) == 8 ? "x86_64-linux" : "i386-linux";
    const char* suffix = ".so";
#endif
    return (bundle / "Contents" / arch / (bundle.stem().string() + suffix)).string();
}

// The input parameter changes of one block: one queue per parameter, its last point its value.
struct Queue {
    const v3_param_value_queue_cpp* vtable;
    v3_param_id id;
    double value;
};
struct Changes {
    const v3_param_changes_cpp* vtable;
    std::vector<Queue> queues;
};

v3_result V3_API noInterface(void*, const v3_tuid, void** obj) {
    *obj = nullptr;
    return V3_NO_INTERFACE;
}
uint32_t V3_API oneRef(void*) {
    return 1;
}
v3_param_id V3_API queueId(void* self) {
    return static_cast<Queue*>(self)->id;
}
int32_t V3_API queuePoints(void*) {
    return 1;
}
v3_result V3_API queuePoint(void* self, int32_t index, int32_t* offset, double* value) {
    if (index != 0) return V3_INVALID_ARG;
    *offset = 0;
    *value = static_cast<Queue*>(self)->value;
    return V3_OK;
}
v3_result V3_API queueAdd(void*, int32_t, double, int32_t*) {
    return V3_FALSE;
}
int32_t V3_API changesCount(void* self) {
    return static_cast<int32_t>(static_cast<Changes*>(self)->queues.size());
}
v3_param_value_queue** V3_API changesData(void* self, int32_t index) {
    auto& queues = static_cast<Changes*>(self)->queues;
    if (index < 0 || static_cast<size_t>(index) >= queues.size()) return nullptr;
    return reinterpret_cast<v3_param_value_queue**>(&queues[static_cast<size_t>(index)]);
}
v3_param_value_queue** V3_API changesAdd(void*, v3_param_id*, int32_t*) {
    return nullptr;
}
const v3_param_value_queue_cpp kQueueVtable = {{&noInterface, &oneRef, &oneRef},
                                               {&queueId, &queuePoints, &queuePoint, &queueAdd}};
const v3_param_changes_cpp kChangesVtable = {{&noInterface, &oneRef, &oneRef},
                                             {&changesCount, &changesData, &changesAdd}};

class Vst3Host final : public FormatHost {
  public:
    Vst3Host(const std::string& path, double rate, int frames, HostTime hostTime)
        : sampleRate(rate), blockSize(frames), time(hostTime) {
        const std::string file = modulePath(path);
        std::string error;
        if (!library.open(file, error))
            throw RenderError("cannot load the VST3 module " + file + ": " + error);
#if !defined(_WIN32)
        if (auto entry = reinterpret_cast<bool (*)(void*)>(library.symbol("ModuleEntry")))
            entered = entry(nullptr);
#endif
        auto getFactory =
            reinterpret_cast<v3_plugin_factory** (*)()>(library.symbol("GetPluginFactory"));
        if (!getFactory || !(factory = getFactory()))
            throw RenderError("the plug-in " + file + " exports no VST3 factory");
        makeEffect(file);
        findParameters();

        v3_speaker_arrangement stereo = V3_SPEAKER_L | V3_SPEAKER_R;
        if (proc()->set_bus_arrangements(processor, &stereo, 1, &stereo, 1) != V3_OK)
            throw RenderError("the plug-in " + file + " is not a stereo effect");
        comp()->activate_bus(component, V3_AUDIO, V3_INPUT, 0, 1);
        comp()->activate_bus(component, V3_AUDIO, V3_OUTPUT, 0, 1);
        v3_process_setup setup{V3_OFFLINE, V3_SAMPLE_32, blockSize, sampleRate};
        if (proc()->setup_processing(processor, &setup) != V3_OK)
            throw RenderError("the plug-in " + file + " refused " + std::to_string(sampleRate) +
                              " Hz in blocks of " + std::to_string(blockSize));
        changes.vtable = &kChangesVtable;
    }

    ~Vst3Host() override {
        if (running) {
            proc()->set_processing(processor, 0);
            comp()->set_active(component, 0);
        }
        if (controller) {
            ctrl()->set_component_handler(controller, nullptr);
            if (separateController) v3_cpp_obj_terminate(controller);
            v3_cpp_obj_unref(controller);
        }
        if (processor) v3_cpp_obj_unref(processor);
        if (units) v3_cpp_obj_unref(units); // each interface asked for holds a reference
        if (component) {
            v3_cpp_obj_terminate(component);
            v3_cpp_obj_unref(component);
        }
#if !defined(_WIN32)
        if (entered)
            if (auto exit = reinterpret_cast<bool (*)()>(library.symbol("ModuleExit"))) exit();
#endif
    }

    int numPrograms() override {
        return programCount;
    }
    int numParams() override {
        return 80;
    } // the VST 2 indices, which are the parameter ids
    std::string programName(int program) override {
        v3_str_128 name{};
        if (!units ||
            v3_cpp_obj(units)->get_program_name(units, programList, program, name) != V3_OK)
            return {};
        return utf8(name);
    }
    int currentProgram() override {
        if (programParam == kNone) return 0;
        const double value = ctrl()->get_parameter_normalised(controller, programParam);
        return static_cast<int>(
            ctrl()->normalised_parameter_to_plain(controller, programParam, value));
    }
    void setProgram(int p) override {
        // As hosts choose a preset: through the controller, and in the next block's queue.
        if (programParam == kNone || programCount < 2) return;
        const double program = double(p) / (programCount - 1);
        ctrl()->set_parameter_normalised(controller, programParam, program);
        pending.clear(); // the program's values replace what was set before
        setPending(programParam, program);
    }
    float parameter(int index) override {
        for (const Queue& q : pending)
            if (q.id == v3_param_id(index)) return static_cast<float>(q.value);
        return static_cast<float>(ctrl()->get_parameter_normalised(controller, v3_param_id(index)));
    }
    void setParameter(int index, float value) override {
        setPending(v3_param_id(index), value);
    }
    std::string parameterDisplay(int index) override {
        v3_str_128 text{};
        if (ctrl()->get_parameter_string_for_value(controller, v3_param_id(index), parameter(index),
                                                   text) != V3_OK)
            return {};
        return utf8(text);
    }
    // The plug-in's texts carry their unit already ("-6.0 dB", "6.0/16 (750 ms)"): the unit is
    // shown only where the text lacks it.
    std::string parameterLabel(int index) override {
        for (const auto& [id, units] : labels)
            if (id == v3_param_id(index))
                return parameterDisplay(index).find(units) == std::string::npos ? units : "";
        return {};
    }
    std::string effectName() override {
        return name;
    }

    void start() override {
        const auto start = Clock::now();
        comp()->set_active(component, 1);
        proc()->set_processing(processor, 1);
        if (measuring) pluginTime += secondsSince(start);
        running = true;
    }

    void process(float* const inputs[2], float* const outputs[2], int frames) override {
        float* ins[2] = {inputs[0], inputs[1]};
        float* outs[2] = {outputs[0], outputs[1]};
        v3_audio_bus_buffers in{}, out{};
        in.num_channels = out.num_channels = 2;
        in.channel_buffers_32 = ins;
        out.channel_buffers_32 = outs;
        v3_process_context ctx{};
        ctx.state = V3_PROCESS_CTX_PLAYING | V3_PROCESS_CTX_TEMPO_VALID;
        ctx.sample_rate = sampleRate;
        ctx.project_time_in_samples = samplePos;
        ctx.bpm = time.tempo;
        changes.queues = pending; // capacity kept: no allocation after the first blocks
        pending.clear();
        v3_process_data data{};
        data.process_mode = V3_OFFLINE;
        data.symbolic_sample_size = V3_SAMPLE_32;
        data.nframes = frames;
        data.num_input_buses = data.num_output_buses = 1;
        data.inputs = &in;
        data.outputs = &out;
        data.input_params = reinterpret_cast<v3_param_changes**>(&changes);
        data.ctx = time.provided ? &ctx : nullptr;
        const auto start = measuring ? Clock::now() : Clock::time_point();
        proc()->process(processor, &data);
        if (measuring) pluginTime += secondsSince(start);
        samplePos += frames;
    }

  private:
    static constexpr v3_param_id kNone = 0xFFFFFFFFu;

    v3_component* comp() const {
        return v3_cpp_obj(component);
    }
    v3_audio_processor* proc() const {
        return v3_cpp_obj(processor);
    }
    v3_edit_controller* ctrl() const {
        return v3_cpp_obj(controller);
    }

    void makeEffect(const std::string& file) {
        v3_plugin_factory* f = v3_cpp_obj(factory);
        for (int32_t i = 0, n = f->num_classes(factory); i < n; ++i) {
            v3_class_info info{};
            if (f->get_class_info(factory, i, &info) != V3_OK ||
                std::strcmp(info.category, "Audio Module Class") != 0)
                continue;
            if (f->create_instance(factory, info.class_id, v3_component_iid,
                                   reinterpret_cast<void**>(&component)) != V3_OK ||
                !component)
                continue;
            name = info.name;
            break;
        }
        if (!component) throw RenderError("the plug-in " + file + " makes no audio effect");
        if (v3_cpp_obj_initialize(component, nullptr) != V3_OK)
            throw RenderError("the plug-in " + file + " did not initialise");
        v3_cpp_obj_query_interface(component, v3_audio_processor_iid, &processor);
        v3_cpp_obj_query_interface(component, v3_edit_controller_iid, &controller);
        if (!controller) {
            v3_tuid id{};
            if (comp()->get_controller_class_id(component, id) == V3_OK &&
                f->create_instance(factory, id, v3_edit_controller_iid,
                                   reinterpret_cast<void**>(&controller)) == V3_OK &&
                controller) {
                separateController = true;
                v3_cpp_obj_initialize(controller, nullptr);
            }
        }
        if (!processor || !controller)
            throw RenderError("the plug-in " + file + " has no audio processor or no controller");
        v3_cpp_obj_query_interface(controller, v3_unit_information_iid, &units);
        if (!units) v3_cpp_obj_query_interface(component, v3_unit_information_iid, &units);
    }

    void findParameters() {
        for (int32_t i = 0, n = ctrl()->get_parameter_count(controller); i < n; ++i) {
            v3_param_info info{};
            if (ctrl()->get_parameter_info(controller, i, &info) != V3_OK) continue;
            if (info.flags & V3_PARAM_PROGRAM_CHANGE) {
                programParam = info.param_id;
                programCount = info.step_count + 1;
            } else {
                labels.emplace_back(info.param_id, utf8(info.units));
            }
        }
        if (units) {
            v3_program_list_info list{};
            if (v3_cpp_obj(units)->get_program_list_info(units, 0, &list) == V3_OK) {
                programList = list.id;
                programCount = list.programCount;
            }
        }
    }

    void setPending(v3_param_id id, double value) {
        for (Queue& q : pending)
            if (q.id == id) {
                q.value = value;
                return;
            }
        pending.push_back({&kQueueVtable, id, value});
    }

    SharedLibrary library;
    bool entered = false;
    v3_plugin_factory** factory = nullptr;
    v3_component** component = nullptr;
    v3_audio_processor** processor = nullptr;
    v3_edit_controller** controller = nullptr;
    v3_unit_information** units = nullptr;
    bool separateController = false;
    bool running = false;
    std::string name;
    std::vector<std::pair<v3_param_id, std::string>> labels;
    v3_param_id programParam = kNone;
    int32_t programList = 0;
    int programCount = 0;

    double sampleRate;
    int blockSize;
    HostTime time;
    int64_t samplePos = 0;
    std::vector<Queue> pending;
    Changes changes{};
};

} // namespace

std::unique_ptr<FormatHost> openVst3Host(const std::string& path, double sampleRate, int blockSize,
                                         HostTime time) {
    return std::make_unique<Vst3Host>(path, sampleRate, blockSize, time);
}

} // namespace qlrender
