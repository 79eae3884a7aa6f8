// The base effect classes and the editor base: defaults, dispatcher conversions, host requests.
#include "shell/audioeffectx.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace {

struct Request {
    AEffect* effect;
    VstInt32 opcode, index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

std::vector<Request> gRequests;
VstIntPtr gAnswer = 0;

VstIntPtr QL_VSTCALL recordingHost(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                   void* ptr, float opt) {
    gRequests.push_back({e, opcode, index, value, ptr, opt});
    return gAnswer;
}

// The smallest concrete effect: records what the dispatcher hands its operations.
class BareEffect : public AudioEffectX {
  public:
    explicit BareEffect(audioMasterCallback host) : AudioEffectX(host, 3, 5) {}
    ~BareEffect() override {
        if (destroyed) *destroyed = true;
    }
    void process(float**, float**, VstInt32) override {}
    void setParameter(VstInt32 index, float value) override {
        calls.push_back("setParameter");
        lastIndex = index;
        lastValue = value;
    }
    void setProgram(VstInt32 program) override {
        calls.push_back("setProgram");
        lastIndex = program;
    }
    void close() override {
        if (closed) *closed = true;
    }
    float getVu() override { return vu; }
    bool keysRequired() override { return keys; }

    std::vector<std::string> calls;
    VstInt32 lastIndex = 0;
    float lastValue = 0;
    float vu = 0;
    bool keys = false;
    bool* destroyed = nullptr;
    bool* closed = nullptr;
};

class RecordingEditor : public AEffEditor {
  public:
    using AEffEditor::AEffEditor;
    VstInt32 getRect(ERect** rect) override {
        seenRect = *rect;
        *rect = &own;
        return 1;
    }
    VstInt32 onKeyDown(VstKeyCode& key) override {
        last = key;
        return 7;
    }
    VstInt32 onKeyUp(VstKeyCode& key) override {
        last = key;
        return 8;
    }
    void update() override { ++updates; }
    ERect own{0, 0, 369, 600};
    ERect* seenRect = nullptr;
    VstKeyCode last{};
    int updates = 0;
};

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gRequests.clear();
        gAnswer = 0;
    }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        AEffect* e = effect.getAeffect();
        return e->dispatcher(e, opcode, index, value, ptr, opt);
    }
    BareEffect effect{recordingHost};
};

} // namespace

TEST_F(ShellTest, BaseRecord) {
    AEffect* e = effect.getAeffect();
    EXPECT_EQ(e->magic, fourCharCode('V', 's', 't', 'P'));
    EXPECT_EQ(e->numPrograms, 3);
    EXPECT_EQ(e->numParams, 5);
    EXPECT_EQ(e->numInputs, 1);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->flags, 0);
    EXPECT_EQ(e->uniqueID, fourCharCode('N', 'o', 'E', 'f'));
    EXPECT_EQ(e->ioRatio, 1);
    EXPECT_EQ(e->object, &effect);
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    EXPECT_EQ(fourCharCode('Q', 'l', 'n', 't'), 0x516C6E74);
}

TEST_F(ShellTest, FlagSettersAndEditorFlag) {
    struct Case {
        void (AudioEffectX::*set)(bool);
        VstInt32 bit;
    };
    const Case cases[] = {{&AudioEffectX::hasClip, 2},
                          {&AudioEffectX::hasVu, 4},
                          {&AudioEffectX::canMono, 8},
                          {&AudioEffectX::canProcessReplacing, 16},
                          {&AudioEffectX::programsAreChunks, 32},
                          {&AudioEffectX::isSynth, 256},
                          {&AudioEffectX::noTail, 512},
                          {&AudioEffectX::wantAsyncOperation, 1024},
                          {&AudioEffectX::hasExternalBuffer, 2048}};
    for (const Case& c : cases) {
        (effect.*c.set)(true);
        EXPECT_EQ(effect.getAeffect()->flags, c.bit);
        (effect.*c.set)(false);
        EXPECT_EQ(effect.getAeffect()->flags, 0);
    }
    effect.isSynth(true);
    EXPECT_EQ(effect.getPlugCategory(), 2);
    effect.isSynth(false);
    EXPECT_EQ(effect.getPlugCategory(), 0);

    effect.setEditor(new AEffEditor(&effect));
    EXPECT_EQ(effect.getAeffect()->flags & effFlagsHasEditor, effFlagsHasEditor);
    AEffEditor* installed = effect.getEditor();
    effect.setEditor(nullptr);
    EXPECT_EQ(effect.getAeffect()->flags & effFlagsHasEditor, 0);
    delete installed;
}

TEST_F(ShellTest, WithoutAHost) {
    BareEffect alone(nullptr);
    EXPECT_EQ(alone.getMasterVersion(), 1);
    EXPECT_TRUE(alone.isInputConnected(0));
    EXPECT_TRUE(alone.isOutputConnected(1));
    EXPECT_EQ(alone.getTimeInfo(0), nullptr);
    EXPECT_EQ(alone.tempoAt(100), 0);
    EXPECT_FALSE(alone.getHostVendorString(nullptr));
    EXPECT_EQ(alone.updateSampleRate(), 44100.0);
    alone.setParameterAutomated(3, 1.5f);
    EXPECT_EQ(alone.calls, std::vector<std::string>{"setParameter"});
    EXPECT_TRUE(gRequests.empty());
}

TEST_F(ShellTest, AutomationFollowsTheChangeWithTheUnclampedValue) {
    effect.setParameterAutomated(3, 1.5f);
    EXPECT_EQ(effect.calls, std::vector<std::string>{"setParameter"});
    ASSERT_EQ(gRequests.size(), 1u);
    EXPECT_EQ(gRequests[0].opcode, audioMasterAutomate);
    EXPECT_EQ(gRequests[0].effect, effect.getAeffect());
    EXPECT_EQ(gRequests[0].index, 3);
    EXPECT_EQ(gRequests[0].value, 0);
    EXPECT_EQ(gRequests[0].opt, 1.5f);
}

TEST_F(ShellTest, HostAnswersAndTheirConversions) {
    gAnswer = 0;
    EXPECT_EQ(effect.getMasterVersion(), 1);
    EXPECT_TRUE(effect.isInputConnected(1)) << "an answer of 0 means connected";
    gAnswer = 2400;
    EXPECT_EQ(effect.getMasterVersion(), 2400);
    EXPECT_FALSE(effect.isOutputConnected(0));
    EXPECT_EQ(gRequests.back().opcode, audioMasterPinConnected);
    EXPECT_EQ(gRequests.back().value, 1) << "1 marks an output pin";

    gAnswer = 0;
    effect.updateSampleRate();
    gAnswer = -48000;
    EXPECT_EQ(effect.updateSampleRate(), 44100.0);
    gAnswer = 48000;
    EXPECT_EQ(effect.updateSampleRate(), 48000.0);
    gAnswer = -1;
    EXPECT_EQ(effect.updateBlockSize(), 1024);
    gAnswer = 256;
    EXPECT_EQ(effect.updateBlockSize(), 256);

    gAnswer = 5;
    EXPECT_EQ(effect.offlineGetCurrentPass(), 1);
    EXPECT_TRUE(effect.needIdle());
    EXPECT_TRUE(effect.sizeWindow(600, 369));
    EXPECT_EQ(gRequests.back().index, 600);
    EXPECT_EQ(gRequests.back().value, 369);
    gRequests.clear();
    EXPECT_FALSE(effect.openFileSelector(nullptr));
    EXPECT_TRUE(gRequests.empty()) << "no request for a null selector";
}

TEST_F(ShellTest, WrappersSendTheirOpcodes) {
    struct Case {
        VstInt32 opcode;
        void (*call)(AudioEffectX&);
    };
    char text[64] = {};
    static char* sText;
    sText = text;
    const Case cases[] = {
        {audioMasterCurrentId, [](AudioEffectX& e) { e.getCurrentUniqueId(); }},
        {audioMasterIdle, [](AudioEffectX& e) { e.masterIdle(); }},
        {audioMasterGetTime, [](AudioEffectX& e) { e.getTimeInfo(kVstTempoValid); }},
        {audioMasterTempoAt, [](AudioEffectX& e) { e.tempoAt(4410); }},
        {audioMasterIOChanged, [](AudioEffectX& e) { e.ioChanged(); }},
        {audioMasterGetSampleRate, [](AudioEffectX& e) { e.updateSampleRate(); }},
        {audioMasterGetBlockSize, [](AudioEffectX& e) { e.updateBlockSize(); }},
        {audioMasterGetInputLatency, [](AudioEffectX& e) { e.getInputLatency(); }},
        {audioMasterGetOutputLatency, [](AudioEffectX& e) { e.getOutputLatency(); }},
        {audioMasterWillReplaceOrAccumulate, [](AudioEffectX& e) { e.willProcessReplacing(); }},
        {audioMasterGetCurrentProcessLevel, [](AudioEffectX& e) { e.getCurrentProcessLevel(); }},
        {audioMasterGetAutomationState, [](AudioEffectX& e) { e.getAutomationState(); }},
        {audioMasterSetOutputSampleRate, [](AudioEffectX& e) { e.setOutputSampleRate(48000); }},
        {audioMasterGetVendorString, [](AudioEffectX& e) { e.getHostVendorString(sText); }},
        {audioMasterGetProductString, [](AudioEffectX& e) { e.getHostProductString(sText); }},
        {audioMasterCanDo, [](AudioEffectX& e) { e.canHostDo(sText); }},
        {audioMasterUpdateDisplay, [](AudioEffectX& e) { e.updateDisplay(); }},
        {audioMasterBeginEdit, [](AudioEffectX& e) { e.beginEdit(3); }},
        {audioMasterEndEdit, [](AudioEffectX& e) { e.endEdit(3); }},
        {audioMasterGetInputSpeakerArrangement,
         [](AudioEffectX& e) { e.getInputSpeakerArrangement(); }},
    };
    for (const Case& c : cases) {
        gRequests.clear();
        c.call(effect);
        ASSERT_EQ(gRequests.size(), 1u) << "opcode " << c.opcode;
        EXPECT_EQ(gRequests[0].opcode, c.opcode);
        EXPECT_EQ(gRequests[0].effect, effect.getAeffect());
    }
    gRequests.clear();
    effect.getTimeInfo(kVstTempoValid);
    EXPECT_EQ(gRequests[0].value, kVstTempoValid);
    effect.tempoAt(4410);
    EXPECT_EQ(gRequests[1].value, 4410);
    effect.setOutputSampleRate(48000);
    EXPECT_EQ(gRequests[2].opt, 48000.0f);
}

TEST_F(ShellTest, DispatcherConversions) {
    // getVu is scaled by 32767 and rounded halves to even
    effect.vu = 0.5f; // 16383.5
    EXPECT_EQ(dispatch(effGetVu), 16384);
    effect.vu = 1.5f; // 49150.5
    EXPECT_EQ(dispatch(effGetVu), 49150);
    effect.vu = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(dispatch(effGetVu), 0);
    effect.vu = 1e30f;
    EXPECT_EQ(dispatch(effGetVu), 0) << "no integer for it: answered 0, not undefined";

    effect.keys = true;
    EXPECT_EQ(dispatch(effKeysRequired), 0);
    effect.keys = false;
    EXPECT_EQ(dispatch(effKeysRequired), 1);

    dispatch(effSetProgram, 0, 3);
    EXPECT_TRUE(effect.calls.empty()) << "value 3 is not below the program count 3";
    dispatch(effSetProgram, 0, -1);
    ASSERT_EQ(effect.calls.size(), 1u);
    EXPECT_EQ(effect.lastIndex, -1) << "negatives pass through to the operation";
    if (sizeof(VstIntPtr) == 8) {
        dispatch(effSetProgram, 0, static_cast<VstIntPtr>(-4294967295LL));
        EXPECT_EQ(effect.lastIndex, std::numeric_limits<VstInt32>::min());
    }

    EXPECT_EQ(dispatch(effIdentify, 3, 4, &effect, 5.0f), 0x4E764566);
    EXPECT_EQ(dispatch(effGetVstVersion), 2300);
    EXPECT_EQ(dispatch(effGetNumProgramCategories), 1);
    EXPECT_EQ(dispatch(effCanBeAutomated, 12345), 1);
    EXPECT_EQ(dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(dispatch(effSetTotalSampleToProcess, 0, -77), -77);
    EXPECT_EQ(dispatch(effSetBlockSizeAndSampleRate, 0, 128, nullptr, 22050.0f), 1);
    EXPECT_EQ(effect.getBlockSize(), 128);
    EXPECT_EQ(effect.getSampleRate(), 22050.0f);
    EXPECT_EQ(dispatch(effConnectInput, 0, 0), 1);
}

TEST_F(ShellTest, EditorOpcodes) {
    // Without an editor object every editor opcode answers 0.
    ERect* rect = nullptr;
    for (VstInt32 opcode : {effEditGetRect, effEditOpen, effEditClose, effEditIdle, effEditKeyDown,
                            effEditKeyUp, effSetEditKnobMode})
        EXPECT_EQ(dispatch(opcode, 0, 0, &rect), 0) << opcode;

    auto* editor = new RecordingEditor(&effect);
    effect.setEditor(editor);
    ERect hostRect{};
    rect = &hostRect;
    EXPECT_EQ(dispatch(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(editor->seenRect, &hostRect) << "the editor sees a copy of the host's pointer";
    EXPECT_EQ(rect, &editor->own) << "and the host gets the editor's answer back";
    EXPECT_EQ(dispatch(effEditGetRect, 0, 0, nullptr), 1);

    EXPECT_EQ(dispatch(effEditKeyDown, 'q', 0x1234, nullptr, 2.5f), 7);
    EXPECT_EQ(editor->last.character, 'q');
    EXPECT_EQ(editor->last.virt, 0x34);
    EXPECT_EQ(editor->last.modifier, 2) << "2.5 rounds to the even 2";
    EXPECT_EQ(dispatch(effEditKeyUp, -1, 0xFF, nullptr, 258.0f), 8);
    EXPECT_EQ(editor->last.virt, 0xFF);
    EXPECT_EQ(editor->last.modifier, 2) << "only the low byte of 258";
    EXPECT_EQ(dispatch(effEditKeyUp, 0, 0, nullptr, std::numeric_limits<float>::infinity()), 8);
    EXPECT_EQ(editor->last.modifier, 0);
}

TEST(EditorBase, Defaults) {
    BareEffect effect(nullptr);
    AEffEditor editor(&effect);
    ERect* rect = reinterpret_cast<ERect*>(&effect);
    EXPECT_EQ(editor.getRect(&rect), 0);
    EXPECT_EQ(rect, nullptr);
    int window = 0;
    EXPECT_EQ(editor.open(&window), 0);
    EXPECT_EQ(editor.getSystemWindow(), &window);
    VstKeyCode key{};
    EXPECT_EQ(editor.onKeyDown(key), -1);
    EXPECT_EQ(editor.onKeyUp(key), -1);
    EXPECT_EQ(editor.setKnobMode(1), 0);
    EXPECT_FALSE(editor.onWheel(1.0f));
}

TEST(EditorBase, PostedUpdateRunsOnceOnIdle) {
    BareEffect effect(nullptr);
    RecordingEditor editor(&effect);
    editor.idle();
    EXPECT_EQ(editor.updates, 0);
    editor.postUpdate();
    editor.idle();
    EXPECT_EQ(editor.updates, 1);
    editor.idle();
    EXPECT_EQ(editor.updates, 1);
}

TEST(EffectLifetime, CloseRunsTheOperationThenDestroysTheEffect) {
    bool destroyed = false, closed = false;
    auto* effect = new BareEffect(nullptr);
    effect->destroyed = &destroyed;
    effect->closed = &closed;
    AEffect* e = effect->getAeffect();
    EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(destroyed);
}

TEST(EffectLifetime, EditorIsDestroyedWithTheEffect) {
    struct Tracked : AEffEditor {
        Tracked(AudioEffect* e, bool* gone) : AEffEditor(e), gone(gone) {}
        ~Tracked() override { *gone = true; }
        bool* gone;
    };
    bool gone = false;
    {
        BareEffect effect(nullptr);
        effect.setEditor(new Tracked(&effect, &gone));
    }
    EXPECT_TRUE(gone);
}

TEST(SpeakerArrangements, AllocateCopyMatchAndFree) {
    BareEffect effect(nullptr);
    VstSpeakerArrangement* arrangement = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&arrangement, 12));
    ASSERT_NE(arrangement, nullptr);
    EXPECT_EQ(arrangement->numChannels, 12);
    VstSpeakerProperties* speakers = arrangement->speakers;
    EXPECT_EQ(speakers[11].type, 0) << "zero-filled, all twelve records";
    arrangement->type = 7;
    std::strcpy(speakers[11].name, "Rear");
    speakers[11].azimuth = 1.5f;
    speakers[11].future[27] = 9;

    VstSpeakerArrangement* copy = nullptr;
    ASSERT_TRUE(effect.matchArrangement(&copy, arrangement));
    EXPECT_EQ(copy->type, 7);
    EXPECT_EQ(copy->numChannels, 12);
    VstSpeakerProperties* copied = copy->speakers;
    EXPECT_STREQ(copied[11].name, "Rear");
    EXPECT_EQ(copied[11].azimuth, 1.5f);
    EXPECT_EQ(copied[11].future[27], 9);

    EXPECT_FALSE(effect.copySpeaker(nullptr, &speakers[0]));
    EXPECT_FALSE(effect.matchArrangement(&copy, nullptr));
    EXPECT_FALSE(effect.allocateArrangement(&copy, -1));
    EXPECT_TRUE(effect.deallocateArrangement(&arrangement));
    EXPECT_EQ(arrangement, nullptr);
    EXPECT_TRUE(effect.deallocateArrangement(&copy));
    EXPECT_TRUE(effect.deallocateArrangement(&copy)) << "freeing an empty place is fine";
}

TEST_F(ShellTest, GetSpeakerArrangementWritesNothingToTheHost) {
    char hostMemory[32];
    std::memset(hostMemory, 0x77, sizeof hostMemory);
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(hostMemory),
                       hostMemory + 16),
              0);
    for (char c : hostMemory)
        EXPECT_EQ(c, 0x77);
}
