// The one road from every plug-in format to the effect. A bridge hosts the effect inside the
// library exactly as a VST 2 host would: it makes it through the VST 2 entry, drives it through
// its record (dispatcher, processReplacing, setParameter) and answers its requests with an
// internal host callback whose context is the bridge. So the timing step, the engine and the
// editor run the same code in every format, and every format's render equals the VST 2 render.
//
// Threads, as a VST 2 host's: construction, set-up, programs, state, texts and the editor calls on
// the main (user-interface) thread; process() on the audio thread; setParameter() on any thread.
#pragma once

#include "effect/paramtable.h"
#include "effect/state.h"
#include "formats/bridge/editqueue.h"
#include "shell/vst2abi.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class APlugin;

namespace ql::formats {

// What the format's host told about time for one block.
struct Transport {
    bool present = false;  // the host gave any transport at all
    bool hasTempo = false; // ... and a tempo in it
    double tempo = 0.0;    // beats per minute; one outside 0 < tempo <= kMaxTempo counts as none
    bool hasSamplePos = false; // ... and its position; otherwise the bridge counts the blocks
    double samplePos = 0.0;
};

struct HostNames {
    const char* vendor = "";
    const char* product = "";
};

class PluginBridge {
  public:
    // The editor's size, known before it is first opened (hosts of the other formats ask first).
    static constexpr int kEditorWidth = 600;
    static constexpr int kEditorHeight = 369;
    // The largest tempo the tempo request can carry (beats per minute x 10000 in 32 bits).
    static constexpr double kMaxTempo = 214748.0;

    explicit PluginBridge(HostNames names = {});
    ~PluginBridge();
    PluginBridge(const PluginBridge&) = delete;
    PluginBridge& operator=(const PluginBridge&) = delete;

    // False when the effect could not be made; no other call may then be made.
    bool valid() const { return effect != nullptr; }

    // Set-up, with the audio stopped.
    void setSampleRate(double rate);
    void setBlockSize(std::int32_t frames);
    // The host's resume: the delay lines are cleared, and the tempo a host gave before is
    // forgotten until it gives one again.
    void start();
    void stop();

    // One block. Parameter changes meant for this block are set before it, as a VST 2 host does.
    // Inputs and outputs may be the same buffers. Any frames count, 0 included.
    void process(float** inputs, float** outputs, std::int32_t frames, const Transport& transport);

    void setParameter(std::int32_t index, float value);
    float parameter(std::int32_t index) const;

    std::int32_t currentProgram() const;
    void selectProgram(std::int32_t program);
    // The program's full name (up to 31 characters), empty outside 0..39.
    std::string programName(std::int32_t program) const;

    std::vector<std::uint8_t> saveState() const;
    // Refuses a blob it cannot read with the reason, and then changes nothing.
    StateResult loadState(const void* data, std::size_t size);

    // Host texts of the other formats, at the effect's current tempo and sample rate.
    ParamTextContext textContext() const;
    std::size_t formatValue(std::int32_t index, float value, char* out, std::size_t capacity) const;
    bool parseValue(std::int32_t index, std::string_view text, float& value) const;

    // The editor (user-interface thread). open() is false, leaving no window, when the window
    // system refuses the parent or no display is reachable.
    bool openEditor(void* parent);
    void idleEditor();
    void closeEditor();
    bool editorIsOpen() const { return editorOpen; }
    // The open editor's window-system connection (its X connection's file descriptor), for a
    // format whose host waits on it before idleEditor(); -1 when there is none.
    int editorConnection() const;

    // The editor's edits, as gestures around values, for the format to tell its host. One thread
    // takes them; the listener runs on the user-interface thread after each edit was queued (a
    // format may ask its host for a flush there, or take the edits at once).
    bool nextEdit(EditEvent& event) { return edits.next(event); }
    using EditListener = void (*)(void* context);
    void setEditListener(EditListener listener, void* context);

    // The effect itself, for formats whose host reaches it directly (LV2 instance access).
    APlugin& plugin() const;
    AEffect* record() const { return effect; }

  private:
    static VstIntPtr QL_VSTCALL hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                             VstIntPtr value, void* ptr, float opt);
    VstIntPtr answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) const;

    AEffect* effect = nullptr;
    std::string vendor, product;

    // Audio thread: the record the effect's time request answers, and what fills it.
    VstTimeInfo timeInfo{};
    bool timeValid = false;
    // The host's latest tempo since start(), answered to the tempo request in blocks whose
    // transport carries none (hosts that send the position only when it changes).
    double knownTempo = 0.0;
    bool tempoKnown = false;
    double blockPosition = 0.0;
    double sampleRate = 44100.0;

    EditQueue edits;
    EditListener editListener = nullptr;
    void* editListenerContext = nullptr;
    bool editorOpen = false;
    bool editedSinceIdle = false;
};

} // namespace ql::formats
