#include "effect/aplugin.h"

#include "effect/editorbridge.h"
#include "effect/presets.h"
#include "shell/pluginfactory.h"
#include "valuemodel/numtext.h"

#include <cstdio>
#include <cstring>

namespace {
// Host buffers: the VST 2 convention gives program names 24 characters plus the terminator.
constexpr size_t kHostProgramNameBuffer = kVstMaxProgNameLen + 1;
// Parameter texts are short ("Gain", "%", "0.50", "undefined"); this only bounds the copy.
constexpr size_t kHostParamTextBuffer = 16;
constexpr size_t kHostNameBuffer = kVstMaxEffectNameLen;

bool validParam(VstInt32 index) {
    return index >= 0 && index < ql::kNumParams;
}
} // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return new APlugin(audioMaster);
}

APlugin::APlugin(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, ql::kNumPrograms, ql::kNumParams) {
    // Timing start values. The request asks for the tempo: some hosts fill it only on demand.
    currentSampleRate.store(getSampleRate(), std::memory_order_relaxed);
    lastTimeInfo = getTimeInfo(kVstTempoValid);
    if (lastTimeInfo) currentSampleRate.store(lastTimeInfo->sampleRate, std::memory_order_relaxed);
    currentTempo.store(140.0, std::memory_order_relaxed);
    hostTempo.store(0.0f, std::memory_order_relaxed);
    hostHasTimeInfo.store(false, std::memory_order_relaxed);

    paramNames[ql::DryLevel] = "Gain";

    // Keep the last byte: a host may fill the buffer to the brim without terminating it.
    getHostVendorString(hostVendor);
    hostVendor[sizeof hostVendor - 1] = '\0';
    getHostProductString(hostProduct);
    hostProduct[sizeof hostProduct - 1] = '\0';

    for (auto& slot : programs)
        slot = std::make_unique<APluginProgram>("Init");
    for (int i = 0; i < ql::kNumFactoryPresets; ++i)
        programs[i] = ql::makeFactoryPreset(i);

    setEditor(createEditorBridge(this));

    suspend();
    hasVu(false);
    setNumInputs(2);
    setNumOutputs(2);
    canMono(true);
    canProcessReplacing(true);
    isSynth(false);
    setUniqueID(fourCharCode('Q', 'l', 'n', 't'));

    curProgram.store(0, std::memory_order_relaxed);
    setProgram(0);
}

APlugin::~APlugin() {
    // The editor (and any open window) goes first; the programs follow with the members.
    destroyEditor();
}

APlugin::ChangeMask APlugin::takeEditorChanges() {
    ChangeMask taken{};
    for (size_t word = 0; word < taken.size(); ++word)
        taken[word] = editorChanges[word].exchange(0, std::memory_order_acquire);
    return taken;
}

void APlugin::setParameter(VstInt32 index, float value) {
    if (value > 1.0f)
        value = 1.0f;
    else if (!(value >= 0.0f)) // negative or not a number
        value = 0.0f;
    if (!validParam(index)) return;
    params[index].store(value, std::memory_order_relaxed);
    // Release: an engine that sees the new count also sees the value stored before it.
    paramChanges.fetch_add(1, std::memory_order_release);
    const VstInt32 current = curProgram.load(std::memory_order_relaxed);
    if (current >= 0 && current < ql::kNumPrograms) programs[current]->setValue(index, value);
    // Release: the editor that takes the bit reads this value or a later one.
    editorChanges[size_t(index) / 64].fetch_or(std::uint64_t(1) << (index % 64),
                                               std::memory_order_release);
}

float APlugin::getParameter(VstInt32 index) {
    return validParam(index) ? params[index].load(std::memory_order_relaxed) : 0.0f;
}

void APlugin::getParameterName(VstInt32 index, char* text) {
    const char* name =
        validParam(index) ? (paramNames[index] ? paramNames[index] : "") : "undefined";
    ql::copyText(text, kHostParamTextBuffer, name);
}

void APlugin::getParameterLabel(VstInt32 index, char* label) {
    ql::copyText(label, kHostParamTextBuffer, "%");
}

void APlugin::getParameterDisplay(VstInt32 index, char* text) {
    if (!validParam(index)) {
        ql::copyText(text, kHostParamTextBuffer, "undefined");
        return;
    }
    ql::formatFixed(text, kHostParamTextBuffer, params[index].load(std::memory_order_relaxed), 2);
}

void APlugin::setProgram(VstInt32 program) {
    if (program < 0 || program >= ql::kNumPrograms) return;
    curProgram.store(program, std::memory_order_relaxed);
    const APluginProgram& source = *programs[program];
    for (int i = 0; i < ql::kNumParams; ++i)
        setParameter(i, source.getValue(i));
}

void APlugin::setProgramName(char* name) {
    const VstInt32 current = curProgram.load(std::memory_order_relaxed);
    if (current < 0 || current >= ql::kNumPrograms) return;
    programs[current]->setName(name);
}

void APlugin::getProgramName(char* name) {
    const VstInt32 current = curProgram.load(std::memory_order_relaxed);
    if (current < 0 || current >= ql::kNumPrograms) return;
    ql::copyText(name, kHostProgramNameBuffer, programs[current]->getName());
}

bool APlugin::getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) {
    if (index < 0 || index >= ql::kNumPrograms) return false;
    ql::copyText(text, kHostProgramNameBuffer, programs[index]->getName());
    return true;
}

ql::EffectState APlugin::captureState() const {
    ql::EffectState state;
    state.currentProgram = curProgram.load(std::memory_order_relaxed);
    for (int i = 0; i < ql::kNumParams; ++i)
        state.values[i] = param(i);
    for (int slot = 0; slot < ql::kNumPrograms; ++slot) {
        ql::copyText(state.programs[slot].name, sizeof state.programs[slot].name,
                     programs[slot]->getName());
        for (int i = 0; i < ql::kNumParams; ++i)
            state.programs[slot].values[i] = programs[slot]->getValue(i);
    }
    return state;
}

void APlugin::restoreState(const ql::EffectState& state) {
    if (state.currentProgram < 0 || state.currentProgram >= ql::kNumPrograms) return;
    for (int slot = 0; slot < ql::kNumPrograms; ++slot) {
        programs[slot]->setName(state.programs[slot].name);
        for (int i = 0; i < ql::kNumParams; ++i)
            programs[slot]->setValue(i, state.programs[slot].values[i]);
    }
    curProgram.store(state.currentProgram, std::memory_order_relaxed);
    for (int i = 0; i < ql::kNumParams; ++i)
        setParameter(i, state.values[i]);
}

bool APlugin::getEffectName(char* name) {
    ql::copyText(name, kHostNameBuffer, kEffectName);
    return true;
}

bool APlugin::getVendorString(char* text) {
    ql::copyText(text, kHostNameBuffer, kVendor);
    return true;
}

bool APlugin::getProductString(char* text) {
    ql::copyText(text, kHostNameBuffer, kEffectName);
    return true;
}

VstInt32 APlugin::canDo(char* text) {
    return (text && std::strcmp(text, "receiveVstTimeInfo") == 0) ? 1 : -1;
}

namespace {
bool pinProperties(const char* prefix, VstInt32 index, VstPinProperties* properties) {
    if (!properties || index < 0 || index > 1) return false;
    std::snprintf(properties->label, sizeof properties->label, "%s%d", prefix, index + 1);
    properties->flags = kVstPinIsActive | kVstPinIsStereo;
    return true;
}
} // namespace

bool APlugin::getInputProperties(VstInt32 index, VstPinProperties* properties) {
    return pinProperties("Input #", index, properties);
}

bool APlugin::getOutputProperties(VstInt32 index, VstPinProperties* properties) {
    return pinProperties("Output #", index, properties);
}

namespace {
// A host may hand over null channel pointers: such a block processes nothing.
bool validChannels(float** inputs, float** outputs) {
    return inputs && outputs && inputs[0] && inputs[1] && outputs[0] && outputs[1];
}
} // namespace

void APlugin::process(float** inputs, float** outputs, VstInt32 sampleFrames) {
    // The accumulating entry (old hosts): the same engine, its result added to the outputs.
    const double wholeNote = runTimingStep();
    if (sampleFrames <= 0 || !validChannels(inputs, outputs)) return;
    engine.run<true>(params, wholeNote, inputs[0], inputs[1], outputs[0], outputs[1], sampleFrames,
                     &paramChanges);
}

void APlugin::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    const double wholeNote = runTimingStep();
    if (sampleFrames <= 0 || !validChannels(inputs, outputs)) return;
    engine.run<false>(params, wholeNote, inputs[0], inputs[1], outputs[0], outputs[1], sampleFrames,
                      &paramChanges);
}
