#include "shell/audioeffectx.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {
VstIntPtr truth(bool b) {
    return b ? 1 : 0;
}
} // namespace

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt) {
    auto* text = static_cast<char*>(ptr);
    const bool flag = index != 0;
    switch (opcode) {
    case effProcessEvents:
        return processEvents(ptr);
    case effCanBeAutomated:
        return truth(canParameterBeAutomated(index));
    case effString2Parameter:
        return truth(string2parameter(index, text));
    case effGetNumProgramCategories:
        return getNumCategories();
    case effGetProgramNameIndexed:
        return text ? truth(getProgramNameIndexed(clampToInt32(value), index, text)) : 0;
    case effCopyProgram:
        return truth(copyProgram(index));
    case effConnectInput:
        inputConnected(index, value != 0);
        return 1;
    case effConnectOutput:
        outputConnected(index, value != 0);
        return 1;
    case effGetInputProperties:
        return ptr ? truth(getInputProperties(index, static_cast<VstPinProperties*>(ptr))) : 0;
    case effGetOutputProperties:
        return ptr ? truth(getOutputProperties(index, static_cast<VstPinProperties*>(ptr))) : 0;
    case effGetPlugCategory:
        return getPlugCategory();
    case effGetCurrentPosition:
        return reportCurrentPosition();
    case effGetDestinationBuffer:
        return reportDestinationBuffer();
    case effOfflineNotify:
        return truth(offlineNotify(ptr, clampToInt32(value), flag));
    case effOfflinePrepare:
        return truth(offlinePrepare(ptr, clampToInt32(value)));
    case effOfflineRun:
        return truth(offlineRun(ptr, clampToInt32(value)));
    case effProcessVarIo:
        return truth(processVariableIo(ptr));
    case effSetSpeakerArrangement:
        return truth(setSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement*>(value),
                                           static_cast<VstSpeakerArrangement*>(ptr)));
    case effSetBlockSizeAndSampleRate:
        setBlockSizeAndSampleRate(clampToInt32(value), opt);
        return 1;
    case effSetBypass:
        return truth(setBypass(value != 0));
    case effGetEffectName:
        return text ? truth(getEffectName(text)) : 0;
    case effGetErrorText:
        return text ? truth(getErrorText(text)) : 0;
    case effGetVendorString:
        return text ? truth(getVendorString(text)) : 0;
    case effGetProductString:
        return text ? truth(getProductString(text)) : 0;
    case effGetVendorVersion:
        return getVendorVersion();
    case effVendorSpecific:
        return vendorSpecific(index, value, ptr, opt);
    case effCanDo:
        return text ? canDo(text) : 0;
    case effGetTailSize:
        return getGetTailSize();
    case effIdle:
        return fxIdle();
    case effGetIcon:
        return reinterpret_cast<VstIntPtr>(getIcon());
    case effSetViewPosition:
        return truth(setViewPosition(index, clampToInt32(value)));
    case effGetParameterProperties:
        return truth(getParameterProperties(index, ptr));
    case effKeysRequired:
        return keysRequired() ? 0 : 1;
    case effGetVstVersion:
        return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp: {
        if (!editor) return 0;
        VstKeyCode key{};
        key.character = index;
        key.virt = static_cast<unsigned char>(value & 0xFF);
        // the option float carries the modifier; only its rounded low byte is meaningful
        const float rounded = std::isfinite(opt) ? std::nearbyint(opt) : 0.0f;
        const long long m = std::fabs(rounded) < 9.2e18f ? static_cast<long long>(rounded) : 0;
        key.modifier = static_cast<unsigned char>(m & 0xFF);
        return opcode == effEditKeyDown ? editor->onKeyDown(key) : editor->onKeyUp(key);
    }
    case effSetEditKnobMode:
        return editor ? editor->setKnobMode(clampToInt32(value)) : 0;
    case effGetMidiProgramName:
        return getMidiProgramName(index, ptr);
    case effGetCurrentMidiProgram:
        return getCurrentMidiProgram(index, ptr);
    case effGetMidiProgramCategory:
        return getMidiProgramCategory(index, ptr);
    case effHasMidiProgramsChanged:
        return truth(hasMidiProgramsChanged(index));
    case effGetMidiKeyName:
        return truth(getMidiKeyName(index, ptr));
    case effBeginSetProgram:
        return truth(beginSetProgram());
    case effEndSetProgram:
        return truth(endSetProgram());
    case effGetSpeakerArrangement: {
        // The places belong to the dispatcher: nothing is written into the host's memory.
        VstSpeakerArrangement* in = nullptr;
        VstSpeakerArrangement* out = nullptr;
        return truth(getSpeakerArrangement(&in, &out));
    }
    case effShellGetNextPlugin:
        return text ? getNextShellPlugin(text) : 0;
    case effStartProcess:
        return startProcess();
    case effStopProcess:
        return stopProcess();
    case effSetTotalSampleToProcess:
        return setTotalSampleToProcess(clampToInt32(value));
    case effSetPanLaw:
        return truth(setPanLaw(clampToInt32(value), opt));
    case effBeginLoadBank:
        return beginLoadBank(ptr);
    case effBeginLoadProgram:
        return beginLoadProgram(ptr);
    default:
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

VstTimeInfo* AudioEffectX::getTimeInfo(VstInt32 filter) {
    return reinterpret_cast<VstTimeInfo*>(callHost(audioMasterGetTime, 0, filter));
}

void AudioEffectX::setTime(VstTimeInfo* info, VstInt32 filter) {
    callHost(audioMasterSetTime, 0, filter, info);
}

VstInt32 AudioEffectX::tempoAt(VstInt32 pos) {
    return clampToInt32(callHost(audioMasterTempoAt, 0, pos));
}

VstInt32 AudioEffectX::getNumAutomatableParameters() {
    return clampToInt32(callHost(audioMasterGetNumAutomatableParameters));
}

VstInt32 AudioEffectX::getParameterQuantization() {
    return clampToInt32(callHost(audioMasterGetParameterQuantization));
}

bool AudioEffectX::ioChanged() {
    return callHost(audioMasterIOChanged) != 0;
}
bool AudioEffectX::needIdle() {
    return callHost(audioMasterNeedIdle) != 0;
}

bool AudioEffectX::sizeWindow(VstInt32 width, VstInt32 height) {
    return callHost(audioMasterSizeWindow, width, height) != 0;
}

double AudioEffectX::updateSampleRate() {
    const VstIntPtr answer = callHost(audioMasterGetSampleRate);
    if (answer > 0) setSampleRate(static_cast<float>(answer));
    return getSampleRate();
}

VstInt32 AudioEffectX::updateBlockSize() {
    const VstIntPtr answer = callHost(audioMasterGetBlockSize);
    if (answer > 0) setBlockSize(clampToInt32(answer));
    return getBlockSize();
}

VstInt32 AudioEffectX::getInputLatency() {
    return clampToInt32(callHost(audioMasterGetInputLatency));
}
VstInt32 AudioEffectX::getOutputLatency() {
    return clampToInt32(callHost(audioMasterGetOutputLatency));
}
AEffect* AudioEffectX::getPreviousPlug(VstInt32) {
    return reinterpret_cast<AEffect*>(callHost(audioMasterGetPreviousPlug));
}
AEffect* AudioEffectX::getNextPlug(VstInt32) {
    return reinterpret_cast<AEffect*>(callHost(audioMasterGetNextPlug));
}
VstInt32 AudioEffectX::willProcessReplacing() {
    return clampToInt32(callHost(audioMasterWillReplaceOrAccumulate));
}
VstInt32 AudioEffectX::getCurrentProcessLevel() {
    return clampToInt32(callHost(audioMasterGetCurrentProcessLevel));
}
VstInt32 AudioEffectX::getAutomationState() {
    return clampToInt32(callHost(audioMasterGetAutomationState));
}

bool AudioEffectX::offlineRead(void* offline, VstInt32 option, bool readSource) {
    return callHost(audioMasterOfflineRead, readSource ? 1 : 0, option, offline) != 0;
}
bool AudioEffectX::offlineWrite(void* offline, VstInt32 option) {
    return callHost(audioMasterOfflineWrite, 0, option, offline) != 0;
}
bool AudioEffectX::offlineStart(void* audioFiles, VstInt32 numAudioFiles,
                                VstInt32 numNewAudioFiles) {
    return callHost(audioMasterOfflineStart, numNewAudioFiles, numAudioFiles, audioFiles) != 0;
}
VstInt32 AudioEffectX::offlineGetCurrentPass() {
    return callHost(audioMasterOfflineGetCurrentPass) != 0 ? 1 : 0;
}
VstInt32 AudioEffectX::offlineGetCurrentMetaPass() {
    return callHost(audioMasterOfflineGetCurrentMetaPass) != 0 ? 1 : 0;
}

void AudioEffectX::setOutputSampleRate(float rate) {
    callHost(audioMasterSetOutputSampleRate, 0, 0, nullptr, rate);
}
VstSpeakerArrangement* AudioEffectX::getInputSpeakerArrangement() {
    return reinterpret_cast<VstSpeakerArrangement*>(
        callHost(audioMasterGetInputSpeakerArrangement));
}
VstSpeakerArrangement* AudioEffectX::getOutputSpeakerArrangement() {
    return reinterpret_cast<VstSpeakerArrangement*>(
        callHost(audioMasterGetOutputSpeakerArrangement));
}

bool AudioEffectX::getHostVendorString(char* text) {
    return callHost(audioMasterGetVendorString, 0, 0, text) != 0;
}
bool AudioEffectX::getHostProductString(char* text) {
    return callHost(audioMasterGetProductString, 0, 0, text) != 0;
}
VstInt32 AudioEffectX::getHostVendorVersion() {
    return clampToInt32(callHost(audioMasterGetVendorVersion));
}
VstIntPtr AudioEffectX::hostVendorSpecific(VstInt32 lArg1, VstIntPtr lArg2, void* ptrArg,
                                           float floatArg) {
    return callHost(audioMasterVendorSpecific, lArg1, lArg2, ptrArg, floatArg);
}
VstInt32 AudioEffectX::canHostDo(char* text) {
    return clampToInt32(callHost(audioMasterCanDo, 0, 0, text));
}
VstInt32 AudioEffectX::getHostLanguage() {
    return clampToInt32(callHost(audioMasterGetLanguage));
}
void* AudioEffectX::openWindow(void* window) {
    return reinterpret_cast<void*>(callHost(audioMasterOpenWindow, 0, 0, window));
}
bool AudioEffectX::closeWindow(void* window) {
    return callHost(audioMasterCloseWindow, 0, 0, window) != 0;
}
void* AudioEffectX::getDirectory() {
    return reinterpret_cast<void*>(callHost(audioMasterGetDirectory));
}
bool AudioEffectX::updateDisplay() {
    return callHost(audioMasterUpdateDisplay) != 0;
}
bool AudioEffectX::beginEdit(VstInt32 index) {
    return callHost(audioMasterBeginEdit, index) != 0;
}
bool AudioEffectX::endEdit(VstInt32 index) {
    return callHost(audioMasterEndEdit, index) != 0;
}
bool AudioEffectX::openFileSelector(void* ptr) {
    return ptr && callHost(audioMasterOpenFileSelector, 0, 0, ptr) != 0;
}

bool AudioEffectX::getSpeakerArrangement(VstSpeakerArrangement** pluginInput,
                                         VstSpeakerArrangement** pluginOutput) {
    if (pluginInput) *pluginInput = nullptr;
    if (pluginOutput) *pluginOutput = nullptr;
    return false;
}

bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 nbChannels) {
    if (!arrangement || nbChannels < 0) return false;
    std::free(*arrangement);
    *arrangement = nullptr;
    const size_t size = 8 + sizeof(VstSpeakerProperties) * static_cast<size_t>(nbChannels);
    auto* block = static_cast<VstSpeakerArrangement*>(std::calloc(1, size));
    if (!block) return false;
    block->numChannels = nbChannels;
    *arrangement = block;
    return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** arrangement) {
    if (arrangement) {
        std::free(*arrangement);
        *arrangement = nullptr;
    }
    return true;
}

bool AudioEffectX::copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from) {
    if (!to || !from) return false;
    std::memcpy(to->name, from->name, sizeof(to->name));
    to->name[sizeof(to->name) - 1] = '\0';
    to->type = from->type;
    to->azimuth = from->azimuth;
    to->elevation = from->elevation;
    to->radius = from->radius;
    to->reserved = from->reserved;
    std::memcpy(to->future, from->future, sizeof(to->future));
    return true;
}

bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from) {
    if (!from || !to) return false;
    if (!allocateArrangement(to, from->numChannels)) return false;
    (*to)->type = from->type;
    // The records run past the declared array: walk them through plain pointers.
    VstSpeakerProperties* dst = (*to)->speakers;
    VstSpeakerProperties* src = from->speakers;
    for (VstInt32 i = 0; i < from->numChannels; ++i)
        copySpeaker(dst + i, src + i);
    return true;
}
