// A small VST3 host on the same C interfaces as the plug-in: it loads the built module as hosts
// do and gives it the host objects it calls back (streams, parameter changes, a component
// handler, a frame with a run loop).
#pragma once

#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"
#include "travesty/unit.h"
#include "travesty/view.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vst3host {

inline bool sameTuid(const v3_tuid a, const v3_tuid b) {
    return std::memcmp(a, b, sizeof(v3_tuid)) == 0;
}

inline std::string utf8(const int16_t* text) {
    std::string s;
    for (; *text; ++text)
        s += static_cast<char>(*text < 0x80 ? *text : '?');
    return s;
}

inline void utf16(const std::string& text, int16_t* out, size_t capacity) {
    size_t n = 0;
    for (; n < text.size() && n + 1 < capacity; ++n)
        out[n] = static_cast<int16_t>(text[n]);
    out[n] = 0;
}

// The stream's vtable (the headers name none for it).
struct v3_bstream_cpp : v3_funknown {
    v3_bstream stream;
};

struct v3_component_handler_cpp : v3_funknown {
    v3_component_handler handler;
};

// A host object with one interface: a vtable pointer, then the object.
template <class Self, class Vtable> struct Object {
    const Vtable* vtable;
    static Self* of(void* self) { return static_cast<Self*>(self); }
    static v3_result V3_API query(void* self, const v3_tuid iid, void** obj) {
        if (Self::accepts(iid)) {
            *obj = self;
            return V3_OK;
        }
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    static uint32_t V3_API ref(void*) { return 1; } // the test owns its host objects
    static uint32_t V3_API unref(void*) { return 1; }
    template <class T> T** as() { return reinterpret_cast<T**>(this); }
};

// A memory stream that reads and writes at most `piece` bytes per call, as hosts may.
struct Stream : Object<Stream, v3_bstream_cpp> {
    std::vector<uint8_t> data;
    size_t pos = 0;
    int32_t piece;
    explicit Stream(int32_t pieceSize = 1 << 30, std::vector<uint8_t> bytes = {})
        : data(std::move(bytes)), piece(pieceSize) {
        vtable = &kVtable;
    }
    static bool accepts(const v3_tuid iid) {
        return sameTuid(iid, v3_funknown_iid) || sameTuid(iid, v3_bstream_iid);
    }
    static v3_result V3_API read(void* self, void* buffer, int32_t n, int32_t* got) {
        Stream* s = of(self);
        const auto k = static_cast<int32_t>(
            std::min<size_t>({size_t(std::max(n, 0)), size_t(s->piece), s->data.size() - s->pos}));
        if (k > 0) std::memcpy(buffer, s->data.data() + s->pos, size_t(k));
        s->pos += size_t(k);
        if (got) *got = k;
        return V3_OK;
    }
    static v3_result V3_API write(void* self, void* buffer, int32_t n, int32_t* put) {
        Stream* s = of(self);
        const int32_t k = std::min(n, s->piece);
        const auto* b = static_cast<const uint8_t*>(buffer);
        s->data.resize(std::max(s->data.size(), s->pos + size_t(k)));
        if (k > 0) std::memcpy(s->data.data() + s->pos, b, size_t(k));
        s->pos += size_t(k);
        if (put) *put = k;
        return V3_OK;
    }
    static v3_result V3_API seek(void* self, int64_t p, int32_t mode, int64_t* result) {
        Stream* s = of(self);
        const int64_t base = mode == V3_SEEK_CUR   ? int64_t(s->pos)
                             : mode == V3_SEEK_END ? int64_t(s->data.size())
                                                   : 0;
        s->pos = size_t(std::clamp<int64_t>(base + p, 0, int64_t(s->data.size())));
        if (result) *result = int64_t(s->pos);
        return V3_OK;
    }
    static v3_result V3_API tell(void* self, int64_t* p) {
        *p = int64_t(of(self)->pos);
        return V3_OK;
    }
    static constexpr v3_bstream_cpp kVtable = {{&query, &ref, &unref},
                                               {&read, &write, &seek, &tell}};
};

// One block's changes of one parameter.
struct Queue : Object<Queue, v3_param_value_queue_cpp> {
    v3_param_id id = 0;
    std::vector<std::pair<int32_t, double>> points;
    Queue() { vtable = &kVtable; }
    static bool accepts(const v3_tuid iid) {
        return sameTuid(iid, v3_funknown_iid) || sameTuid(iid, v3_param_value_queue_iid);
    }
    static v3_param_id V3_API paramId(void* self) { return of(self)->id; }
    static int32_t V3_API count(void* self) { return int32_t(of(self)->points.size()); }
    static v3_result V3_API point(void* self, int32_t i, int32_t* offset, double* value) {
        Queue* q = of(self);
        if (i < 0 || size_t(i) >= q->points.size()) return V3_INVALID_ARG;
        *offset = q->points[size_t(i)].first;
        *value = q->points[size_t(i)].second;
        return V3_OK;
    }
    static v3_result V3_API add(void* self, int32_t offset, double value, int32_t* index) {
        Queue* q = of(self);
        q->points.emplace_back(offset, value);
        if (index) *index = int32_t(q->points.size() - 1);
        return V3_OK;
    }
    static constexpr v3_param_value_queue_cpp kVtable = {{&query, &ref, &unref},
                                                         {&paramId, &count, &point, &add}};
};

struct Changes : Object<Changes, v3_param_changes_cpp> {
    std::vector<Queue> queues;
    Changes() {
        vtable = &kVtable;
        queues.reserve(128); // queue addresses stay put
    }
    Queue& queueFor(v3_param_id id) {
        for (Queue& q : queues)
            if (q.id == id) return q;
        queues.emplace_back();
        queues.back().id = id;
        return queues.back();
    }
    void set(v3_param_id id, double value, int32_t offset = 0) {
        queueFor(id).points.emplace_back(offset, value);
    }
    static bool accepts(const v3_tuid iid) {
        return sameTuid(iid, v3_funknown_iid) || sameTuid(iid, v3_param_changes_iid);
    }
    static int32_t V3_API count(void* self) { return int32_t(of(self)->queues.size()); }
    static v3_param_value_queue** V3_API data(void* self, int32_t i) {
        Changes* c = of(self);
        if (i < 0 || size_t(i) >= c->queues.size()) return nullptr;
        return c->queues[size_t(i)].as<v3_param_value_queue>();
    }
    static v3_param_value_queue** V3_API add(void* self, v3_param_id* id, int32_t* index) {
        Changes* c = of(self);
        Queue& q = c->queueFor(*id);
        if (index) *index = int32_t(&q - c->queues.data());
        return q.as<v3_param_value_queue>();
    }
    static constexpr v3_param_changes_cpp kVtable = {{&query, &ref, &unref}, {&count, &data, &add}};
};

// Records what the controller tells its host.
struct Handler : Object<Handler, v3_component_handler_cpp> {
    struct Event {
        char kind; // b(egin), p(erform), e(nd), r(estart)
        v3_param_id id;
        double value;
    };
    std::vector<Event> events;
    Handler() { vtable = &kVtable; }
    static bool accepts(const v3_tuid iid) {
        return sameTuid(iid, v3_funknown_iid) || sameTuid(iid, v3_component_handler_iid);
    }
    static v3_result V3_API begin(void* self, v3_param_id id) {
        of(self)->events.push_back({'b', id, 0.0});
        return V3_OK;
    }
    static v3_result V3_API perform(void* self, v3_param_id id, double v) {
        of(self)->events.push_back({'p', id, v});
        return V3_OK;
    }
    static v3_result V3_API end(void* self, v3_param_id id) {
        of(self)->events.push_back({'e', id, 0.0});
        return V3_OK;
    }
    static v3_result V3_API restart(void* self, int32_t flags) {
        of(self)->events.push_back({'r', 0, double(flags)});
        return V3_OK;
    }
    static constexpr v3_component_handler_cpp kVtable = {{&query, &ref, &unref},
                                                         {&begin, &perform, &end, &restart}};
};

// The module, its factory and one instance's interfaces.
class Module {
  public:
    explicit Module(const char* path) {
#if defined(_WIN32)
        library = LoadLibraryA(path);
        // Through void*: FARPROC is a function type of its own.
        void* entry = library ? reinterpret_cast<void*>(GetProcAddress(
                                    static_cast<HMODULE>(library), "GetPluginFactory"))
                              : nullptr;
#else
        library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        void* entry = library ? dlsym(library, "GetPluginFactory") : nullptr;
#endif
        if (entry) factory = reinterpret_cast<v3_plugin_factory** (*)()>(entry)();
    }
    ~Module() {
#if defined(_WIN32)
        if (library) FreeLibrary(static_cast<HMODULE>(library));
#else
        if (library) dlclose(library);
#endif
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    v3_plugin_factory** factory = nullptr;

  private:
    void* library = nullptr;
};

struct Instance {
    v3_component** component = nullptr;
    v3_audio_processor** processor = nullptr;
    v3_edit_controller** controller = nullptr;
    v3_unit_information** units = nullptr;

    Instance(v3_plugin_factory** factory, const v3_tuid classId) {
        v3_cpp_obj(factory)->create_instance(factory, classId, v3_component_iid,
                                             reinterpret_cast<void**>(&component));
        if (!component) return;
        v3_cpp_obj_initialize(component, nullptr);
        v3_cpp_obj_query_interface(component, v3_audio_processor_iid, &processor);
        v3_cpp_obj_query_interface(component, v3_edit_controller_iid, &controller);
        v3_cpp_obj_query_interface(component, v3_unit_information_iid, &units);
    }
    ~Instance() {
        for (void** p : {reinterpret_cast<void**>(processor), reinterpret_cast<void**>(controller),
                         reinterpret_cast<void**>(units)})
            if (p) v3_cpp_obj_unref(reinterpret_cast<v3_funknown**>(p));
        if (component) {
            v3_cpp_obj_terminate(component);
            v3_cpp_obj_unref(component);
        }
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    bool valid() const { return component && processor && controller && units; }

    v3_component* comp() const { return v3_cpp_obj(component); }
    v3_audio_processor* proc() const { return v3_cpp_obj(processor); }
    v3_edit_controller* ctrl() const { return v3_cpp_obj(controller); }
    v3_unit_information* unit() const { return v3_cpp_obj(units); }

    bool setup(double rate, int32_t block) {
        v3_process_setup s{V3_REALTIME, V3_SAMPLE_32, block, rate};
        return proc()->setup_processing(processor, &s) == V3_OK &&
               comp()->set_active(component, 1) == V3_OK &&
               proc()->set_processing(processor, 1) == V3_OK;
    }
    // One block, stereo in and out; `ctx` may be null.
    v3_result process(float** in, float** out, int32_t frames, v3_process_context* ctx,
                      Changes* changes = nullptr, Changes* outChanges = nullptr) {
        v3_audio_bus_buffers inBus{}, outBus{};
        inBus.num_channels = outBus.num_channels = 2;
        inBus.channel_buffers_32 = in;
        outBus.channel_buffers_32 = out;
        v3_process_data d{};
        d.process_mode = V3_REALTIME;
        d.symbolic_sample_size = V3_SAMPLE_32;
        d.nframes = frames;
        d.num_input_buses = d.num_output_buses = 1;
        d.inputs = &inBus;
        d.outputs = &outBus;
        d.input_params = changes ? changes->as<v3_param_changes>() : nullptr;
        d.output_params = outChanges ? outChanges->as<v3_param_changes>() : nullptr;
        d.ctx = ctx;
        return proc()->process(processor, &d);
    }
    std::vector<uint8_t> state() {
        Stream s(7);
        comp()->get_state(component, s.as<v3_bstream>());
        return s.data;
    }
    double value(v3_param_id id) { return ctrl()->get_parameter_normalised(controller, id); }
};

} // namespace vst3host
