// The LV2 bundle driven as an LV2 host drives it, through lilv: what a session relies on (state,
// presets, controls), what a careless host may do (no URID map, malformed atoms, ports left
// unconnected, no parent for the UI), and the embedded editor telling its edits to the host.
#include "effect/paramtable.h"
#include "effect/state.h"
#include "formats/lv2/lv2ids.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include <sys/file.h>
#include <unistd.h>

// After the LV2 headers: Xlib defines Bool, a name the atom forge uses.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace ql::lv2;

// One URID map for the whole run, as a host has.
std::vector<std::string> gUris;
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) {
    for (size_t i = 0; i < gUris.size(); ++i)
        if (gUris[i] == uri) return LV2_URID(i + 1);
    gUris.emplace_back(uri);
    return LV2_URID(gUris.size());
}
const char* unmapUri(LV2_URID_Unmap_Handle, LV2_URID urid) {
    return urid >= 1 && urid <= gUris.size() ? gUris[urid - 1].c_str() : nullptr;
}
LV2_URID_Map gMap{nullptr, mapUri};
LV2_URID_Unmap gUnmap{nullptr, unmapUri};
LV2_Feature gMapFeature{LV2_URID__map, &gMap};
LV2_Feature gUnmapFeature{LV2_URID__unmap, &gUnmap};
const LV2_Feature* gFeatures[] = {&gMapFeature, &gUnmapFeature, nullptr};

LV2_URID urid(const char* uri) {
    return mapUri(nullptr, uri);
}

constexpr int kBlock = 256;

class Lv2 : public ::testing::Test {
  protected:
    void SetUp() override {
        world = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri(world, nullptr, QL_LV2_BUNDLE "/");
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world, kPluginUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
        ASSERT_NE(plugin, nullptr);
    }
    void TearDown() override {
        for (LilvInstance* i : instances)
            lilv_instance_free(i);
        lilv_world_free(world);
    }

    // An instance with every port connected to this fixture's buffers (controls at their
    // Turtle defaults), activated.
    LilvInstance* make(bool connectControls = true) {
        LilvInstance* i = lilv_plugin_instantiate(plugin, 48000.0, gFeatures);
        if (!i) return nullptr;
        instances.push_back(i);
        std::vector<float> defaults(kNumPorts);
        lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
        for (unsigned p = kFirstParam; p < kNumPorts; ++p) {
            controls[p] = defaults[p];
            if (connectControls) lilv_instance_connect_port(i, p, &controls[p]);
        }
        lilv_instance_connect_port(i, kInLeft, in[0]);
        lilv_instance_connect_port(i, kInRight, in[1]);
        lilv_instance_connect_port(i, kOutLeft, out[0]);
        lilv_instance_connect_port(i, kOutRight, out[1]);
        emptySequence();
        lilv_instance_connect_port(i, kControl, sequence);
        lilv_instance_activate(i);
        return i;
    }

    void emptySequence() {
        lv2_atom_forge_init(&forge, &gMap);
        lv2_atom_forge_set_buffer(&forge, sequence, sizeof sequence);
        LV2_Atom_Forge_Frame frame;
        lv2_atom_forge_sequence_head(&forge, &frame, 0);
        lv2_atom_forge_pop(&forge, &frame);
    }

    void run(LilvInstance* i, int blocks = 1) {
        for (int b = 0; b < blocks; ++b) {
            for (int c = 0; c < 2; ++c)
                for (int f = 0; f < kBlock; ++f)
                    in[c][f] = (f % 64 == 0) ? 0.5f : 0.0f;
            lilv_instance_run(i, kBlock);
            for (auto& channel : out)
                for (float s : channel)
                    ASSERT_TRUE(std::isfinite(s) && std::fabs(s) <= 1.0f) << s;
        }
    }

    static const LV2_State_Interface* stateOf(LilvInstance* i) {
        return static_cast<const LV2_State_Interface*>(
            lilv_instance_get_extension_data(i, LV2_STATE__interface));
    }

    // The instance's saved blob, through its state interface.
    static std::vector<uint8_t> blobOf(LilvInstance* i) {
        std::vector<uint8_t> blob;
        auto store = [](LV2_State_Handle h, uint32_t key, const void* value, size_t size,
                        uint32_t type, uint32_t) {
            if (key == urid(kStateKey) && type == urid(LV2_ATOM__Chunk)) {
                auto* b = static_cast<std::vector<uint8_t>*>(h);
                b->assign(static_cast<const uint8_t*>(value),
                          static_cast<const uint8_t*>(value) + size);
            }
            return LV2_STATE_SUCCESS;
        };
        stateOf(i)->save(lilv_instance_get_handle(i), store, &blob, 0, gFeatures);
        return blob;
    }

    static ql::EffectState decoded(LilvInstance* i) {
        ql::EffectState s;
        EXPECT_EQ(ql::decodeState(blobOf(i).data(), blobOf(i).size(), s), ql::StateResult::Ok);
        return s;
    }

    // Restores one property, as a host's retrieve would give it.
    static LV2_State_Status restore(LilvInstance* i, LV2_URID key, const void* data, size_t size,
                                    LV2_URID type) {
        struct Property {
            LV2_URID key, type;
            const void* data;
            size_t size;
        } p{key, type, data, size};
        auto retrieve = [](LV2_State_Handle h, uint32_t k, size_t* outSize, uint32_t* outType,
                           uint32_t* flags) -> const void* {
            auto* prop = static_cast<Property*>(h);
            if (k != prop->key) return nullptr;
            *outSize = prop->size;
            *outType = prop->type;
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            return prop->data;
        };
        return stateOf(i)->restore(lilv_instance_get_handle(i), retrieve, &p, 0, gFeatures);
    }

    LilvState* preset(int program) {
        const std::string uri = kPresetUriPrefix + std::to_string(program);
        LilvNode* node = lilv_new_uri(world, uri.c_str());
        lilv_world_load_resource(world, node);
        LilvState* state = lilv_state_new_from_world(world, &gMap, node);
        lilv_node_free(node);
        return state;
    }

    static void setPortValue(const char* symbol, void* self, const void* value, uint32_t size,
                             uint32_t type) {
        auto* fixture = static_cast<Lv2*>(self);
        for (const ql::ParamInfo& row : ql::kParamTable)
            if (!row.isSpare() && std::strcmp(row.symbol(), symbol) == 0 &&
                type == urid(LV2_ATOM__Float) && size == sizeof(float))
                std::memcpy(&fixture->controls[portOfParam(row.index)], value, sizeof(float));
    }

    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    std::vector<LilvInstance*> instances;
    float controls[kNumPorts] = {};
    float in[2][kBlock] = {}, out[2][kBlock] = {};
    alignas(8) uint8_t sequence[4096] = {};
    LV2_Atom_Forge forge{};
};

TEST_F(Lv2, AHostWithoutUridMapIsRefused) {
    const LV2_Feature* none[] = {nullptr};
    const LV2_Feature* unmapOnly[] = {&gUnmapFeature, nullptr};
    EXPECT_EQ(lilv_plugin_instantiate(plugin, 48000.0, none), nullptr);
    EXPECT_EQ(lilv_plugin_instantiate(plugin, 48000.0, unmapOnly), nullptr);
    LilvInstance* i = lilv_plugin_instantiate(plugin, 48000.0, gFeatures);
    ASSERT_NE(i, nullptr);
    lilv_instance_free(i);
}

// A preset brings its program along (name and spare values, which no port carries); a session's
// state, written out and read back by a new instance, brings back every value, the current
// program and renamed programs; a blob it cannot read changes nothing.
TEST_F(Lv2, StateAndPresetsBringEverythingBackAndBadBlobsChangeNothing) {
    LilvInstance* a = make();
    ASSERT_NE(a, nullptr);
    LilvState* p15 = preset(15);
    ASSERT_NE(p15, nullptr);
    lilv_state_restore(p15, a, &Lv2::setPortValue, this, 0, gFeatures);
    lilv_state_free(p15);
    run(a);
    ql::EffectState s = decoded(a);
    EXPECT_EQ(s.currentProgram, 15);
    EXPECT_STREQ(s.programs[15].name, "INSERT Stereo 3/5/16");

    // Rename the current program and move a spare and a control, as a user's session would.
    std::snprintf(s.programs[15].name, sizeof s.programs[15].name, "%s", "My own echo");
    s.values[ql::LeftFeedbackLevel] = s.programs[15].values[ql::LeftFeedbackLevel] = 0.25f;
    s.values[8] = s.programs[15].values[8] = 0.75f;
    const std::vector<uint8_t> edited = ql::encodeState(s);
    ASSERT_EQ(restore(a, urid(kStateKey), edited.data(), edited.size(), urid(LV2_ATOM__Chunk)),
              LV2_STATE_SUCCESS);
    run(a, 2); // ports still hold the preset's values, which are not news
    EXPECT_EQ(blobOf(a), edited);

    // The session file and a new instance reading it.
    LilvState* session =
        lilv_state_new_from_instance(plugin, a, &gMap, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, LV2_STATE_IS_POD, gFeatures);
    ASSERT_NE(session, nullptr);
    char* text = lilv_state_to_string(world, &gMap, &gUnmap, session, "urn:test:session", nullptr);
    lilv_state_free(session);
    LilvState* read = lilv_state_new_from_string(world, &gMap, text);
    lilv_free(text);
    ASSERT_NE(read, nullptr);
    LilvInstance* b = make();
    lilv_state_restore(read, b, &Lv2::setPortValue, this, 0, gFeatures);
    lilv_state_free(read);
    run(b, 2);
    EXPECT_EQ(blobOf(b), edited);

    // Refused: a cut blob, another type, a preset's program out of range. Nothing changes.
    const std::vector<uint8_t> cut(edited.begin(), edited.end() - 1);
    EXPECT_NE(restore(b, urid(kStateKey), cut.data(), cut.size(), urid(LV2_ATOM__Chunk)),
              LV2_STATE_SUCCESS);
    EXPECT_NE(restore(b, urid(kStateKey), edited.data(), edited.size(), urid(LV2_ATOM__String)),
              LV2_STATE_SUCCESS);
    const int32_t program = 40;
    EXPECT_NE(restore(b, urid(kProgramKey), &program, sizeof program, urid(LV2_ATOM__Int)),
              LV2_STATE_SUCCESS);
    run(b);
    EXPECT_EQ(blobOf(b), edited);
}

// A control reaches the effect when its port changes; an unconnected one keeps its default; a
// value that is no number is clamped as any host's.
TEST_F(Lv2, ControlPortsUnconnectedAndNonFinite) {
    LilvInstance* i = make(false);
    ASSERT_NE(i, nullptr);
    const int feedback = portOfParam(ql::LeftFeedbackLevel), dry = portOfParam(ql::DryLevel);
    lilv_instance_connect_port(i, unsigned(feedback), &controls[feedback]);
    lilv_instance_connect_port(i, unsigned(dry), &controls[dry]);
    controls[feedback] = 0.6f;
    controls[dry] = std::numeric_limits<float>::quiet_NaN();
    run(i);
    ql::EffectState s = decoded(i);
    EXPECT_EQ(s.values[ql::LeftFeedbackLevel], 0.6f);
    EXPECT_EQ(s.values[ql::DryLevel], 0.0f);
    for (int index : kControlParams) {
        if (index == ql::LeftFeedbackLevel || index == ql::DryLevel) continue;
        EXPECT_EQ(s.values[index], ql::paramInfo(index).defaultValue) << ql::paramInfo(index).name;
    }
    controls[dry] = std::numeric_limits<float>::infinity();
    run(i);
    EXPECT_EQ(decoded(i).values[ql::DryLevel], 1.0f);
}

// Atoms a host or a bug may send: unknown events, sizes beyond the sequence, cut properties,
// times out of order or beyond the block, a sequence that is no sequence, none at all.
TEST_F(Lv2, MalformedAtomsAreReadOnlyWithinTheirSizes) {
    LilvInstance* i = make();
    ASSERT_NE(i, nullptr);
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(sequence);
    auto position = [&](int64_t when, float bpm) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge, when);
        lv2_atom_forge_object(&forge, &object, 0, urid(LV2_TIME__Position));
        lv2_atom_forge_key(&forge, urid(LV2_TIME__beatsPerMinute));
        lv2_atom_forge_float(&forge, bpm);
        lv2_atom_forge_pop(&forge, &object);
    };
    // The forge keeps the frame's address until it is popped.
    LV2_Atom_Forge_Frame frame;
    auto begin = [&] {
        std::memset(sequence, 0, sizeof sequence);
        lv2_atom_forge_set_buffer(&forge, sequence, sizeof sequence);
        lv2_atom_forge_sequence_head(&forge, &frame, 0);
    };

    // Events in any order and time, an unknown one, an absurd tempo.
    begin();
    position(200, 97.0f);
    lv2_atom_forge_frame_time(&forge, 10);
    lv2_atom_forge_int(&forge, 5);
    position(-5, 1e30f);
    position(1 << 30, 90.0f);
    lv2_atom_forge_pop(&forge, &frame);
    run(i);

    // An event whose body claims more than the sequence holds.
    begin();
    position(0, 97.0f);
    lv2_atom_forge_pop(&forge, &frame);
    auto* event = lv2_atom_sequence_begin(&seq->body);
    event->body.size = 1u << 20;
    run(i);

    // A property cut short inside its object.
    begin();
    position(0, 97.0f);
    lv2_atom_forge_pop(&forge, &frame);
    event = lv2_atom_sequence_begin(&seq->body);
    event->body.size = sizeof(LV2_Atom_Object_Body) + sizeof(LV2_Atom_Property_Body) + 2;
    run(i);

    // A sequence size that cuts an event header; a sequence of another type; no port at all.
    begin();
    position(0, 97.0f);
    lv2_atom_forge_pop(&forge, &frame);
    seq->atom.size = sizeof(LV2_Atom_Sequence_Body) + 4;
    run(i);
    seq->atom.type = urid(LV2_ATOM__Chunk);
    run(i);
    lilv_instance_connect_port(i, kControl, nullptr);
    run(i);

    // Audio ports left unconnected: silence where an output is connected, no crash.
    lilv_instance_connect_port(i, kInLeft, nullptr);
    out[0][0] = 1.0f;
    lilv_instance_run(i, kBlock);
    EXPECT_EQ(out[0][0], 0.0f);
}

// The UI: refused without what it needs, embedded in the host's window at its size, and every
// edit told to the host as a port value within a gesture.
class Lv2Ui : public Lv2 {
  protected:
    void SetUp() override {
        Lv2::SetUp();
        if (HasFatalFailure()) return;
        display = XOpenDisplay(nullptr);
        if (!display) GTEST_SKIP() << "no X display (scripts/test runs this under Xvfb)";
        // Other test programs drive the same server's pointer: one at a time.
        std::string name = "/tmp/ql-x11-test";
        for (const char* c = getenv("DISPLAY"); c && *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        lockFd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (lockFd >= 0) flock(lockFd, LOCK_EX);
        library = dlopen(QL_LV2_BUNDLE "/Quillantrope.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto entry = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(
            dlsym(library, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        ui = entry(0);
        ASSERT_NE(ui, nullptr);
        EXPECT_STREQ(ui->URI, kUiUri);
        parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 700, 400, 0, 0, 0);
        XMapWindow(display, parent);
        XSync(display, False);
    }
    void TearDown() override {
        if (display) {
            XDestroyWindow(display, parent);
            XCloseDisplay(display);
        }
        if (library) dlclose(library);
        if (lockFd >= 0) close(lockFd);
        Lv2::TearDown();
    }

    struct Told {
        std::vector<std::pair<uint32_t, float>> values;
        std::vector<std::pair<uint32_t, bool>> touches;
        int width = 0, height = 0;
    };
    static void write(LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t protocol,
                      const void* buffer) {
        if (protocol == 0 && size == sizeof(float))
            static_cast<Told*>(c)->values.emplace_back(port, *static_cast<const float*>(buffer));
    }
    static void touch(LV2UI_Feature_Handle h, uint32_t port, bool grabbed) {
        static_cast<Told*>(h)->touches.emplace_back(port, grabbed);
    }
    static int resize(LV2UI_Feature_Handle h, int width, int height) {
        static_cast<Told*>(h)->width = width;
        static_cast<Told*>(h)->height = height;
        return 0;
    }

    Display* display = nullptr;
    Window parent = 0;
    void* library = nullptr;
    const LV2UI_Descriptor* ui = nullptr;
    int lockFd = -1;
};

TEST_F(Lv2Ui, EmbedsTheEditorAndTellsTheHostItsEdits) {
    LilvInstance* i = make();
    ASSERT_NE(i, nullptr);
    LilvState* p0 = preset(0); // the probes' program
    lilv_state_restore(p0, i, &Lv2::setPortValue, this, 0, gFeatures);
    lilv_state_free(p0);
    run(i);

    Told told;
    LV2UI_Touch touchFeature{&told, touch};
    LV2UI_Resize resizeFeature{&told, resize};
    LV2_Feature access{LV2_INSTANCE_ACCESS_URI, lilv_instance_get_handle(i)};
    LV2_Feature parentF{LV2_UI__parent, reinterpret_cast<void*>(parent)};
    LV2_Feature touchF{LV2_UI__touch, &touchFeature};
    LV2_Feature resizeF{LV2_UI__resize, &resizeFeature};
    LV2UI_Widget widget = nullptr;

    const LV2_Feature* noParent[] = {&gMapFeature, &access, nullptr};
    const LV2_Feature* noAccess[] = {&gMapFeature, &parentF, nullptr};
    EXPECT_EQ(ui->instantiate(ui, kPluginUri, QL_LV2_BUNDLE "/", write, &told, &widget, noParent),
              nullptr);
    EXPECT_EQ(ui->instantiate(ui, kPluginUri, QL_LV2_BUNDLE "/", write, &told, &widget, noAccess),
              nullptr);

    const LV2_Feature* all[] = {&gMapFeature, &access, &parentF, &touchF, &resizeF, nullptr};
    LV2UI_Handle h = ui->instantiate(ui, kPluginUri, QL_LV2_BUNDLE "/", write, &told, &widget, all);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(told.width, 600);
    EXPECT_EQ(told.height, 369);
    const auto* idle =
        static_cast<const LV2UI_Idle_Interface*>(ui->extension_data(LV2_UI__idleInterface));
    ASSERT_NE(idle, nullptr);

    // The widget is the editor's window, a child of the parent, at the editor's size.
    const Window child = Window(reinterpret_cast<uintptr_t>(widget));
    Window root, up, *children = nullptr;
    unsigned count = 0;
    ASSERT_TRUE(XQueryTree(display, parent, &root, &up, &children, &count));
    const bool isChild = std::find(children, children + count, child) != children + count;
    if (children) XFree(children);
    EXPECT_TRUE(isChild);
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(display, child, &attributes));
    EXPECT_EQ(attributes.width, 600);
    EXPECT_EQ(attributes.height, 369);

    auto idleFor = [&](int ms) {
        for (int t = 0; t < ms; t += 10) {
            EXPECT_EQ(idle->idle(h), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    idleFor(300); // mapped and painted

    // Two clicks on the left feedback's on button (lit in program 0): off, and on again.
    int x = 0, y = 0;
    Window ignored;
    XTranslateCoordinates(display, child, DefaultRootWindow(display), 262, 36, &x, &y, &ignored);
    auto click = [&] {
        XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XSync(display, False);
        idleFor(300);
    };
    click();
    click();

    const uint32_t port = uint32_t(portOfParam(ql::LeftFeedbackOn));
    std::vector<float> sent;
    for (const auto& [p, v] : told.values)
        if (p == port) sent.push_back(v);
    EXPECT_EQ(sent, (std::vector<float>{0.0f, 1.0f})) << "the host was not told both edits";
    ASSERT_GE(told.touches.size(), 2u);
    EXPECT_EQ(told.touches.front(), std::make_pair(port, true));
    EXPECT_EQ(told.touches.back(), std::make_pair(port, false));

    // The host applies the UI's values later, one run apart: neither the port's old value nor
    // the first edit, arriving after the second, may undo the editor's latest value.
    controls[port] = 1.0f;
    run(i);
    EXPECT_EQ(decoded(i).values[ql::LeftFeedbackOn], 1.0f);
    controls[port] = 0.0f;
    run(i);
    EXPECT_EQ(decoded(i).values[ql::LeftFeedbackOn], 1.0f) << "a stale value undid the edit";
    controls[port] = 1.0f;
    run(i);
    // Once the host caught up, its own changes count again.
    controls[port] = 0.0f;
    run(i);
    EXPECT_EQ(decoded(i).values[ql::LeftFeedbackOn], 0.0f);

    ui->cleanup(h);
    // The editor is gone; the instance runs on and a new UI may open.
    run(i);
    h = ui->instantiate(ui, kPluginUri, QL_LV2_BUNDLE "/", write, &told, &widget, all);
    ASSERT_NE(h, nullptr);
    ui->cleanup(h);
}

} // namespace
