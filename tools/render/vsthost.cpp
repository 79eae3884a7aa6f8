#include "vsthost.h"

#include "options.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace qlrender {

namespace {

// The callback is a plain function without a context argument, and the plug-in already calls it
// from inside its entry, before the host knows the record: so one host is active per process.
VstHost* gActiveHost = nullptr;

using PluginEntry = AEffect*(QL_VSTCALL*)(audioMasterCallback);
using Clock = std::chrono::steady_clock;

constexpr VstIntPtr kHostVstVersion = 2400;
constexpr const char* kHostVendor = "Quillantrope";
constexpr const char* kHostProduct = "quillantrope-render";
constexpr VstIntPtr kProcessLevelOffline = 4;
constexpr VstIntPtr kLanguageEnglish = 1;

// Host texts are short; the plug-in's buffers for them may be smaller than the VST 2 limit.
void copyHostText(void* ptr, const char* text) {
    if (ptr) std::memcpy(ptr, text, std::strlen(text) + 1);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

VstHost::VstHost(const std::string& path, double rate, int frames, HostTime hostTime)
    : sampleRate(rate), blockSize(frames), time(hostTime) {
    std::string error;
    if (!library.open(path, error))
        throw RenderError("cannot load the plug-in " + path + ": " + error);
    // Linux hosts look for VSTPluginMain first; `main` is the original name.
    auto entry = reinterpret_cast<PluginEntry>(library.symbol("VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<PluginEntry>(library.symbol("main"));
    if (!entry)
        throw RenderError("the plug-in " + path +
                          " exports no VST 2 entry (neither VSTPluginMain nor main)");

    fillTimeInfo();
    gActiveHost = this;
    effect = entry(&VstHost::callback);
    if (!effect)
        throw RenderError("the plug-in " + path +
                          " refused to create an effect (its entry "
                          "returned null)");
    if (effect->magic != kEffectMagic) {
        effect = nullptr; // not a record we can safely close
        throw RenderError("the plug-in " + path +
                          " returned something that is not a VST 2 "
                          "effect record");
    }
    if (effect->numInputs < 1 || effect->numOutputs < 2 || !effect->processReplacing ||
        !(effect->flags & effFlagsCanReplacing)) {
        dispatch(effClose);
        effect = nullptr;
        throw RenderError("the plug-in " + path +
                          " is not a stereo effect with replacing "
                          "processing");
    }
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    dispatch(effSetBlockSize, 0, blockSize);
}

VstHost::~VstHost() {
    if (effect) {
        if (running) dispatch(effMainsChanged, 0, 0);
        dispatch(effClose); // the effect deletes itself
        effect = nullptr;
    }
    if (gActiveHost == this) gActiveHost = nullptr;
}

VstIntPtr QL_VSTCALL VstHost::callback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                       VstIntPtr value, void* ptr, float opt) {
    // The version question comes before any host state matters, and with a null record.
    if (opcode == audioMasterVersion) return kHostVstVersion;
    VstHost* host = gActiveHost;
    if (!host) return 0;
    if (!host->measuring) return host->answer(opcode, index, value, ptr);
    const auto start = Clock::now();
    const VstIntPtr result = host->answer(opcode, index, value, ptr);
    host->callbackTime += secondsSince(start);
    return result;
}

VstIntPtr VstHost::answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr) {
    switch (opcode) {
    case audioMasterGetTime:
        return time.provided ? reinterpret_cast<VstIntPtr>(&timeInfo) : 0;
    case audioMasterTempoAt:
        // Tempo in beats per minute times 10000; the tempo is constant over the whole render.
        return time.provided ? static_cast<VstIntPtr>(std::lrint(time.tempo * 10000.0)) : 0;
    case audioMasterGetSampleRate:
        return static_cast<VstIntPtr>(std::lrint(sampleRate));
    case audioMasterGetBlockSize:
        return blockSize;
    case audioMasterGetVendorString:
        copyHostText(ptr, kHostVendor);
        return 1;
    case audioMasterGetProductString:
        copyHostText(ptr, kHostProduct);
        return 1;
    case audioMasterGetVendorVersion:
        return 1;
    case audioMasterGetCurrentProcessLevel:
        return kProcessLevelOffline;
    case audioMasterGetLanguage:
        return kLanguageEnglish;
    case audioMasterPinConnected:
        return (index == 0 || index == 1) ? 0 : 1; // 0 means connected
    case audioMasterCanDo:
        if (ptr && std::strcmp(static_cast<const char*>(ptr), "sendVstTimeInfo") == 0)
            return time.provided ? 1 : -1;
        return 0;
    default:
        return 0; // automation and everything else: noted by nobody, answered "no"
    }
}

VstIntPtr VstHost::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                            float opt) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void VstHost::fillTimeInfo() {
    timeInfo = VstTimeInfo{};
    timeInfo.samplePos = samplePos;
    timeInfo.sampleRate = sampleRate;
    timeInfo.ppqPos = samplePos / sampleRate * time.tempo / 60.0;
    timeInfo.timeSigNumerator = 4;
    timeInfo.timeSigDenominator = 4;
    timeInfo.flags = kVstTransportPlaying | kVstPpqPosValid | kVstTimeSigValid;
    if (!time.viaTempoAt) {
        timeInfo.tempo = time.tempo;
        timeInfo.flags |= kVstTempoValid;
    }
}

std::string VstHost::text(VstInt32 opcode, VstInt32 index) {
    // Generous and zeroed: a plug-in may write more than the convention allows, or nothing.
    char buffer[256] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

std::string VstHost::programName(int program) {
    return text(effGetProgramNameIndexed, program);
}

int VstHost::currentProgram() {
    return static_cast<int>(dispatch(effGetProgram));
}

void VstHost::setProgram(int program) {
    dispatch(effSetProgram, 0, program);
}

float VstHost::parameter(int index) {
    return effect->getParameter(effect, index);
}

void VstHost::setParameter(int index, float value) {
    effect->setParameter(effect, index, value);
}

std::string VstHost::parameterDisplay(int index) {
    return text(effGetParamDisplay, index);
}

std::string VstHost::parameterLabel(int index) {
    return text(effGetParamLabel, index);
}

std::string VstHost::effectName() {
    return text(effGetEffectName, 0);
}

void VstHost::start() {
    // Switching on clears the delay lines: plug-in work, counted with its processing.
    const auto start = Clock::now();
    dispatch(effMainsChanged, 0, 1);
    if (measuring) pluginTime += secondsSince(start);
    running = true;
}

void VstHost::process(float* const inputs[2], float* const outputs[2], int frames) {
    fillTimeInfo();
    float* ins[2] = {inputs[0], inputs[1]};
    float* outs[2] = {outputs[0], outputs[1]};
    const auto start = measuring ? Clock::now() : Clock::time_point();
    effect->processReplacing(effect, ins, outs, frames);
    if (measuring) pluginTime += secondsSince(start);
    samplePos += frames;
}

std::unique_ptr<FormatHost> openVst2Host(const std::string& path, double sampleRate, int blockSize,
                                         HostTime time) {
    return std::make_unique<VstHost>(path, sampleRate, blockSize, time);
}

} // namespace qlrender
