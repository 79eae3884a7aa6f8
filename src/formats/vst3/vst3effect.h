// The VST3 plug-in: one object that is the component, the audio processor, the edit controller
// and the unit information at once (a single-component effect), all on the bridge. Its view is in
// vst3view.cpp.
#pragma once

#include "formats/bridge/pluginbridge.h"

#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/unit.h"
#include "travesty/view.h"

#include <atomic>
#include <cstdint>
#include <string_view>

namespace ql::formats::vst3 {

// Sessions and presets name the plug-in by its class id: it never changes.
inline constexpr v3_tuid kClassId = V3_ID(0x51C7A3E2, 0x8B0D4F16, 0xA4E9C0D3, 0x7F25B61E);
inline constexpr const char* kName = "Quillantrope";
inline constexpr const char* kVendor = "quillantrope.audio";
inline constexpr const char* kCategory = "Audio Module Class";
inline constexpr const char* kSubCategories = "Fx|Delay";

// Parameter ids are the VST 2 indices; the program change sits beyond them.
inline constexpr v3_param_id kProgramParamId = 1000;
inline constexpr std::int32_t kProgramListId = 1;
inline constexpr std::int32_t kRootUnitId = 0;
// "Infinite tail": the echoes may ring for ever, so hosts never cut them.
inline constexpr std::uint32_t kInfiniteTail = 0xFFFFFFFFu;
inline constexpr v3_speaker_arrangement kStereo = V3_SPEAKER_L | V3_SPEAKER_R;

// One COM interface of an object: the vtable pointer the host sees, then the object.
template <class Owner> struct Face {
    const void* vtable;
    Owner* owner;
};
template <class Owner> Owner* ownerOf(void* self) {
    return static_cast<Face<Owner>*>(self)->owner;
}

// Texts in the interfaces' UTF-16 fields, from and to UTF-8.
void toUtf16(std::string_view text, int16_t* out, std::size_t capacity);
std::size_t fromUtf16(const int16_t* text, char* out, std::size_t capacity);

class Effect {
  public:
    // Null when the effect could not be made.
    static Effect* create();

    // COM: the interface iid names, referenced, or null.
    void* query(const v3_tuid iid);
    std::uint32_t ref();
    std::uint32_t unref();

    PluginBridge& bridge() { return bridge_; }
    // The host's component handler, when it gave one (user-interface thread).
    v3_component_handler** handler() const { return handler_; }
    // The host context given to initialize, for a view that wants the host's run loop.
    v3_funknown** hostContext() const { return hostContext_; }

    // Hands the editor's queued edits to the host (user-interface thread), and tells it about
    // values the processor changed (a program change that came through the queues).
    void flushEdits();

    // The views of the editor (only one is open at a time, as the bridge has one editor).
    Face<Effect>* componentFace() { return &component_; }

    // The interfaces' functions, as V3_API statics on `self`, a face of this object.
    struct Api;
    friend struct Api;

  private:
    Effect();
    ~Effect();

    bool readComponentState(v3_bstream** stream);
    void applyParameterChanges(v3_param_changes** changes);
    // Tells the host, once, about values it did not set (a program, a state): through
    // restartComponent on the user-interface thread, or as output changes of the next block.
    void tellHostValuesChanged();
    void reportValues(v3_param_changes** changes);
    // False when the host sends an older value of a parameter the editor has just set.
    bool acceptHostValue(std::int32_t index, float value);

    Face<Effect> component_, processor_, controller_, units_, contextRequirements_;
    std::atomic<std::uint32_t> refs_{1};
    PluginBridge bridge_;
    v3_component_handler** handler_ = nullptr;
    v3_funknown** hostContext_ = nullptr;

    // Audio thread: set-up and activity.
    double sampleRate_ = 44100.0;
    std::int32_t maxBlock_ = 1024;
    bool active_ = false;

    // The editor's recent values, so that a host echoing an older value back through the queues
    // does not undo an edit. An edit guards its parameter until the host sent the same value, or
    // for a while after the last edit of its gesture (in frames processed).
    std::atomic<std::int64_t> framesProcessed_{0};
    std::atomic<float> editValue_[kNumParams]{};
    std::atomic<std::int64_t> editGuardUntil_[kNumParams]{};
    bool gestureOpen_[kNumParams]{}; // user-interface thread
    // Every value changed without the host's doing (a program, a state).
    std::atomic<bool> valuesChanged_{false};
};

} // namespace ql::formats::vst3
