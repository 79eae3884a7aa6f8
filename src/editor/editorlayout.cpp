#include "editor/editorlayout.h"

#include "dibcontrols/registerclasses.h"
#include "editor/skindata.h"

#include <cstddef>

extern const char ql_form_TPluginEditorWindow[];
extern const std::size_t ql_form_TPluginEditorWindow_size;

std::string_view PluginEditorWindowDescription() {
    return {ql_form_TPluginEditorWindow, ql_form_TPluginEditorWindow_size};
}

const TFormClassRegistry& EditorFormClasses() {
    // A static object, not a heap one: it goes with the library when a host unloads it.
    struct Registry {
        TFormClassRegistry classes;
        Registry() {
            RegisterFrameworkFormClasses(classes);
            RegisterDIBFormClasses(classes);
        }
    };
    static const Registry registry;
    return registry.classes;
}

std::span<const uint8_t> EditorResource(std::string_view name) {
    const SkinBlob* blob = findSkinBlob(std::string(name).c_str());
    if (!blob) return {};
    return {blob->data, blob->size};
}

void LoadPluginEditorWindowLayout(TForm& window, TFormHandlers handlers) {
    TFormLoadContext context;
    context.Classes = &EditorFormClasses();
    context.Handlers = std::move(handlers);
    context.Resources = &EditorResource;
    LoadForm(window, PluginEditorWindowDescription(), context);
}
