// The plug-in as a host sees it: loaded from the built library, driven only through the record.
#include "pluginhost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <string>

using namespace qltest;

namespace {

constexpr VstInt32 kQlnt = ('Q' << 24) | ('l' << 16) | ('n' << 8) | 't';

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(PluginLibrary::get().main) << PluginLibrary::get().error;
        effect = PluginLibrary::get().main(ScriptedHost::callback);
        ASSERT_NE(effect, nullptr);
    }
    void TearDown() override {
        if (effect) {
            EXPECT_EQ(dispatch(effect, effClose), 1);
        }
    }
    std::string text(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0) {
        char buffer[256];
        std::memset(buffer, 0, sizeof buffer);
        dispatch(effect, opcode, index, value, buffer);
        return buffer;
    }
    ScriptedHost host;
    AEffect* effect = nullptr;
};

} // namespace

TEST(HostEntry, BothEntryNamesAreExportedAndMakeIndependentEffects) {
    PluginLibrary& lib = PluginLibrary::get();
    ASSERT_TRUE(lib.main) << lib.error;
    ASSERT_TRUE(lib.vstPluginMain) << lib.error;
    ScriptedHost host;
    AEffect* a = lib.main(ScriptedHost::callback);
    AEffect* b = lib.vstPluginMain(ScriptedHost::callback);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    a->setParameter(a, 7, 0.25f);
    EXPECT_EQ(b->getParameter(b, 7), 0.375f) << "effects must not share parameters";
    EXPECT_EQ(dispatch(a, effClose), 1);
    EXPECT_EQ(dispatch(b, effClose), 1);
}

TEST(HostEntry, HostAnsweringVersionZeroGetsNothingAndIsAskedNothingElse) {
    ScriptedHost host;
    host.versionAnswer = 0;
    EXPECT_EQ(PluginLibrary::get().main(ScriptedHost::callback), nullptr);
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.requests[0].opcode, audioMasterVersion);
    EXPECT_EQ(host.requests[0].effect, nullptr);
}

TEST(HostEntry, NullHostCallbackGetsNothing) {
    EXPECT_EQ(PluginLibrary::get().main(nullptr), nullptr);
}

TEST_F(HostTest, ConstructionAsksTheHostInOrder) {
    const std::vector<VstInt32> expected = {audioMasterVersion, audioMasterGetTime,
                                            audioMasterGetVendorString,
                                            audioMasterGetProductString};
    EXPECT_EQ(host.opcodes(), expected);
    EXPECT_EQ(host.requests[0].effect, nullptr);
    for (size_t i = 1; i < host.requests.size(); ++i)
        EXPECT_EQ(host.requests[i].effect, effect);
    // the time request names the tempo, which some hosts fill only on demand
    EXPECT_EQ(host.requests[1].value, kVstTempoValid);
}

TEST_F(HostTest, RecordFields) {
    EXPECT_EQ(effect->magic, 0x56737450);
    EXPECT_EQ(effect->numPrograms, 40);
    EXPECT_EQ(effect->numParams, 80);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags, 25);
    EXPECT_EQ(effect->resvd1, 0);
    EXPECT_EQ(effect->resvd2, 0);
    EXPECT_EQ(effect->initialDelay, 0);
    EXPECT_EQ(effect->realQualities, 0);
    EXPECT_EQ(effect->offQualities, 0);
    EXPECT_EQ(effect->ioRatio, 1) << "an integer bit pattern, not the float 1.0";
    EXPECT_NE(effect->object, nullptr);
    EXPECT_EQ(effect->user, nullptr);
    EXPECT_EQ(effect->uniqueID, kQlnt);
    EXPECT_EQ(effect->version, 1);
    EXPECT_NE(effect->dispatcher, nullptr);
    EXPECT_NE(effect->process, nullptr);
    EXPECT_NE(effect->processReplacing, nullptr);
    EXPECT_NE(effect->setParameter, nullptr);
    EXPECT_NE(effect->getParameter, nullptr);
    EXPECT_EQ(effect->processDoubleReplacing, nullptr);
    for (char c : effect->future)
        EXPECT_EQ(c, 0);
}

TEST_F(HostTest, NonZeroAnswersAndZeroForEverythingElse) {
    const VstIntPtr identify = 0x4E764566;
    EXPECT_EQ(dispatch(effect, effIdentify), identify);
    EXPECT_EQ(dispatch(effect, effIdentify, 7, -3, &host, 2.5f), identify);
    EXPECT_EQ(dispatch(effect, effGetNumProgramCategories), 1);
    EXPECT_EQ(dispatch(effect, effConnectInput, 0, 1), 1);
    EXPECT_EQ(dispatch(effect, effConnectOutput, 1, 0), 1);
    EXPECT_EQ(dispatch(effect, effSetBlockSizeAndSampleRate, 0, 256, nullptr, 48000.0f), 1);
    EXPECT_EQ(dispatch(effect, effGetVendorVersion), 1);
    EXPECT_EQ(dispatch(effect, effKeysRequired), 1);
    EXPECT_EQ(dispatch(effect, effGetVstVersion), 2300);
    EXPECT_EQ(dispatch(effect, effGetCurrentMidiProgram), -1);
    EXPECT_EQ(dispatch(effect, effSetTotalSampleToProcess, 0, 12345), 12345);
    for (VstInt32 index : {-1, 0, 79, 80, 100000}) {
        EXPECT_EQ(dispatch(effect, effCanBeAutomated, index), 1);
    }
    // The editor takes no keys.
    EXPECT_EQ(dispatch(effect, effEditKeyDown, 'a', 0), -1);
    EXPECT_EQ(dispatch(effect, effEditKeyUp, 'a', 0), -1);

    // Every opcode not listed above, and every opcode outside 0..76, answers 0.
    const std::set<VstInt32> nonZero = {effGetProgram,
                                        effEditGetRect,
                                        effIdentify,
                                        effCanBeAutomated,
                                        effGetNumProgramCategories,
                                        effGetProgramNameIndexed,
                                        effConnectInput,
                                        effConnectOutput,
                                        effSetBlockSizeAndSampleRate,
                                        effGetInputProperties,
                                        effGetOutputProperties,
                                        effGetEffectName,
                                        effGetVendorString,
                                        effGetProductString,
                                        effGetVendorVersion,
                                        effCanDo,
                                        effKeysRequired,
                                        effGetVstVersion,
                                        effEditKeyDown,
                                        effEditKeyUp,
                                        effGetCurrentMidiProgram,
                                        effSetTotalSampleToProcess};
    alignas(16) char scratch[512];
    for (VstInt32 opcode = 0; opcode <= 80; ++opcode) {
        if (opcode == effClose || nonZero.count(opcode)) continue;
        std::memset(scratch, 0, sizeof scratch);
        EXPECT_EQ(dispatch(effect, opcode, 0, 0, scratch, 0.0f), 0) << "opcode " << opcode;
    }
    for (VstInt32 opcode : {-1, 77, 1000, std::numeric_limits<VstInt32>::max()})
        EXPECT_EQ(dispatch(effect, opcode, 1, 1, scratch, 1.0f), 0) << "opcode " << opcode;
}

TEST_F(HostTest, EditorOpcodesBeforeAnyWindow) {
    ERect* rect = reinterpret_cast<ERect*>(&host); // junk the host left there
    ASSERT_EQ(dispatch(effect, effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->bottom, 0);
    EXPECT_EQ(rect->right, 0);
    EXPECT_EQ(dispatch(effect, effEditGetRect, 0, 0, nullptr), 1);
    int window = 0; // no window of any window system
    EXPECT_EQ(dispatch(effect, effEditOpen, 0, 0, &window), 0);
    EXPECT_EQ(dispatch(effect, effEditIdle), 0);
    EXPECT_EQ(dispatch(effect, effEditClose), 0);
    EXPECT_EQ(dispatch(effect, effSetEditKnobMode, 0, 2), 0);
}

TEST_F(HostTest, ProgramSelectionChecksOnlyTheUpperBound) {
    EXPECT_EQ(dispatch(effect, effGetProgram), 0);
    dispatch(effect, effSetProgram, 0, 39);
    EXPECT_EQ(dispatch(effect, effGetProgram), 39);
    dispatch(effect, effSetProgram, 0, 40);
    dispatch(effect, effSetProgram, 0, -1);
    dispatch(effect, effSetProgram, 0, std::numeric_limits<VstInt32>::min());
    if (sizeof(VstIntPtr) == 8) {
        // a 64-bit value whose low half is a valid index must not select it
        dispatch(effect, effSetProgram, 0, static_cast<VstIntPtr>(-4294967295LL));
        dispatch(effect, effSetProgram, 0, static_cast<VstIntPtr>(4294967297LL));
    }
    EXPECT_EQ(dispatch(effect, effGetProgram), 39);
}

TEST_F(HostTest, ParametersClampAndRoundTripExactly) {
    struct Case {
        float in, stored;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const Case& c :
         {Case{0.14f, 0.14f}, Case{1.5f, 1.0f}, Case{-0.2f, 0.0f}, Case{nan, 0.0f}, Case{inf, 1.0f},
          Case{-inf, 0.0f}, Case{1e-30f, 1e-30f}, Case{0.999f, 0.999f}}) {
        effect->setParameter(effect, 5, c.in);
        EXPECT_EQ(effect->getParameter(effect, 5), c.stored) << "set " << c.in;
    }
    const float before = effect->getParameter(effect, 79);
    effect->setParameter(effect, 80, 0.5f);
    effect->setParameter(effect, -1, 0.5f);
    effect->setParameter(effect, std::numeric_limits<VstInt32>::min(), 0.5f);
    EXPECT_EQ(effect->getParameter(effect, 79), before);
    EXPECT_EQ(effect->getParameter(effect, 80), 0.0f);
    EXPECT_EQ(effect->getParameter(effect, -1), 0.0f);
    EXPECT_EQ(effect->getParameter(effect, 1 << 30), 0.0f);
}

TEST_F(HostTest, ParameterTexts) {
    EXPECT_EQ(text(effGetParamName, 0), "Gain");
    EXPECT_EQ(text(effGetParamName, 1), "");
    EXPECT_EQ(text(effGetParamName, 79), "");
    EXPECT_EQ(text(effGetParamName, 80), "undefined");
    EXPECT_EQ(text(effGetParamName, -1), "undefined");
    for (VstInt32 i : {0, 42, 79, 80, -5})
        EXPECT_EQ(text(effGetParamLabel, i), "%");
    EXPECT_EQ(text(effGetParamDisplay, 80), "undefined");
    EXPECT_EQ(text(effGetParamDisplay, -1), "undefined");

    struct Case {
        float value;
        const char* shown;
    };
    // two decimals, halves away from zero on the exact value
    for (const Case& c :
         {Case{0.14f, "0.14"}, Case{0.5f, "0.50"}, Case{1.0f, "1.00"}, Case{0.0f, "0.00"},
          Case{0.125f, "0.13"}, Case{0.375f, "0.38"}, Case{0.3125f, "0.31"},
          // the floats nearest these decimals lie just below and above the tie
          Case{0.005f, "0.00"}, Case{0.995f, "1.00"}}) {
        effect->setParameter(effect, 20, c.value);
        EXPECT_EQ(text(effGetParamDisplay, 20), c.shown) << c.value;
    }
}

TEST_F(HostTest, IdentityAndCapabilities) {
    EXPECT_EQ(dispatch(effect, effGetEffectName, 0, 0, nullptr), 0);
    EXPECT_EQ(text(effGetEffectName), "Quillantrope");
    EXPECT_EQ(text(effGetProductString), "Quillantrope");
    const std::string vendor = text(effGetVendorString);
    EXPECT_FALSE(vendor.empty());
    EXPECT_LT(vendor.size(), 32u);
    EXPECT_EQ(dispatch(effect, effGetVendorString, 0, 0, nullptr), 0);

    char cap[] = "receiveVstTimeInfo";
    EXPECT_EQ(dispatch(effect, effCanDo, 0, 0, cap), 1);
    for (const char* other : {"ReceiveVstTimeInfo", "receiveVstTimeInfo ", "sendVstEvents", ""}) {
        std::string copy = other;
        EXPECT_EQ(dispatch(effect, effCanDo, 0, 0, copy.data()), -1) << other;
    }
    EXPECT_EQ(dispatch(effect, effCanDo, 0, 0, nullptr), 0);
}

TEST_F(HostTest, PinProperties) {
    for (VstInt32 opcode : {effGetInputProperties, effGetOutputProperties}) {
        const std::string prefix = opcode == effGetInputProperties ? "Input #" : "Output #";
        for (VstInt32 pin : {0, 1}) {
            VstPinProperties props;
            std::memset(&props, 0x5A, sizeof props);
            EXPECT_EQ(dispatch(effect, opcode, pin, 0, &props), 1);
            EXPECT_EQ(std::string(props.label), prefix + std::to_string(pin + 1));
            EXPECT_EQ(props.flags, 3);
            EXPECT_EQ(props.arrangementType, 0x5A5A5A5A) << "left as the host passed it";
            EXPECT_EQ(static_cast<unsigned char>(props.shortLabel[0]), 0x5A);
        }
        VstPinProperties props{};
        EXPECT_EQ(dispatch(effect, opcode, 2, 0, &props), 0);
        EXPECT_EQ(dispatch(effect, opcode, -1, 0, &props), 0);
        EXPECT_EQ(props.label[0], 0);
        EXPECT_EQ(dispatch(effect, opcode, 0, 0, nullptr), 0);
    }
}

namespace {

// The factory table, row by row: delay times, initial offset, dry, levels, ducker.
struct PresetRow {
    const char* name;
    float leftTime, rightTime, initialOn, leftInitial, dryOn, leftLevel, rightLevel, duckerOn;
};

const PresetRow kPresets[40] = {
    {"SEND PingPong 6/16", 0.375f, 0.375f, 1, 0.3125f, 0, 1, 1, 0},
    {"SEND PingPong 8/16", 0.5f, 0.5f, 1, 0.25f, 0, 1, 1, 0},
    {"SEND PingPong 4/16", 0.25f, 0.25f, 1, 0.375f, 0, 1, 1, 0},
    {"SEND Stereo 3/5/16", 0.1875f, 0.3125f, 0, 0.5f, 0, 1, 1, 0},
    {"SEND Stereo 5/3/16", 0.3125f, 0.1875f, 0, 0.5f, 0, 1, 1, 0},
    {"SEND Mono 2/16", 0.125f, 0.125f, 0, 0.5f, 0, 1, 1, 0},
    {"SEND Mono 3/16", 0.1875f, 0.1875f, 0, 0.5f, 0, 1, 1, 0},
    {"SEND Mono 4/16", 0.25f, 0.25f, 0, 0.5f, 0, 1, 1, 0},
    {"SEND Mono 5/16", 0.3125f, 0.3125f, 0, 0.5f, 0, 1, 1, 0},
    {"SEND Mono 6/16", 0.375f, 0.375f, 0, 0.5f, 0, 1, 1, 0},
    {"SEND Mono 7/16", 0.4375f, 0.4375f, 0, 0.5f, 0, 1, 1, 0},
    {"SEND Mono 8/16", 0.5f, 0.5f, 0, 0.5f, 0, 1, 1, 0},
    {"INSERT PingPong 6/16", 0.375f, 0.375f, 1, 0.3125f, 1, 0.4f, 0.4f, 0},
    {"INSERT PingPong 8/16", 0.5f, 0.5f, 1, 0.25f, 1, 0.4f, 0.4f, 0},
    {"INSERT PingPong 4/16", 0.25f, 0.25f, 1, 0.375f, 1, 0.4f, 0.4f, 0},
    {"INSERT Stereo 3/5/16", 0.1875f, 0.3125f, 0, 0.5f, 1, 0.4f, 0.4f, 0},
    {"INSERT Stereo 5/3/16", 0.3125f, 0.1875f, 0, 0.5f, 1, 0.4f, 0.4f, 0},
    {"INSERT Mono 2/16", 0.125f, 0.125f, 0, 0.5f, 1, 0.4f, 0.4f, 0},
    {"INSERT Mono 3/16", 0.1875f, 0.1875f, 0, 0.5f, 1, 0.4f, 0.4f, 0},
    {"INSERT Mono 4/16", 0.25f, 0.25f, 0, 0.5f, 1, 0.4f, 0.4f, 0},
    {"INSERT Mono 5/16", 0.3125f, 0.3125f, 0, 0.5f, 1, 0.4f, 0.4f, 0},
    {"INSERT Mono 6/16", 0.375f, 0.375f, 0, 0.5f, 1, 0.4f, 0.4f, 0},
    {"INSERT Mono 7/16", 0.4375f, 0.4375f, 0, 0.5f, 1, 0.4f, 0.4f, 0},
    {"INSERT Mono 8/16", 0.5f, 0.5f, 0, 0.5f, 1, 0.4f, 0.4f, 0},
    {"INSERT PingPong 6/16 DUCKER", 0.375f, 0.375f, 1, 0.3125f, 1, 0.4f, 0.4f, 1},
    {"INSERT PingPong 8/16 DUCKER", 0.5f, 0.5f, 1, 0.25f, 1, 0.4f, 0.4f, 1},
    {"INSERT PingPong 4/16 DUCKER", 0.25f, 0.25f, 1, 0.375f, 1, 0.4f, 0.4f, 1},
    {"INSERT Stereo 3/5/16 DUCKER", 0.1875f, 0.3125f, 0, 0.5f, 1, 0.4f, 0.4f, 1},
    {"INSERT Stereo 5/3/16 DUCKER", 0.3125f, 0.1875f, 0, 0.5f, 1, 0.4f, 0.4f, 1},
    {"INSERT Mono 2/16 DUCKER", 0.125f, 0.125f, 0, 0.5f, 1, 0.4f, 0.4f, 1},
    {"INSERT Mono 3/16 DUCKER", 0.1875f, 0.1875f, 0, 0.5f, 1, 0.4f, 0.4f, 1},
    {"INSERT Mono 4/16 DUCKER", 0.25f, 0.25f, 0, 0.5f, 1, 0.4f, 0.4f, 1},
    {"INSERT Mono 5/16 DUCKER", 0.3125f, 0.3125f, 0, 0.5f, 1, 0.4f, 0.4f, 1},
    {"INSERT Mono 6/16 DUCKER", 0.375f, 0.375f, 0, 0.5f, 1, 0.4f, 0.4f, 1},
    {"INSERT Mono 7/16 DUCKER", 0.4375f, 0.4375f, 0, 0.5f, 1, 0.4f, 0.4f, 1},
    {"INSERT Mono 8/16 DUCKER", 0.5f, 0.5f, 0, 0.5f, 1, 0.4f, 0.4f, 1},
    {"Init", 0.5f, 0.5f, 0, 0.5f, 0, 1, 1, 0},
    {"Init", 0.5f, 0.5f, 0, 0.5f, 0, 1, 1, 0},
    {"Init", 0.5f, 0.5f, 0, 0.5f, 0, 1, 1, 0},
    {"Init", 0.5f, 0.5f, 0, 0.5f, 0, 1, 1, 0},
};

// A fresh program's values; the preset rows above override eight of them.
float expectedValue(const PresetRow& row, int index) {
    switch (index) {
    case 0:
        return 1.0f;
    case 1:
        return row.dryOn;
    case 2:
        return row.leftLevel;
    case 3:
        return 1.0f;
    case 4:
        return 1.0f;
    case 5:
        return row.rightLevel;
    case 6:
        return 1.0f;
    case 7:
        return row.leftTime;
    case 12:
        return row.rightTime;
    case 16:
        return row.initialOn;
    case 17:
        return row.leftInitial;
    case 19:
        return 0.5f;
    case 22:
    case 25:
    case 27:
    case 30:
    case 32:
    case 33:
    case 36:
    case 51:
        return 1.0f;
    case 31:
    case 34:
        return 0.4f;
    case 41:
        return row.duckerOn;
    case 42:
    case 48:
        return 0.3f;
    case 43:
        return 0.5f;
    case 52:
        return 0.14f;
    default:
        return 0.0f;
    }
}

} // namespace

TEST_F(HostTest, FortyProgramsValueByValue) {
    for (VstInt32 program = 0; program < 40; ++program) {
        dispatch(effect, effSetProgram, 0, program);
        ASSERT_EQ(dispatch(effect, effGetProgram), program);
        for (VstInt32 index = 0; index < 80; ++index)
            EXPECT_EQ(effect->getParameter(effect, index), expectedValue(kPresets[program], index))
                << "program " << program << " parameter " << index;
    }
}

TEST_F(HostTest, ProgramNamesNeverOverrunTheHostsBuffer) {
    for (VstInt32 program = 0; program < 40; ++program) {
        char buffer[kVstMaxProgNameLen + 1 + 8];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(dispatch(effect, effGetProgramNameIndexed, program, 0, buffer), 1);
        const std::string full = kPresets[program].name;
        EXPECT_EQ(std::string(buffer), full.substr(0, kVstMaxProgNameLen)) << program;
        for (size_t i = kVstMaxProgNameLen + 1; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], '#') << "wrote past 25 bytes for program " << program;
    }
    char untouched[32];
    std::memset(untouched, '#', sizeof untouched);
    EXPECT_EQ(dispatch(effect, effGetProgramNameIndexed, 40, 0, untouched), 0);
    EXPECT_EQ(dispatch(effect, effGetProgramNameIndexed, -1, 0, untouched), 0);
    EXPECT_EQ(untouched[0], '#');
    EXPECT_EQ(dispatch(effect, effGetProgramNameIndexed, 3, 0, nullptr), 0);

    dispatch(effect, effSetProgram, 0, 24);
    EXPECT_EQ(text(effGetProgramName), "INSERT PingPong 6/16 DUC");
    EXPECT_EQ(text(effGetProgramNameIndexed, 24, 7), "INSERT PingPong 6/16 DUC")
        << "the category is ignored";
}

TEST_F(HostTest, EditsStayInTheirProgramAndNamesCanChange) {
    dispatch(effect, effSetProgram, 0, 3);
    effect->setParameter(effect, 7, 0.6f);
    dispatch(effect, effSetProgram, 0, 5);
    EXPECT_EQ(effect->getParameter(effect, 7), 0.125f);
    dispatch(effect, effSetProgram, 0, 3);
    EXPECT_EQ(effect->getParameter(effect, 7), 0.6f);

    char name[] = "My Echo";
    dispatch(effect, effSetProgramName, 0, 0, name);
    EXPECT_EQ(text(effGetProgramName), "My Echo");
    EXPECT_EQ(text(effGetProgramNameIndexed, 3), "My Echo");
    EXPECT_EQ(text(effGetProgramNameIndexed, 4), "SEND Stereo 5/3/16");

    // A long name is kept up to the slot's capacity; the host still gets at most 24 characters.
    std::string longName(200, 'x');
    dispatch(effect, effSetProgramName, 0, 0, longName.data());
    EXPECT_EQ(text(effGetProgramName), std::string(24, 'x'));
    dispatch(effect, effSetProgramName, 0, 0, nullptr);
    EXPECT_EQ(text(effGetProgramName), std::string(24, 'x'));
}

TEST_F(HostTest, NullTextPointersAreIgnored) {
    for (VstInt32 opcode :
         {effSetProgramName, effGetProgramName, effGetParamLabel, effGetParamDisplay,
          effGetParamName, effGetProgramNameIndexed, effGetInputProperties, effGetOutputProperties,
          effGetEffectName, effGetErrorText, effGetVendorString, effGetProductString, effCanDo,
          effShellGetNextPlugin, effGetChunk, effString2Parameter, effGetSpeakerArrangement,
          effGetMidiKeyName})
        EXPECT_EQ(dispatch(effect, opcode, 0, 0, nullptr), 0) << "opcode " << opcode;
}

TEST_F(HostTest, SampleRateBlockSizeAndMainsDoNotDisturbTheRecord) {
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, 96000.0f);
    dispatch(effect, effSetBlockSize, 0, 64);
    dispatch(effect, effMainsChanged, 0, 1);
    dispatch(effect, effMainsChanged, 0, 0);
    EXPECT_EQ(effect->flags, 25);
    EXPECT_EQ(effect->numInputs, 2);
}

TEST_F(HostTest, ProcessingSurvivesBadBuffersFromTheHost) {
    float left[64] = {}, right[64] = {};
    float* channels[2] = {left, right};
    effect->processReplacing(effect, channels, channels, 64);
    effect->processReplacing(effect, channels, channels, 0);
    effect->processReplacing(effect, channels, channels, -5);
    effect->processReplacing(effect, nullptr, nullptr, 64);
    effect->process(effect, nullptr, nullptr, 64);
    float* missing[2] = {nullptr, nullptr};
    effect->processReplacing(effect, missing, missing, 64);
    // still alive and answering, and the real block left finite samples
    EXPECT_EQ(dispatch(effect, effIdentify), 0x4E764566);
    for (float s : left)
        EXPECT_TRUE(std::isfinite(s));
}
