// One LV2 instance of the effect: the ports, the host's transport as time:Position events told it,
// and the bridge. The UI (same library) reaches it through instance-access.
#pragma once

#include "formats/bridge/pluginbridge.h"
#include "formats/lv2/lv2ids.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <array>
#include <atomic>
#include <cstdint>

namespace ql::lv2 {

using formats::EditEvent;
using formats::PluginBridge;
using formats::Transport;

struct Urids {
    LV2_URID atomBlank, atomObject, atomSequence, atomChunk, atomFloat, atomDouble, atomInt,
        atomLong, atomBeatTime;
    LV2_URID timePosition, timeBpm, timeSpeed, timeFrame;
    LV2_URID stateKey, programKey;
};

class Instance {
  public:
    static constexpr std::uint32_t kMagic = 0x514c5632; // "QLV2"

    Instance(double sampleRate, const LV2_URID_Map& map, std::int32_t maxBlock);

    bool valid() const { return bridge.valid(); }
    void connect(std::uint32_t port, void* data);
    void activate();
    void deactivate();
    void run(std::uint32_t frames);

    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle);
    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

    // The UI thread tells the instance each value it sends the host for a control port, so that
    // the host's older values, still on their way, do not undo the editor's newer one.
    void uiSent(int control, float value);

    PluginBridge& effect() { return bridge; }
    std::uint32_t magic = kMagic;

  private:
    void readControls();
    void readPosition(const LV2_Atom_Object* object);
    bool isStaleUiValue(int control, float value);
    void processSpan(std::uint32_t offset, std::uint32_t frames);

    PluginBridge bridge;
    Urids urid{};

    const float* audioIn[2] = {};
    float* audioOut[2] = {};
    const LV2_Atom_Sequence* control = nullptr;
    std::array<const float*, kNumNamedParams> controls{};
    // Each control port's value at the last run (as bits, so a NaN compares equal to itself);
    // written by the audio thread, and by restore, which hosts never run beside it.
    std::array<std::atomic<std::uint32_t>, kNumNamedParams> lastSeen{};

    // The host's transport: what its latest time:Position said.
    bool positionSeen = false;
    bool tempoKnown = false;
    double tempo = 0.0;
    bool frameKnown = false;
    double frame = 0.0;
    double speed = 1.0;

    // The values the UI sent per control port, the latest few, and how many it sent; the audio
    // thread's count of those it saw come back.
    static constexpr std::uint32_t kSentHistory = 8;
    struct Sent {
        std::array<std::atomic<std::uint32_t>, kSentHistory> values{};
        std::atomic<std::uint32_t> count{0};
        std::uint32_t seen = 0; // audio thread
    };
    std::array<Sent, kNumNamedParams> sent{};
};

} // namespace ql::lv2
