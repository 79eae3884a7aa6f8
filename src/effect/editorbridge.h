// The editor object the effect installs at construction. The link step decides which one: the
// real editor bridge, or a plain editor with the base answers for builds without an editor.
#pragma once

#include "shell/aeffeditor.h"

class APlugin;

AEffEditor* createEditorBridge(APlugin* effect);
