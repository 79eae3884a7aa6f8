// The editor as a VST3 plug-in view: 600 x 369, not resizable, embedded in the host's window.
#pragma once

#include "travesty/view.h"

namespace ql::formats::vst3 {

class Effect;

// A new view of the effect's editor (it holds a reference on the effect), or null.
v3_plugin_view** createEditorView(Effect& effect);

} // namespace ql::formats::vst3
