// The host side of the VST 2 boundary: loads a plug-in library through its exported entry,
// answers the plug-in's requests (version, time, tempo, host names) and drives the record.
#pragma once

#include "platform.h"
#include "shell/vst2abi.h"

#include <string>

namespace qlrender {

struct HostTime {
    bool provided = true;    // false: audioMasterGetTime answers null
    bool viaTempoAt = false; // the tempo-valid flag stays clear; audioMasterTempoAt answers
    double tempo = 120.0;    // beats per minute
};

class PluginHost {
  public:
    // Loads the library and asks its entry for an effect, as a host does; opens the effect and
    // tells it the sample rate and block size. Throws RenderError when any step fails.
    PluginHost(const std::string& path, double sampleRate, int blockSize, HostTime time);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    int numPrograms() const { return effect->numPrograms; }
    int numParams() const { return effect->numParams; }
    std::string programName(int program);
    int currentProgram();
    void setProgram(int program);
    float parameter(int index);
    void setParameter(int index, float value);
    std::string parameterDisplay(int index);
    std::string parameterLabel(int index);
    std::string effectName();

    // Switches the effect on (effMainsChanged 1); the first process call follows.
    void start();
    // One block through processReplacing: two input and two output channels of `frames`.
    void process(float* const inputs[2], float* const outputs[2], int frames);

    // With measuring on, the host keeps the time spent inside the plug-in while rendering
    // (switching on and processing) and the part of it spent in its own callbacks.
    void setMeasuring(bool on) { measuring = on; }
    double pluginSeconds() const { return pluginTime; }
    double callbackSeconds() const { return callbackTime; }

  private:
    static VstIntPtr QL_VSTCALL callback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                         VstIntPtr value, void* ptr, float opt);
    VstIntPtr answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr);
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f);
    std::string text(VstInt32 opcode, VstInt32 index);
    void fillTimeInfo();

    SharedLibrary library;
    AEffect* effect = nullptr;
    bool running = false;
    double sampleRate;
    int blockSize;
    HostTime time;
    double samplePos = 0.0;
    VstTimeInfo timeInfo{};
    bool measuring = false;
    double pluginTime = 0.0;
    double callbackTime = 0.0;
};

} // namespace qlrender
