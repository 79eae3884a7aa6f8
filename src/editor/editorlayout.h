// The editor window's stored form: the embedded description and how a window loads it.
#pragma once

#include "framework/formloader.h"

#include <cstdint>
#include <span>
#include <string_view>

class TForm;

// The text of the description (src/editor/TPluginEditorWindow.form).
std::string_view PluginEditorWindowDescription();

// The framework's and the skinned control library's classes, registered once.
const TFormClassRegistry& EditorFormClasses();

// The skin pictures and stored bitmaps the description names with resource("..."); empty for a
// name that is not stored.
std::span<const uint8_t> EditorResource(std::string_view name);

// Builds window's components from the description, binding events to handlers by name. window's
// ClassName() must be "TPluginEditorWindow". Raises EFormError when the description cannot be
// carried out (a handler it names is missing, for instance).
void LoadPluginEditorWindowLayout(TForm& window, TFormHandlers handlers);
