// Builds without the editor install this: an editor object with the base answers, so the record
// still announces an editor and every editor opcode answers as the base class does.
#include "effect/aplugin.h"
#include "effect/editorbridge.h"

namespace {
class PlainEditor final : public AEffEditor {
  public:
    explicit PlainEditor(APlugin* effect) : AEffEditor(effect) {}
};
} // namespace

AEffEditor* createEditorBridge(APlugin* effect) {
    return new PlainEditor(effect);
}
