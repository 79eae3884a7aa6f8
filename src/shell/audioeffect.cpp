#include "shell/audioeffect.h"

#include <cmath>
#include <cstring>

namespace {

AudioEffect* effectOf(AEffect* e) {
    return e ? static_cast<AudioEffect*>(e->object) : nullptr;
}

// The five entry functions behind the record. No exception may cross into the host: each entry
// catches everything and answers as if the call had done nothing.
VstIntPtr QL_VSTCALL dispatchEntry(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                   void* ptr, float opt) {
    AudioEffect* effect = effectOf(e);
    if (!effect) return 0;
    VstIntPtr result = 0;
    try {
        result = effect->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
        result = 0;
    }
    if (opcode == effClose) {
        e->object = nullptr; // a stale record must not lead anywhere
        try {
            delete effect;
        } catch (...) {
        }
        return 1;
    }
    return result;
}

void QL_VSTCALL processEntry(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (AudioEffect* effect = effectOf(e)) try {
            effect->process(inputs, outputs, sampleFrames);
        } catch (...) {
        }
}

void QL_VSTCALL processReplacingEntry(AEffect* e, float** inputs, float** outputs,
                                      VstInt32 sampleFrames) {
    if (AudioEffect* effect = effectOf(e)) try {
            effect->processReplacing(inputs, outputs, sampleFrames);
        } catch (...) {
        }
}

void QL_VSTCALL setParameterEntry(AEffect* e, VstInt32 index, float value) {
    if (AudioEffect* effect = effectOf(e)) try {
            effect->setParameter(index, value);
        } catch (...) {
        }
}

float QL_VSTCALL getParameterEntry(AEffect* e, VstInt32 index) {
    if (AudioEffect* effect = effectOf(e)) try {
            return static_cast<float>(effect->getParameter(index));
        } catch (...) {
        }
    return 0.0f;
}

} // namespace

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : numPrograms(numPrograms), numParams(numParams), audioMaster(audioMaster) {
    std::memset(&cEffect, 0, sizeof(cEffect));
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEntry;
    cEffect.process = processEntry;
    cEffect.setParameter = setParameterEntry;
    cEffect.getParameter = getParameterEntry;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = 0;
    cEffect.ioRatio = 1;
    cEffect.object = this;
    cEffect.uniqueID = fourCharCode('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingEntry;
}

AudioEffect::~AudioEffect() {
    destroyEditor();
}

void AudioEffect::setEditor(AEffEditor* newEditor) {
    editor = newEditor;
    setFlag(effFlagsHasEditor, newEditor != nullptr);
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                float opt) {
    return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    if (audioMaster) callHost(audioMasterAutomate, index, 0, nullptr, value);
}

VstInt32 AudioEffect::getMasterVersion() {
    if (!audioMaster) return 1;
    VstIntPtr version = callHost(audioMasterVersion);
    return version == 0 ? 1 : clampToInt32(version);
}

VstInt32 AudioEffect::getCurrentUniqueId() {
    return clampToInt32(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle() {
    callHost(audioMasterIdle);
}

bool AudioEffect::isInputConnected(VstInt32 input) {
    return !audioMaster || callHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(VstInt32 output) {
    return !audioMaster || callHost(audioMasterPinConnected, output, 1) == 0;
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                  float opt) {
    auto* text = static_cast<char*>(ptr);
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        // Only the upper bound is checked here; the operation refuses negatives itself.
        if (value < numPrograms) setProgram(clampToInt32(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        if (text) setProgramName(text);
        return 0;
    case effGetProgramName:
        if (text) getProgramName(text);
        return 0;
    case effGetParamLabel:
        if (text) getParameterLabel(index, text);
        return 0;
    case effGetParamDisplay:
        if (text) getParameterDisplay(index, text);
        return 0;
    case effGetParamName:
        if (text) getParameterName(index, text);
        return 0;
    case effGetVu: {
        const double vu = static_cast<double>(getVu()) * 32767.0;
        if (!(std::fabs(vu) < 2147483647.0)) return 0; // not a number, or no integer for it
        return static_cast<VstIntPtr>(std::nearbyint(vu));
    }
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(clampToInt32(value));
        return 0;
    case effMainsChanged:
        if (value != 0)
            resume();
        else
            suspend();
        return 0;
    case effEditGetRect: {
        if (!editor) return 0;
        ERect* local = ptr ? *static_cast<ERect**>(ptr) : nullptr;
        const VstIntPtr result = editor->getRect(&local);
        if (ptr) *static_cast<ERect**>(ptr) = local;
        return result;
    }
    case effEditOpen:
        return editor ? editor->open(ptr) : 0;
    case effEditClose:
        if (editor) editor->close();
        return 0;
    case effEditIdle:
        if (editor) editor->idle();
        return 0;
    case effIdentify:
        return fourCharCode('N', 'v', 'E', 'f');
    case effGetChunk:
        return ptr ? getChunk(static_cast<void**>(ptr), index != 0) : 0;
    case effSetChunk:
        return setChunk(ptr, clampToInt32(value), index != 0);
    default: // includes effEditDraw, effEditMouse, effEditKey, effEditTop, effEditSleep
        return 0;
    }
}
