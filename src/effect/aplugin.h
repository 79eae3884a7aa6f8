// The delay effect: parameters, identity, programs and the audio processing.
#pragma once

#include "effect/apluginprogram.h"
#include "effect/engine.h"
#include "effect/parameters.h"
#include "effect/state.h"
#include "shell/audioeffectx.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

class APlugin : public AudioEffectX {
  public:
    explicit APlugin(audioMasterCallback audioMaster);
    ~APlugin() override;

    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void getParameterName(VstInt32 index, char* text) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    float getVu() override { return 0.0f; }

    void setProgram(VstInt32 program) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override { return 1; }
    VstInt32 canDo(char* text) override;
    bool getInputProperties(VstInt32 index, VstPinProperties* properties) override;
    bool getOutputProperties(VstInt32 index, VstPinProperties* properties) override;

    void process(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void suspend() override {}
    void resume() override { clearDelayLines(); }
    void clearDelayLines() { engine.clearDelayLines(); }

    // Read by the editor bridge; set by it while its window is closed.
    float param(int index) const { return params[index].load(std::memory_order_relaxed); }
    // The indices whose value was set since the last call, one bit each (bit i of word i / 64),
    // and cleared: the editor's idle takes them on the user-interface thread. setParameter marks
    // them on any thread and reaches no editor code itself.
    using ChangeMask = std::array<std::uint64_t, 2>;
    ChangeMask takeEditorChanges();
    void setEditorClosed(bool closed) { editorClosed.store(closed, std::memory_order_relaxed); }
    bool isEditorClosed() const { return editorClosed.load(std::memory_order_relaxed); }
    const APluginProgram& program(int slot) const { return *programs[slot]; }
    const char* getHostVendor() const { return hostVendor; }
    const char* getHostProduct() const { return hostProduct; }

    // Timing published to the editor; written once per block on the audio thread.
    double getCurrentSampleRate() const {
        return currentSampleRate.load(std::memory_order_relaxed);
    }
    double getCurrentTempo() const { return currentTempo.load(std::memory_order_relaxed); }
    float getHostTempo() const { return hostTempo.load(std::memory_order_relaxed); }
    bool getHostHasTimeInfo() const { return hostHasTimeInfo.load(std::memory_order_relaxed); }
    bool getTempoSynced() const { return tempoSynced.load(std::memory_order_relaxed); }
    std::int32_t getWholeNoteMs() const { return wholeNoteMs.load(std::memory_order_relaxed); }

    // The saved state of the other formats' sessions (user-interface thread). Restoring puts
    // back the programs, then the current program and its values through setParameter, so the
    // editor follows as after a program change; the audio may run meanwhile.
    ql::EffectState captureState() const;
    void restoreState(const ql::EffectState& state);

    // The processing state, for inspection.
    const ql::DelayEngine& getEngine() const { return engine; }

    static constexpr const char* kEffectName = "Quillantrope";
    static constexpr const char* kVendor = "quillantrope.audio";

  private:
    // Asks the host for its transport, fixes the block's sample rate and tempo, publishes them
    // and answers the whole note in samples.
    double runTimingStep();

    std::atomic<float> params[ql::kNumParams];
    // Bumped after every parameter store: the engine reads the parameters again only when it
    // has moved.
    std::atomic<std::uint32_t> paramChanges{0};
    const char* paramNames[ql::kNumParams] = {};
    std::unique_ptr<APluginProgram> programs[ql::kNumPrograms];
    std::atomic<bool> editorClosed{false};
    std::array<std::atomic<std::uint64_t>, 2> editorChanges{};
    char hostVendor[256] = {};
    char hostProduct[256] = {};

    // Timing state. The published values are written once per block on the audio thread and
    // read by the editor, which may see the previous block's values.
    std::atomic<double> currentSampleRate{44100.0};
    std::atomic<double> currentTempo{140.0};
    std::atomic<float> hostTempo{0.0f};
    std::atomic<bool> hostHasTimeInfo{false};
    std::atomic<bool> tempoSynced{false};
    std::atomic<std::int32_t> wholeNoteMs{0};
    double manualTempoBpm = 0.0;
    VstTimeInfo* lastTimeInfo = nullptr; // valid only within the step that asked

    // Delay lines and every other processing state (last: it is large).
    ql::DelayEngine engine;
};
