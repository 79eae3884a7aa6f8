// The VST 2 binary interface as this plug-in speaks it: our own definitions of the record, the
// opcodes, the flags and the small structures that cross the boundary. Layouts are checked below
// for both the 32-bit and the 64-bit platform; pointer-sized fields follow natural alignment.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64) && (defined(__GNUC__) || defined(_MSC_VER))
#define QL_VSTCALL __cdecl
#else
#define QL_VSTCALL
#endif

extern "C" {

using VstInt16 = int16_t;
using VstInt32 = int32_t;
// The dispatcher's and the host callback's `value` argument and result: pointer-sized and signed,
// so 64-bit hosts can pass addresses through them.
using VstIntPtr = intptr_t;

struct AEffect;

using audioMasterCallback = VstIntPtr(QL_VSTCALL*)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                   VstIntPtr value, void* ptr, float opt);
using AEffectDispatcherProc = VstIntPtr(QL_VSTCALL*)(AEffect* effect, VstInt32 opcode,
                                                     VstInt32 index, VstIntPtr value, void* ptr,
                                                     float opt);
using AEffectProcessProc = void(QL_VSTCALL*)(AEffect* effect, float** inputs, float** outputs,
                                             VstInt32 sampleFrames);
using AEffectProcessDoubleProc = void(QL_VSTCALL*)(AEffect* effect, double** inputs,
                                                   double** outputs, VstInt32 sampleFrames);
using AEffectSetParameterProc = void(QL_VSTCALL*)(AEffect* effect, VstInt32 index, float value);
using AEffectGetParameterProc = float(QL_VSTCALL*)(AEffect* effect, VstInt32 index);

// Four characters packed with the first one in the top byte.
constexpr VstInt32 fourCharCode(char c1, char c2, char c3, char c4) {
    return static_cast<VstInt32>((static_cast<uint32_t>(static_cast<uint8_t>(c1)) << 24) |
                                 (static_cast<uint32_t>(static_cast<uint8_t>(c2)) << 16) |
                                 (static_cast<uint32_t>(static_cast<uint8_t>(c3)) << 8) |
                                 static_cast<uint32_t>(static_cast<uint8_t>(c4)));
}

constexpr VstInt32 kEffectMagic = fourCharCode('V', 's', 't', 'P');

struct AEffect {
    VstInt32 magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process;
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;
    VstIntPtr resvd1;
    VstIntPtr resvd2;
    VstInt32 initialDelay;
    VstInt32 realQualities;
    VstInt32 offQualities;
    VstInt32 ioRatio; // an integer bit pattern in this system, not a float
    void* object;
    void* user;
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing; // always null here
    char future[56];
};

enum VstAEffectFlags : VstInt32 {
    effFlagsHasEditor = 1 << 0,
    effFlagsHasClip = 1 << 1,
    effFlagsHasVu = 1 << 2,
    effFlagsCanMono = 1 << 3,
    effFlagsCanReplacing = 1 << 4,
    effFlagsProgramChunks = 1 << 5,
    effFlagsIsSynth = 1 << 8,
    effFlagsNoSoundInStop = 1 << 9,
    effFlagsExtIsAsync = 1 << 10,
    effFlagsExtHasBuffer = 1 << 11,
};

// Opcodes the host sends to the effect.
enum AEffectOpcodes : VstInt32 {
    effOpen = 0,
    effClose,
    effSetProgram,
    effGetProgram,
    effSetProgramName,
    effGetProgramName,
    effGetParamLabel,
    effGetParamDisplay,
    effGetParamName,
    effGetVu,
    effSetSampleRate,
    effSetBlockSize,
    effMainsChanged,
    effEditGetRect,
    effEditOpen,
    effEditClose,
    effEditDraw,
    effEditMouse,
    effEditKey,
    effEditIdle,
    effEditTop,
    effEditSleep,
    effIdentify,
    effGetChunk,
    effSetChunk,
    effProcessEvents, // 25
    effCanBeAutomated,
    effString2Parameter,
    effGetNumProgramCategories,
    effGetProgramNameIndexed,
    effCopyProgram,
    effConnectInput,
    effConnectOutput,
    effGetInputProperties,
    effGetOutputProperties,
    effGetPlugCategory,
    effGetCurrentPosition,
    effGetDestinationBuffer,
    effOfflineNotify,
    effOfflinePrepare,
    effOfflineRun,
    effProcessVarIo,
    effSetSpeakerArrangement,
    effSetBlockSizeAndSampleRate,
    effSetBypass,
    effGetEffectName,
    effGetErrorText,
    effGetVendorString,
    effGetProductString,
    effGetVendorVersion,
    effVendorSpecific,
    effCanDo,
    effGetTailSize,
    effIdle,
    effGetIcon,
    effSetViewPosition,
    effGetParameterProperties,
    effKeysRequired,
    effGetVstVersion,
    effEditKeyDown,
    effEditKeyUp,
    effSetEditKnobMode,
    effGetMidiProgramName,
    effGetCurrentMidiProgram,
    effGetMidiProgramCategory,
    effHasMidiProgramsChanged,
    effGetMidiKeyName,
    effBeginSetProgram,
    effEndSetProgram,
    effGetSpeakerArrangement,
    effShellGetNextPlugin,
    effStartProcess,
    effStopProcess,
    effSetTotalSampleToProcess,
    effSetPanLaw,
    effBeginLoadBank,
    effBeginLoadProgram, // 76
};

// Opcodes the effect sends to the host.
enum AudioMasterOpcodes : VstInt32 {
    audioMasterAutomate = 0,
    audioMasterVersion,
    audioMasterCurrentId,
    audioMasterIdle,
    audioMasterPinConnected,
    audioMasterWantMidi = 6,
    audioMasterGetTime,
    audioMasterProcessEvents,
    audioMasterSetTime,
    audioMasterTempoAt,
    audioMasterGetNumAutomatableParameters,
    audioMasterGetParameterQuantization,
    audioMasterIOChanged,
    audioMasterNeedIdle,
    audioMasterSizeWindow,
    audioMasterGetSampleRate,
    audioMasterGetBlockSize,
    audioMasterGetInputLatency,
    audioMasterGetOutputLatency,
    audioMasterGetPreviousPlug,
    audioMasterGetNextPlug,
    audioMasterWillReplaceOrAccumulate,
    audioMasterGetCurrentProcessLevel,
    audioMasterGetAutomationState,
    audioMasterOfflineStart,
    audioMasterOfflineRead,
    audioMasterOfflineWrite,
    audioMasterOfflineGetCurrentPass,
    audioMasterOfflineGetCurrentMetaPass,
    audioMasterSetOutputSampleRate,
    audioMasterGetOutputSpeakerArrangement,
    audioMasterGetVendorString,
    audioMasterGetProductString,
    audioMasterGetVendorVersion,
    audioMasterVendorSpecific,
    audioMasterSetIcon,
    audioMasterCanDo,
    audioMasterGetLanguage,
    audioMasterOpenWindow,
    audioMasterCloseWindow,
    audioMasterGetDirectory,
    audioMasterUpdateDisplay,
    audioMasterBeginEdit,
    audioMasterEndEdit,
    audioMasterOpenFileSelector,
    audioMasterCloseFileSelector,
    audioMasterEditFile,
    audioMasterGetChunkFile,
    audioMasterGetInputSpeakerArrangement, // 49
};

struct VstTimeInfo {
    double samplePos;
    double sampleRate;
    double nanoSeconds;
    double ppqPos;
    double tempo;
    double barStartPos;
    double cycleStartPos;
    double cycleEndPos;
    VstInt32 timeSigNumerator;
    VstInt32 timeSigDenominator;
    VstInt32 smpteOffset;
    VstInt32 smpteFrameRate;
    VstInt32 samplesToNextClock;
    VstInt32 flags;
};

enum VstTimeInfoFlags : VstInt32 {
    kVstTransportChanged = 1,
    kVstTransportPlaying = 1 << 1,
    kVstTransportCycleActive = 1 << 2,
    kVstTransportRecording = 1 << 3,
    kVstAutomationWriting = 1 << 6,
    kVstAutomationReading = 1 << 7,
    kVstNanosValid = 1 << 8,
    kVstPpqPosValid = 1 << 9,
    kVstTempoValid = 1 << 10,
    kVstBarsValid = 1 << 11,
    kVstCyclePosValid = 1 << 12,
    kVstTimeSigValid = 1 << 13,
    kVstSmpteValid = 1 << 14,
    kVstClockValid = 1 << 15,
};

struct VstPinProperties {
    char label[64];
    VstInt32 flags;
    VstInt32 arrangementType;
    char shortLabel[8];
    char future[48];
};

enum VstPinPropertiesFlags : VstInt32 {
    kVstPinIsActive = 1 << 0,
    kVstPinIsStereo = 1 << 1,
    kVstPinUseSpeaker = 1 << 2,
};

struct ERect {
    VstInt16 top;
    VstInt16 left;
    VstInt16 bottom;
    VstInt16 right;
};

// The key record handed to the editor for effEditKeyDown and effEditKeyUp.
struct VstKeyCode {
    VstInt32 character;
    unsigned char virt;
    unsigned char modifier;
};

struct VstSpeakerProperties {
    float azimuth;
    float elevation;
    float radius;
    float reserved;
    char name[64];
    VstInt32 type;
    char future[28];
};

struct VstSpeakerArrangement {
    VstInt32 type;
    VstInt32 numChannels;
    VstSpeakerProperties speakers[8]; // really numChannels records; allocated to fit
};

// Limits of the host's text buffers under the VST 2 convention.
enum : int {
    kVstMaxProgNameLen = 24,
    kVstMaxParamStrLen = 8,
    kVstMaxVendorStrLen = 64,
    kVstMaxProductStrLen = 64,
    kVstMaxEffectNameLen = 32,
};

} // extern "C"

// Layout checks: the 32-bit layout is the one hosts of the original platform expect; on 8-byte
// pointers the same order holds with natural alignment.
#define QL_CHECK_OFFSET(type, field, off32, off64)                                                 \
    static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)),               \
                  #type "::" #field " is not where hosts expect it")

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "only 32-bit and 64-bit platforms");
QL_CHECK_OFFSET(AEffect, magic, 0, 0);
QL_CHECK_OFFSET(AEffect, dispatcher, 4, 8);
QL_CHECK_OFFSET(AEffect, process, 8, 16);
QL_CHECK_OFFSET(AEffect, setParameter, 12, 24);
QL_CHECK_OFFSET(AEffect, getParameter, 16, 32);
QL_CHECK_OFFSET(AEffect, numPrograms, 20, 40);
QL_CHECK_OFFSET(AEffect, numParams, 24, 44);
QL_CHECK_OFFSET(AEffect, numInputs, 28, 48);
QL_CHECK_OFFSET(AEffect, numOutputs, 32, 52);
QL_CHECK_OFFSET(AEffect, flags, 36, 56);
QL_CHECK_OFFSET(AEffect, resvd1, 40, 64);
QL_CHECK_OFFSET(AEffect, resvd2, 44, 72);
QL_CHECK_OFFSET(AEffect, initialDelay, 48, 80);
QL_CHECK_OFFSET(AEffect, realQualities, 52, 84);
QL_CHECK_OFFSET(AEffect, offQualities, 56, 88);
QL_CHECK_OFFSET(AEffect, ioRatio, 60, 92);
QL_CHECK_OFFSET(AEffect, object, 64, 96);
QL_CHECK_OFFSET(AEffect, user, 68, 104);
QL_CHECK_OFFSET(AEffect, uniqueID, 72, 112);
QL_CHECK_OFFSET(AEffect, version, 76, 116);
QL_CHECK_OFFSET(AEffect, processReplacing, 80, 120);
QL_CHECK_OFFSET(AEffect, processDoubleReplacing, 84, 128);
QL_CHECK_OFFSET(AEffect, future, 88, 136);
static_assert(sizeof(AEffect) == (sizeof(void*) == 4 ? 144 : 192), "AEffect size");

QL_CHECK_OFFSET(VstTimeInfo, samplePos, 0, 0);
QL_CHECK_OFFSET(VstTimeInfo, sampleRate, 8, 8);
QL_CHECK_OFFSET(VstTimeInfo, nanoSeconds, 16, 16);
QL_CHECK_OFFSET(VstTimeInfo, ppqPos, 24, 24);
QL_CHECK_OFFSET(VstTimeInfo, tempo, 32, 32);
QL_CHECK_OFFSET(VstTimeInfo, barStartPos, 40, 40);
QL_CHECK_OFFSET(VstTimeInfo, cycleStartPos, 48, 48);
QL_CHECK_OFFSET(VstTimeInfo, cycleEndPos, 56, 56);
QL_CHECK_OFFSET(VstTimeInfo, timeSigNumerator, 64, 64);
QL_CHECK_OFFSET(VstTimeInfo, timeSigDenominator, 68, 68);
QL_CHECK_OFFSET(VstTimeInfo, smpteOffset, 72, 72);
QL_CHECK_OFFSET(VstTimeInfo, smpteFrameRate, 76, 76);
QL_CHECK_OFFSET(VstTimeInfo, samplesToNextClock, 80, 80);
QL_CHECK_OFFSET(VstTimeInfo, flags, 84, 84);
static_assert(sizeof(VstTimeInfo) == 88, "VstTimeInfo size");

QL_CHECK_OFFSET(VstPinProperties, label, 0, 0);
QL_CHECK_OFFSET(VstPinProperties, flags, 64, 64);
QL_CHECK_OFFSET(VstPinProperties, arrangementType, 68, 68);
QL_CHECK_OFFSET(VstPinProperties, shortLabel, 72, 72);
QL_CHECK_OFFSET(VstPinProperties, future, 80, 80);
static_assert(sizeof(VstPinProperties) == 128, "VstPinProperties size");

QL_CHECK_OFFSET(ERect, top, 0, 0);
QL_CHECK_OFFSET(ERect, left, 2, 2);
QL_CHECK_OFFSET(ERect, bottom, 4, 4);
QL_CHECK_OFFSET(ERect, right, 6, 6);
static_assert(sizeof(ERect) == 8, "ERect size");

QL_CHECK_OFFSET(VstKeyCode, character, 0, 0);
QL_CHECK_OFFSET(VstKeyCode, virt, 4, 4);
QL_CHECK_OFFSET(VstKeyCode, modifier, 5, 5);

QL_CHECK_OFFSET(VstSpeakerProperties, name, 16, 16);
QL_CHECK_OFFSET(VstSpeakerProperties, type, 80, 80);
QL_CHECK_OFFSET(VstSpeakerProperties, future, 84, 84);
static_assert(sizeof(VstSpeakerProperties) == 112, "VstSpeakerProperties size");
QL_CHECK_OFFSET(VstSpeakerArrangement, speakers, 8, 8);

#undef QL_CHECK_OFFSET
