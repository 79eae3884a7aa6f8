// The LV2 UI: the effect's own editor, embedded in the host's window (ui:parent), reaching the
// effect through instance-access. The host's idle calls drive its refresh and events; its edits go
// to the host as control port values, with gestures through ui:touch when the host offers it.
#include "formats/lv2/lv2instance.h"

#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace ql::lv2 {

namespace {

const void* findFeature(const LV2_Feature* const* features, const char* uri) {
    for (; features && *features; ++features)
        if (std::strcmp((*features)->URI, uri) == 0) return (*features)->data;
    return nullptr;
}

std::vector<Window> childrenOf(Display* display, Window parent) {
    Window root = 0, up = 0, *list = nullptr;
    unsigned count = 0;
    std::vector<Window> children;
    if (XQueryTree(display, parent, &root, &up, &list, &count)) {
        children.assign(list, list + count);
        if (list) XFree(list);
    }
    return children;
}

struct Ui {
    Instance* instance = nullptr;
    LV2UI_Write_Function write = nullptr;
    LV2UI_Controller controller = nullptr;
    const LV2UI_Touch* touch = nullptr;

    // Every edit the editor made, told to the host.
    void forwardEdits() {
        EditEvent e;
        while (instance->effect().nextEdit(e)) {
            const int port = portOfParam(e.index);
            if (port < 0) continue;
            switch (e.kind) {
            case EditEvent::Kind::Begin:
                if (touch) touch->touch(touch->handle, std::uint32_t(port), true);
                break;
            case EditEvent::Kind::Value:
                // Recorded first: the host's copy of it may come back at once.
                instance->uiSent(port - int(kFirstParam), e.value);
                write(controller, std::uint32_t(port), sizeof e.value, 0, &e.value);
                break;
            case EditEvent::Kind::End:
                if (touch) touch->touch(touch->handle, std::uint32_t(port), false);
                break;
            }
        }
    }
};

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
    if (!pluginUri || std::strcmp(pluginUri, kPluginUri) != 0 || !write || !widget) return nullptr;
    auto* instance =
        static_cast<Instance*>(const_cast<void*>(findFeature(features, LV2_INSTANCE_ACCESS_URI)));
    void* parent = const_cast<void*>(findFeature(features, LV2_UI__parent));
    // Without the effect or a window to live in there is no editor to show.
    if (!instance || instance->magic != Instance::kMagic || !parent) return nullptr;
    if (instance->effect().editorIsOpen()) return nullptr; // one editor per instance

    // The editor makes its window on a connection of its own; this one only finds it, for the
    // host that wants to know its widget.
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    const Window parentWindow = Window(reinterpret_cast<std::uintptr_t>(parent));
    const std::vector<Window> before = childrenOf(display, parentWindow);
    if (!instance->effect().openEditor(parent)) {
        XCloseDisplay(display);
        return nullptr;
    }
    Window child = 0;
    for (Window w : childrenOf(display, parentWindow))
        if (std::find(before.begin(), before.end(), w) == before.end()) child = w;
    XCloseDisplay(display);

    auto* ui = new (std::nothrow) Ui;
    if (!ui) {
        instance->effect().closeEditor();
        return nullptr;
    }
    ui->instance = instance;
    ui->write = write;
    ui->controller = controller;
    ui->touch = static_cast<const LV2UI_Touch*>(findFeature(features, LV2_UI__touch));
    if (const auto* resize =
            static_cast<const LV2UI_Resize*>(findFeature(features, LV2_UI__resize)))
        resize->ui_resize(resize->handle, PluginBridge::kEditorWidth, PluginBridge::kEditorHeight);
    *widget = reinterpret_cast<LV2UI_Widget>(static_cast<std::uintptr_t>(child));
    return ui;
}

void cleanup(LV2UI_Handle handle) {
    auto* ui = static_cast<Ui*>(handle);
    ui->instance->effect().closeEditor();
    ui->forwardEdits(); // the gestures the close ended
    delete ui;
}

int idle(LV2UI_Handle handle) {
    auto* ui = static_cast<Ui*>(handle);
    ui->instance->effect().idleEditor();
    ui->forwardEdits();
    return 0;
}

const void* extensionData(const char* uri) {
    static const LV2UI_Idle_Interface idleInterface = {idle};
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0) return &idleInterface;
    return nullptr;
}

// The editor follows the effect itself, so the host's port events need no answer.
const LV2UI_Descriptor kDescriptor = {kUiUri, instantiate, cleanup, nullptr, extensionData};

} // namespace
} // namespace ql::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &ql::lv2::kDescriptor : nullptr;
}
