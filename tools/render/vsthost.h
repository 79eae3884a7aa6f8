// The host side of the VST 2 boundary: loads a plug-in library through its exported entry,
// answers the plug-in's requests (version, time, tempo, host names) and drives the record.
#pragma once

#include "formathost.h"
#include "platform.h"
#include "shell/vst2abi.h"

#include <string>

namespace qlrender {

// HostTime: without time provided audioMasterGetTime answers null; with viaTempoAt the
// tempo-valid flag stays clear and audioMasterTempoAt answers.
class VstHost final : public FormatHost {
  public:
    // Loads the library and asks its entry for an effect, as a host does; opens the effect and
    // tells it the sample rate and block size. Throws RenderError when any step fails.
    VstHost(const std::string& path, double sampleRate, int blockSize, HostTime time);
    ~VstHost() override;

    int numPrograms() override { return effect->numPrograms; }
    int numParams() override { return effect->numParams; }
    std::string programName(int program) override;
    int currentProgram() override;
    void setProgram(int program) override;
    float parameter(int index) override;
    void setParameter(int index, float value) override;
    std::string parameterDisplay(int index) override;
    std::string parameterLabel(int index) override;
    std::string effectName() override;

    // effMainsChanged 1.
    void start() override;
    // processReplacing.
    void process(float* const inputs[2], float* const outputs[2], int frames) override;

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
};

} // namespace qlrender
