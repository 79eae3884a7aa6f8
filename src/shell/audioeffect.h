// Base of every effect: owns the record the host sees, keeps the host callback and the basic
// state, gives the opcodes 0..24 their default answers and wraps the first host requests.
#pragma once

#include "shell/aeffeditor.h"
#include "shell/vst2abi.h"

#include <atomic>
#include <cstdint>

class AudioEffect {
  public:
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    virtual void setSampleRate(float newSampleRate) {
        sampleRate.store(newSampleRate, std::memory_order_relaxed);
    }
    virtual void setBlockSize(VstInt32 newBlockSize) {
        blockSize.store(newBlockSize, std::memory_order_relaxed);
    }
    virtual void setParameter(VstInt32 index, float value) {}
    virtual float getParameter(VstInt32 index) { return 0.0f; }
    virtual void setParameterAutomated(VstInt32 index, float value);
    virtual void process(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {}
    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                 float opt);
    virtual void open() {}
    virtual void close() {}
    virtual VstInt32 getProgram() { return curProgram.load(std::memory_order_relaxed); }
    virtual void setProgram(VstInt32 program) {
        curProgram.store(program, std::memory_order_relaxed);
    }
    virtual void setProgramName(char* name) {}
    virtual void getProgramName(char* name) {}
    virtual void getParameterLabel(VstInt32 index, char* label) {}
    virtual void getParameterDisplay(VstInt32 index, char* text) {}
    virtual void getParameterName(VstInt32 index, char* text) {}
    virtual float getVu() { return 0.0f; }
    virtual VstInt32 getChunk(void** data, bool isPreset) { return 0; }
    virtual VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) { return 0; }
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setUniqueID(VstInt32 iD) { cEffect.uniqueID = iD; }
    virtual void setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }
    virtual void hasVu(bool state) { setFlag(effFlagsHasVu, state); }
    virtual void hasClip(bool state) { setFlag(effFlagsHasClip, state); }
    virtual void canMono(bool state) { setFlag(effFlagsCanMono, state); }
    virtual void canProcessReplacing(bool state) { setFlag(effFlagsCanReplacing, state); }
    virtual void programsAreChunks(bool state) { setFlag(effFlagsProgramChunks, state); }
    virtual void setRealtimeQualities(VstInt32 qualities) { cEffect.realQualities = qualities; }
    virtual void setOfflineQualities(VstInt32 qualities) { cEffect.offQualities = qualities; }
    virtual void setInitialDelay(VstInt32 delay) { cEffect.initialDelay = delay; }
    virtual VstInt32 getMasterVersion();
    virtual VstInt32 getCurrentUniqueId();
    virtual void masterIdle();
    virtual bool isInputConnected(VstInt32 input);
    virtual bool isOutputConnected(VstInt32 output);

    // Not virtual: installs the editor object (owned) and keeps the record's editor flag in step.
    void setEditor(AEffEditor* newEditor);

    AEffect* getAeffect() { return &cEffect; }
    AEffEditor* getEditor() const { return editor; }
    audioMasterCallback getAudioMaster() const { return audioMaster; }
    float getSampleRate() const { return sampleRate.load(std::memory_order_relaxed); }
    VstInt32 getBlockSize() const { return blockSize.load(std::memory_order_relaxed); }
    VstInt32 getNumPrograms() const { return numPrograms; }
    VstInt32 getNumParams() const { return numParams; }

  protected:
    void setFlag(VstInt32 flag, bool state) {
        if (state)
            cEffect.flags |= flag;
        else
            cEffect.flags &= ~flag;
    }
    // Destroys the editor object now (a derived effect does this before its own members go).
    void destroyEditor() {
        delete editor;
        editor = nullptr;
    }
    // Sends one request to the host with this effect's record first; 0 without a host.
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f);

    // Values the audio thread and the user-interface thread both touch are atomics.
    std::atomic<float> sampleRate{44100.0f};
    AEffEditor* editor = nullptr;
    VstInt32 numPrograms;
    VstInt32 numParams;
    std::atomic<VstInt32> blockSize{1024};
    std::atomic<VstInt32> curProgram{0};
    audioMasterCallback audioMaster;
    AEffect cEffect;
};

// Saturating conversion of a host's pointer-sized `value` to the 32-bit integer the operations
// take, so a 64-bit host's out-of-range value never wraps into a valid index.
inline VstInt32 clampToInt32(VstIntPtr value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<VstInt32>(value);
}
