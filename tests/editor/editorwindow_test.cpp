// The editor window against a real effect: bindings made at construction, the refresh tick and
// what the control handlers send.
#include "editorwindow_fixture.h"

#include "dibcontrols/DIBKnobWithReset.h"
#include "dibcontrols/cDIBGlyphButton.h"
#include "dibcontrols/cDIBImage.h"
#include "dibcontrols/cDIBPanel.h"
#include "dibcontrols/cDIBSlider.h"
#include "effect/paramtable.h"
#include "framework/stdctrls.h"
#include "valuemodel/qlcparametercomponent.h"

#include <string>
#include <string_view>

namespace {

using Window = TPluginEditorWindow;

TEST_F(EditorWindowTest, ConstructionKeepsStoredCaptionsButTheVersion) {
    EXPECT_EQ(Get<TLabel>("VersionLabel").Caption(), "v0.22alpha");
    const std::pair<const char*, const char*> stored[] = {
        {"LeftDelayTimeInMsLabel", "9999"},
        {"RightInitialDelayTimeInMsLabel", "9999"},
        {"DryLevelLabel", "-20,0"},
        {"LeftFilterResoLabel", "-20,0"},
        {"LeftFilterFreqLabel", "22,1k"},
        {"LoCutLabel", "22,1k"},
        {"LeftDelayTimeRhythmicLabel", "4,0"},
        {"RightInitialDelayTimeRhythmicLabel", "4,0"},
        {"GateSpeedLabel", "100"},
        {"kHzLabel", "xxxxx kHz"},
        {"BPMLabel", "0 BPM"},
        {"HostCanSyncLabel", "Host Sync: NO"},
        {"BpmSyncLabel", "140,00"}};
    for (auto [name, caption] : stored)
        EXPECT_EQ(Get<TLabel>(name).Caption(), caption) << name;
    EXPECT_EQ(window->HzType.Max(), 0);
    EXPECT_EQ(window->LastSampleRate, 0.0);
    EXPECT_FALSE(window->SyncActive);
}

// The binding follows the parameter table: switches, links and fits are buttons, knobs and
// sliders move through a scale, spares have no control, and every control's Tag (which routes the
// user's gestures) is its own parameter's index. Each link ties a left and a right parameter of
// one kind to a link switch.
TEST_F(EditorWindowTest, BindingFollowsTheParameterTable) {
    int controls = 0;
    for (const ql::ParamInfo& p : ql::kParamTable) {
        QLCpComponent& c = window->Component(p.index);
        EXPECT_EQ(c.Index, p.index);
        const TControl* control = nullptr;
        if (auto* b = dynamic_cast<QLCbuttonPComponent*>(&c)) {
            EXPECT_TRUE(p.isStepped()) << p.name << " has a button";
            control = b->Button;
        } else if (auto* k = dynamic_cast<QLCknobLabelPComponent*>(&c)) {
            EXPECT_FALSE(p.isStepped()) << p.name << " has a knob";
            control = k->Knob;
        } else if (auto* sl = dynamic_cast<QLCsliderLabelPComponent*>(&c)) {
            EXPECT_FALSE(p.isStepped()) << p.name << " has a slider";
            control = sl->Slider;
        }
        if (p.isSpare()) {
            EXPECT_EQ(control, nullptr) << p.name;
        }
        if (!control) continue;
        ++controls;
        EXPECT_EQ(control->Tag(), p.index) << p.name;
    }
    EXPECT_EQ(controls, 39); // every named parameter but one has a control of its own

    for (int g = 0; g < TPluginEditorWindow::kLinkCount; ++g) {
        const QLClinkedPComponent& link = window->Link(g);
        const ql::ParamInfo& first = ql::kParamTable[size_t(link.FirstIndex())];
        const ql::ParamInfo& second = ql::kParamTable[size_t(link.SecondIndex())];
        EXPECT_EQ(first.kind, second.kind) << first.name;
        EXPECT_EQ(std::string_view(first.name).substr(0, 4), "Left") << first.name;
        EXPECT_EQ(std::string_view(second.name).substr(0, 5), "Right") << second.name;
        EXPECT_EQ(ql::kParamTable[size_t(link.ButtonIndex())].kind, ql::ParamKind::Link);
        EXPECT_FALSE(link.Linked);
    }
}

TEST_F(EditorWindowTest, ASliderValueShowsItsTextAtOnceAndMovesAtTheNextTick) {
    auto& slider = Get<TDIBSlider>("DryLevelSlider");
    const int32_t before = slider.Position();
    window->SetParameterValue(0, 1.0f);
    EXPECT_EQ(Get<TLabel>("DryLevelLabel").Caption(), "0.0");
    EXPECT_EQ(slider.Position(), before);
    window->SetParameterValue(80, 1.0f); // not a parameter: ignored
    window->SetParameterValue(-1, 1.0f);
    Tick();
    EXPECT_EQ(slider.Position(), 0); // inverted scale: full level at the top
    EXPECT_TRUE(TakeSent().empty()) << "the tick's own moves are not sent";
}

TEST_F(EditorWindowTest, FirstTickBeforeAnyIdleCopy) {
    Open();
    EXPECT_EQ(Get<TLabel>("HostCanSyncLabel").Caption(), "Host Sync: NO ");
    EXPECT_EQ(Get<TLabel>("BPMLabel").Caption(), "0.00 BPM");
    EXPECT_EQ(Get<TLabel>("BpmSyncLabel").Caption(), "0.00");
    EXPECT_EQ(Get<TLabel>("kHzLabel").Caption(), "44100 kHz");
    EXPECT_EQ(window->LastSampleRate, 44100.0);
    EXPECT_EQ(window->HzType.Max(), 22050);
    EXPECT_TRUE(Get<TDIBImage>("ManualImage").Visible());
    for (const char* name : {"LeftDelayTimeInMsLabel", "RightDelayTimeInMsLabel",
                             "LeftInitialDelayTimeInMsLabel", "RightInitialDelayTimeInMsLabel"})
        EXPECT_EQ(Get<TLabel>(name).Caption(), "0") << name;
    EXPECT_EQ(window->MsType.Max(), 0);
    EXPECT_EQ(window->BidiMsType.Max(), 0);
    EXPECT_EQ(Get<TLabel>("MilliLabel").Caption(), "0");
    EXPECT_EQ(Get<TLabel>("GateDebugLabel").Caption(), "Gate: OFF");
    EXPECT_EQ(Get<TLabel>("LevelLinkLabel").Caption(), "LevelLink: OFF");
    EXPECT_EQ(Get<TLabel>("DuckerDebugLabel").Caption(), "0.00");
    EXPECT_FALSE(window->Updating);
    EXPECT_TRUE(TakeSent().empty());
}

TEST_F(EditorWindowTest, SyncTempoSetsTheMillisecondRange) {
    Open();
    IdleCopy(true, 120.0);
    window->SetParameterValue(7, 0.25f);
    Tick();
    EXPECT_EQ(Get<TLabel>("LeftDelayTimeRhythmicLabel").Caption(), "4.0");
    EXPECT_EQ(Get<TLabel>("LeftDelayTimeInMsLabel").Caption(), "500");
    EXPECT_EQ(Get<TLabel>("BpmSyncLabel").Caption(), "120.00");
    EXPECT_EQ(Get<TLabel>("BPMLabel").Caption(), "120.00 BPM");
    EXPECT_EQ(Get<TLabel>("HostCanSyncLabel").Caption(), "Host Sync: YES");
    EXPECT_EQ(Get<TLabel>("MilliLabel").Caption(), "2000");
    EXPECT_FALSE(Get<TDIBImage>("ManualImage").Visible());
    EXPECT_EQ(window->MsType.Max(), 2000);
    EXPECT_EQ(window->BidiMsType.Max(), 2000);

    // The range follows the tempo.
    IdleCopy(true, 60.0);
    Tick();
    EXPECT_EQ(Get<TLabel>("LeftDelayTimeInMsLabel").Caption(), "1000");
}

TEST_F(EditorWindowTest, SampleRateChangeReachesTheHzRangeEvenWhenTheIdleCopyCameFirst) {
    Open();
    effect->setSampleRate(48000.0f);
    IdleCopy(false, 140.0); // brings the block's rate into LastSampleRate first
    Tick();
    EXPECT_EQ(Get<TLabel>("kHzLabel").Caption(), "48000 kHz");
    EXPECT_EQ(window->HzType.Max(), 24000);
}

TEST_F(EditorWindowTest, TempoSyncButtonNeedsTheHostsTime) {
    Open();
    auto& sync = Get<TDIBGlyphButton>("TempoSyncButton");
    EXPECT_EQ(sync.Opacity(), 100);
    EXPECT_FALSE(sync.Enabled());
    platform.Click(CentreOf(sync));
    EXPECT_TRUE(TakeSent().empty());

    IdleCopy(true, 120.0);
    Tick();
    EXPECT_EQ(sync.Opacity(), 255);
    EXPECT_TRUE(sync.Enabled());
    const float before = effect->param(51);
    platform.Click(CentreOf(sync));
    const std::vector<TSent> sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (TSent{51, before == 1.0f ? 0.0f : 1.0f}));

    IdleCopy(false, 140.0);
    Tick();
    EXPECT_EQ(sync.Opacity(), 100);
    EXPECT_FALSE(sync.Enabled());
}

TEST_F(EditorWindowTest, SimpleControlsSendTheirParameter) {
    Open();
    platform.Click(CentreOf(Get<TDIBGlyphButton>("GateOnButton")));
    std::vector<TSent> sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Index, 46);
    EXPECT_TRUE(sent[0].Value == 0.0f || sent[0].Value == 1.0f);
    EXPECT_EQ(effect->param(46), sent[0].Value);

    // A knob moved outside the tick sends its value through the linear scale.
    auto& knob = Get<TDIBKnobWithReset>("GateSpeedKnob");
    knob.SetPosition(knob.Position() == 100 ? 300 : 100);
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (TSent{48, float(knob.Position()) / 400.0f}));

    auto& hiCut = Get<TDIBSlider>("HiCutSlider");
    hiCut.SetPosition(hiCut.Position() == 500 ? 250 : 500);
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Index, 36);
    EXPECT_EQ(sent[0].Value, window->Component(36).Value);
}

// Drags LeftFeedbackLevelSlider's handle by dy pixels (up is more feedback), as a user would.
class FeedbackDrag : public EditorWindowTest {
  protected:
    void Drag(int dy) {
        auto& slider = Get<TDIBSlider>("LeftFeedbackLevelSlider");
        const TDIBRect& thumb = slider.ThumbRect();
        const TPoint grab{slider.Left() + (thumb.Left + thumb.Right) / 2,
                          slider.Top() + (thumb.Top + thumb.Bottom) / 2};
        platform.MouseDown(grab);
        platform.MouseMove({grab.X, grab.Y + dy / 2});
        platform.MouseMove({grab.X, grab.Y + dy});
        platform.MouseUp({grab.X, grab.Y + dy});
    }
    // Opens the editor on the feedback pair at 0.25 and 0.75 with the link parameter at link.
    void OpenWith(float link) {
        effect->setParameter(31, 0.25f);
        effect->setParameter(34, 0.75f);
        effect->setParameter(32, link);
        Open();
    }
};

TEST_F(FeedbackDrag, LinkedSendsBothSidesWithEqualValues) {
    OpenWith(1.0f);
    ASSERT_TRUE(window->Link(2).Linked);
    EXPECT_EQ(window->Component(34).Value, 0.75f)
        << "a link switched on by the tick copies nothing";
    Drag(-20);
    const std::vector<TSent> sent = TakeSent();
    ASSERT_GE(sent.size(), 2u);
    // The right slider follows, and its own change event sends the pair again on the way.
    float left = -1;
    int rights = 0;
    for (const TSent& s : sent) {
        ASSERT_TRUE(s.Index == 31 || s.Index == 34) << s.Index;
        if (s.Index == 31)
            left = s.Value;
        else {
            EXPECT_EQ(s.Value, left);
            ++rights;
        }
    }
    EXPECT_GT(rights, 0);
    EXPECT_EQ(sent.back().Index, 34);
    EXPECT_GT(sent.back().Value, 0.25f);
    EXPECT_EQ(Get<TDIBSlider>("RightFeedbackLevelSlider").Position(),
              Get<TDIBSlider>("LeftFeedbackLevelSlider").Position());
    EXPECT_EQ(Get<TLabel>("RightFeedbackLevelLabel").Caption(),
              Get<TLabel>("LeftFeedbackLevelLabel").Caption());
}

TEST_F(FeedbackDrag, UnlinkedSendsTheOtherSideUnchanged) {
    OpenWith(0.0f);
    ASSERT_FALSE(window->Link(2).Linked);
    Drag(-20);
    const std::vector<TSent> sent = TakeSent();
    ASSERT_GE(sent.size(), 2u);
    for (size_t k = 0; k < sent.size(); ++k)
        EXPECT_EQ(sent[k].Index, k % 2 ? 34 : 31);
    for (size_t k = 1; k < sent.size(); k += 2)
        EXPECT_EQ(sent[k].Value, 0.75f);
    EXPECT_GT(sent[sent.size() - 2].Value, 0.25f);
}

TEST_F(FeedbackDrag, LinkAutomatedOffShowsTheButtonUpButStaysLinked) {
    OpenWith(1.0f);
    auto& button = Get<TDIBGlyphButton>("FeedbackLinkButton");
    EXPECT_TRUE(button.Down());
    window->SetParameterValue(32, 0.0f);
    Tick();
    EXPECT_FALSE(button.Down());
    EXPECT_TRUE(window->Link(2).Linked);
    Drag(-10);
    const std::vector<TSent> sent = TakeSent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2].Value, sent.back().Value);
}

TEST_F(FeedbackDrag, LinkButtonClickCouplesTheRightSideToTheLeft) {
    OpenWith(0.0f);
    ASSERT_FALSE(window->Link(2).Linked);
    platform.Click(CentreOf(Get<TDIBGlyphButton>("FeedbackLinkButton")));
    EXPECT_TRUE(window->Link(2).Linked);
    // The right slider's move to the left value raises its own change, which sends the pair first.
    std::vector<TSent> sent = TakeSent();
    const std::vector<TSent> on = {{31, 0.25f}, {34, 0.25f}, {32, 1.0f}, {34, 0.25f}};
    EXPECT_EQ(sent, on);
    EXPECT_EQ(Get<TDIBSlider>("RightFeedbackLevelSlider").Position(),
              Get<TDIBSlider>("LeftFeedbackLevelSlider").Position());

    platform.Click(CentreOf(Get<TDIBGlyphButton>("FeedbackLinkButton")));
    EXPECT_FALSE(window->Link(2).Linked);
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], (TSent{32, 0.0f}));
    EXPECT_EQ(sent[1], (TSent{34, 0.25f})) << "switching off leaves both values";
}

TEST_F(EditorWindowTest, FitButtonSnapsTheDelayTimeToSixteenths) {
    Open();
    window->SetParameterValue(10, 0.0f);
    window->SetParameterValue(7, 0.67f); // position 3300 of 10000 through the inverted scale
    Tick();
    ASSERT_EQ(Get<TDIBSlider>("LeftDelayTimeSlider").Position(), 3300);
    platform.Click(CentreOf(Get<TDIBGlyphButton>("LeftDelayFitButton")));
    const std::vector<TSent> sent = TakeSent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent.front(), (TSent{10, 1.0f}));
    EXPECT_EQ(sent.back(), (TSent{7, 0.6875f}));
    // The snap moved the slider, whose change sent the pair on the way.
    for (size_t k = 1; k + 1 < sent.size(); ++k)
        EXPECT_TRUE(sent[k].Index == 7 || sent[k].Index == 12) << sent[k].Index;
    EXPECT_EQ(Get<TDIBSlider>("LeftDelayTimeVisibleSlider").Position(), 3125);
    EXPECT_TRUE(Get<TDIBGlyphButton>("LeftDelayFitButton").Down());
}

TEST_F(EditorWindowTest, HandlersIgnoreEventsDuringTheTick) {
    Open();
    const bool linked = window->Link(2).Linked;
    window->Updating = true;
    window->SimpleButtonClick(&Get<TDIBGlyphButton>("GateOnButton"));
    window->LinkButtonClick(&Get<TDIBGlyphButton>("FeedbackLinkButton"));
    window->FitButtonClick(&Get<TDIBGlyphButton>("LeftDelayFitButton"));
    window->LinkedSliderChange(&Get<TDIBSlider>("LeftFeedbackLevelSlider"));
    window->SimpleKnobChange(&Get<TDIBKnobWithReset>("GateSpeedKnob"));
    window->Updating = false;
    EXPECT_TRUE(TakeSent().empty());
    EXPECT_EQ(window->Link(2).Linked, linked);
}

TEST_F(EditorWindowTest, BackSideClickBringsTheFrontBack) {
    Open();
    window->FrontSideContainer->SetVisible(false);
    window->BackSideImageClick(&Get<TImage>("BackSideImage"));
    EXPECT_TRUE(window->FrontSideContainer->Visible());
    window->LogoImageClick(nullptr);
    EXPECT_TRUE(TakeSent().empty());
}

} // namespace
