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
    static const TFormClassRegistry* registry = [] {
        auto* r = new TFormClassRegistry;
        RegisterFrameworkFormClasses(*r);
        RegisterDIBFormClasses(*r);
        return r;
    }();
    return *registry;
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
