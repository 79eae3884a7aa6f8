#include "editor/TPluginEditorWindow.h"

#include "dibcontrols/DIBKnobWithReset.h"
#include "dibcontrols/cDIBGlyphButton.h"
#include "dibcontrols/cDIBImage.h"
#include "dibcontrols/cDIBPanel.h"
#include "dibcontrols/cDIBSlider.h"
#include "dibcontrols/cDIBTimer.h"
#include "editor/editorlayout.h"
#include "effect/aplugin.h"
#include "framework/stdctrls.h"
#include "valuemodel/numtext.h"
#include "valuemodel/qlcparametercomponent.h"

#include <cmath>
#include <cstring>

namespace {

const char kVersionText[] = "v0.22alpha";

// Copies text into a window text buffer when it differs; answers whether it did.
bool StoreIfChanged(char (&buffer)[TPluginEditorWindow::kTextSize], const char* text) {
    if (std::strcmp(buffer, text) == 0) return false;
    ql::copyText(buffer, sizeof buffer, text);
    return true;
}

// "%2.2f" of value into out, with the user's decimal separator like every other editor text.
void PrintTempo(char (&out)[TPluginEditorWindow::kTextSize], double value) {
    ql::formatFixed(out, sizeof out, value, 2, 2);
}

void AppendText(char (&out)[TPluginEditorWindow::kTextSize], const char* tail) {
    const size_t n = std::strlen(out);
    ql::copyText(out + n, sizeof out - n, tail);
}

} // namespace

TPluginEditorWindow::TPluginEditorWindow(TComponent* owner, TNativeHandle parentWindow,
                                         IPlatform* platform)
    : TForm(owner, parentWindow, platform) {
    using Self = TPluginEditorWindow;
    auto bind = [this](void (Self::*handler)(TComponent*)) -> TNotifyEvent {
        return [this, handler](TComponent* sender) { (this->*handler)(sender); };
    };
    // 1. The form and its controls from the stored description. (2. and 3., the scales and value
    // types, are members; 4., the sample rate and sync state, start at 0 and false.)
    LoadPluginEditorWindowLayout(*this, {{"UpdaterTimer", bind(&Self::UpdaterTimer)},
                                         {"SimpleButtonClick", bind(&Self::SimpleButtonClick)},
                                         {"SimpleKnobChange", bind(&Self::SimpleKnobChange)},
                                         {"SimpleSliderChange", bind(&Self::SimpleSliderChange)},
                                         {"LinkedSliderChange", bind(&Self::LinkedSliderChange)},
                                         {"LinkedKnobChange", bind(&Self::LinkedKnobChange)},
                                         {"LinkButtonClick", bind(&Self::LinkButtonClick)},
                                         {"FitButtonClick", bind(&Self::FitButtonClick)},
                                         {"LogoImageClick", bind(&Self::LogoImageClick)},
                                         {"BackSideImageClick", bind(&Self::BackSideImageClick)}});

    updater = &FindFormComponent<TDIBTimer>(*this, "updater");
    FrontSideContainer = &FindFormComponent<TDIBContainer>(*this, "FrontSideContainer");
    BackSideContainer = &FindFormComponent<TDIBContainer>(*this, "BackSideContainer");
    fkHzLabel = &FindFormComponent<TLabel>(*this, "kHzLabel");
    fBPMLabel = &FindFormComponent<TLabel>(*this, "BPMLabel");
    fHostCanSyncLabel = &FindFormComponent<TLabel>(*this, "HostCanSyncLabel");
    fBpmSyncLabel = &FindFormComponent<TLabel>(*this, "BpmSyncLabel");
    fMilliLabel = &FindFormComponent<TLabel>(*this, "MilliLabel");
    fGateDebugLabel = &FindFormComponent<TLabel>(*this, "GateDebugLabel");
    fLevelLinkLabel = &FindFormComponent<TLabel>(*this, "LevelLinkLabel");
    fDuckerDebugLabel = &FindFormComponent<TLabel>(*this, "DuckerDebugLabel");
    fTempoSyncButton = &FindFormComponent<TDIBGlyphButton>(*this, "TempoSyncButton");
    fManualImage = &FindFormComponent<TDIBImage>(*this, "ManualImage");

    // The stored label sizes were measured with the fonts the form names; drawn with the
    // framework's faces, longer texts ("120.00 BPM", "v0.22alpha", "/ 16") would be cut off. Sized
    // to their text, labels keep their anchor: the left edge, or the right edge of a
    // right-justified one, so a text that fits stays where it was.
    for (int i = 0; i < FrontSideContainer->ControlCount(); ++i)
        if (auto* label = dynamic_cast<TLabel*>(FrontSideContainer->Controls(i)))
            label->SetAutoSize(true);

    // 5. The version.
    FindFormComponent<TLabel>(*this, "VersionLabel").SetCaption(kVersionText);

    // 6. One component per parameter index, and the links.
    BindComponents();
}

TPluginEditorWindow::~TPluginEditorWindow() {
    // The timer goes with the form; stop it first so no tick reaches half-destroyed components.
    if (updater) updater->SetEnabled(false);
    // The controls the components point into are freed by the form after this body; the
    // components themselves must not outlive it either way.
    for (auto& l : fLinks)
        l.reset();
    for (auto& c : fComponents)
        c.reset();
}

void TPluginEditorWindow::BindComponents() {
    auto label = [this](const char* name) { return &FindFormComponent<TLabel>(*this, name); };
    auto knob = [this](const char* name) {
        return &FindFormComponent<TDIBKnobWithReset>(*this, name);
    };
    auto slider = [this](const char* name) { return &FindFormComponent<TDIBSlider>(*this, name); };
    auto button = [this](const char* name) {
        return &FindFormComponent<TDIBGlyphButton>(*this, name);
    };
    auto& c = fComponents;
    auto buttonAt = [&c](int i, TDIBGlyphButton* b) {
        c[size_t(i)] = std::make_unique<QLCbuttonPComponent>(i, b);
    };
    auto sliderAt = [&c](int i, TDIBSlider* s, TLabel* l, QLCvalueType* type,
                         QLCvalueScale* scale) {
        c[size_t(i)] = std::make_unique<QLCsliderLabelPComponent>(i, l, type, s, scale);
    };
    QLCvalueScale* const scale = &LinearScale;
    auto knobAt = [&c, scale](int i, TDIBKnobWithReset* k, TLabel* l, QLCvalueType* type) {
        c[size_t(i)] = std::make_unique<QLCknobLabelPComponent>(i, l, type, k, scale);
    };
    auto linkAt = [this](int group, int first, int second, int buttonIndex) {
        fLinks[size_t(group)] = std::make_unique<QLClinkedPComponent>(
            group, static_cast<QLClabelPComponent*>(fComponents[size_t(first)].get()),
            static_cast<QLClabelPComponent*>(fComponents[size_t(second)].get()),
            static_cast<QLCbuttonPComponent*>(fComponents[size_t(buttonIndex)].get()));
    };
    auto plain = [&c](int from, int to) {
        for (int i = from; i <= to; ++i)
            c[size_t(i)] = std::make_unique<QLCpComponent>(i);
    };
    auto radio = [&c](int i) { c[size_t(i)] = std::make_unique<QLCradioButtonsPComponent>(i); };

    sliderAt(ql::DryLevel, slider("DryLevelSlider"), label("DryLevelLabel"), &DbType,
             &InvertedScale);
    buttonAt(ql::DryOn, button("DryOnButton"));
    sliderAt(ql::LeftDelayLevel, slider("LeftDelayLevelSlider"), label("LeftDelayLevelLabel"),
             &DbType, &InvertedScale);
    buttonAt(ql::LeftDelayOn, button("LeftDelayOnButton"));
    buttonAt(ql::DelayLevelLink, button("DelayLevelLinkButton"));
    sliderAt(ql::RightDelayLevel, slider("RightDelayLevelSlider"), label("RightDelayLevelLabel"),
             &DbType, &InvertedScale);
    linkAt(4, ql::LeftDelayLevel, ql::RightDelayLevel, ql::DelayLevelLink);
    buttonAt(ql::RightDelayOn, button("RightDelayOnButton"));
    c[ql::LeftDelayTime] = std::make_unique<QLCfitSlider2LabelsPComponent>(
        ql::LeftDelayTime, label("LeftDelayTimeInMsLabel"), &MsType,
        label("LeftDelayTimeRhythmicLabel"), &RhythmType, slider("LeftDelayTimeVisibleSlider"),
        slider("LeftDelayTimeSlider"), &InvertedScale, button("LeftDelayFitButton"));
    plain(8, 9);
    buttonAt(ql::LeftDelayFit, button("LeftDelayFitButton"));
    buttonAt(ql::DelayTimeLink, button("DelayTimeLinkButton"));
    c[ql::RightDelayTime] = std::make_unique<QLCfitSlider2LabelsPComponent>(
        ql::RightDelayTime, label("RightDelayTimeInMsLabel"), &MsType,
        label("RightDelayTimeRhythmicLabel"), &RhythmType, slider("RightDelayTimeVisibleSlider"),
        slider("RightDelayTimeSlider"), &InvertedScale, button("RightDelayFitButton"));
    linkAt(0, ql::LeftDelayTime, ql::RightDelayTime, ql::DelayTimeLink);
    plain(13, 14);
    buttonAt(ql::RightDelayFit, button("RightDelayFitButton"));
    buttonAt(ql::InitialDelayOn, button("InitialDelayOnButton"));
    c[ql::LeftInitialDelayTime] = std::make_unique<QLCknob2LabelsPComponent>(
        ql::LeftInitialDelayTime, label("LeftInitialDelayTimeInMsLabel"), &BidiMsType,
        label("LeftInitialDelayTimeRhythmicLabel"), &BidiRhythmType,
        knob("LeftInitialDelayTimeKnob"), &LinearScale);
    plain(18, 18);
    c[ql::RightInitialDelayTime] = std::make_unique<QLCknob2LabelsPComponent>(
        ql::RightInitialDelayTime, label("RightInitialDelayTimeInMsLabel"), &BidiMsType,
        label("RightInitialDelayTimeRhythmicLabel"), &BidiRhythmType,
        knob("RightInitialDelayTimeKnob"), &LinearScale);
    plain(20, 20);
    buttonAt(ql::LeftFilterOn, button("LeftFilterOnButton"));
    sliderAt(ql::LeftFilterFreq, slider("LeftFilterFreqSlider"), label("LeftFilterFreqLabel"),
             &HzType, &InvertedSquareScale);
    radio(23);
    knobAt(ql::LeftFilterReso, knob("LeftFilterResoKnob"), label("LeftFilterResoLabel"),
           &PercentType);
    buttonAt(ql::FilterFreqLink, button("FilterFreqLinkButton"));
    buttonAt(ql::RightFilterOn, button("RightFilterOnButton"));
    sliderAt(ql::RightFilterFreq, slider("RightFilterFreqSlider"), label("RightFilterFreqLabel"),
             &HzType, &InvertedSquareScale);
    linkAt(1, ql::LeftFilterFreq, ql::RightFilterFreq, ql::FilterFreqLink);
    radio(28);
    knobAt(ql::RightFilterReso, knob("RightFilterResoKnob"), label("RightFilterResoLabel"),
           &PercentType);
    buttonAt(ql::LeftFeedbackOn, button("LeftFeedbackOnButton"));
    sliderAt(ql::LeftFeedbackLevel, slider("LeftFeedbackLevelSlider"),
             label("LeftFeedbackLevelLabel"), &PercentType, &InvertedScale);
    buttonAt(ql::FeedbackLink, button("FeedbackLinkButton"));
    buttonAt(ql::RightFeedbackOn, button("RightFeedbackOnButton"));
    sliderAt(ql::RightFeedbackLevel, slider("RightFeedbackLevelSlider"),
             label("RightFeedbackLevelLabel"), &PercentType, &InvertedScale);
    linkAt(2, ql::LeftFeedbackLevel, ql::RightFeedbackLevel, ql::FeedbackLink);
    buttonAt(ql::HiCutOn, button("HiCutOnButton"));
    sliderAt(ql::HiCutFreq, slider("HiCutSlider"), label("HiCutLabel"), &HzType, &SquareScale);
    radio(37);
    buttonAt(ql::LoCutOn, button("LoCutOnButton"));
    sliderAt(ql::LoCutFreq, slider("LoCutSlider"), label("LoCutLabel"), &HzType, &FourthPowerScale);
    radio(40);
    buttonAt(ql::DuckerOn, button("DuckerOnButton"));
    knobAt(ql::DuckerRange, knob("DuckerRangeKnob"), label("DuckerRangeLabel"), &PercentType);
    knobAt(ql::DuckerSpeed, knob("DuckerSpeedKnob"), label("DuckerSpeedLabel"), &PercentType);
    plain(44, 45);
    buttonAt(ql::GateOn, button("GateOnButton"));
    knobAt(ql::GateThreshold, knob("GateThresholdKnob"), label("GateThresholdLabel"), &DbType);
    knobAt(ql::GateSpeed, knob("GateSpeedKnob"), label("GateSpeedLabel"), &PercentType);
    plain(49, 50);
    buttonAt(ql::TempoSync, fTempoSyncButton);
    plain(52, 52);
    buttonAt(ql::FilterResoLink, button("FilterResoLinkButton"));
    linkAt(3, ql::LeftFilterReso, ql::RightFilterReso, ql::FilterResoLink);
    plain(54, kParameterCount - 1);

    fLinkButtons = {{{button("DelayLevelLinkButton"), 4},
                     {button("FilterFreqLinkButton"), 1},
                     {button("FilterResoLinkButton"), 3},
                     {button("FeedbackLinkButton"), 2}}};
}

void TPluginEditorWindow::SetParameterValue(int32_t index, float value) {
    if (index < 0 || index >= kParameterCount) return;
    fComponents[size_t(index)]->SetValue(value);
}

void TPluginEditorWindow::SetTiming(const TEditorTiming& timing) {
    HostCanSync = timing.HostCanSync;
    SyncActive = timing.SyncActive;
    LastSampleRate = timing.LastSampleRate;
    SyncTempo = timing.SyncTempo;
    HostTempo = timing.HostTempo;
    MsRange = timing.MsRange;
    fEffectSampleRate = timing.EffectSampleRate;
    fEffectRateKnown = true;
}

void TPluginEditorWindow::UpdaterTimer(TComponent*) {
    // 1.
    struct UpdatingScope {
        bool& Flag;
        explicit UpdatingScope(bool& flag) : Flag(flag) { Flag = true; }
        ~UpdatingScope() { Flag = false; } // 11.
    } scope(Updating);

    char text[kTextSize];

    // 2. Sample rate: the Hz range and the label follow the effect's rate. The rate they were
    // set for is kept apart from LastSampleRate, which the bridge overwrites on idle with the
    // rate of the latest block: a rate change the idle copy brought first must still reach them.
    if (fEffectRateKnown) {
        const double rate = fEffectSampleRate;
        if (LastSampleRate != rate || fShownSampleRate != rate) {
            LastSampleRate = rate;
            fShownSampleRate = rate;
            HzType.SetMax(int32_t(std::nearbyint(LastSampleRate / 2)));
            ql::formatFixed(fSampleRateText, sizeof fSampleRateText, LastSampleRate, 0);
            AppendText(fSampleRateText, " kHz");
            fkHzLabel->SetCaption(fSampleRateText);
        }
    }

    // 3. Host tempo.
    PrintTempo(fHostTempoText, HostTempo);
    AppendText(fHostTempoText, " BPM");
    fBPMLabel->SetCaption(fHostTempoText);

    // 4. Host sync: without the host's time the sync button cannot be used.
    fHostCanSyncLabel->SetCaption(HostCanSync ? "Host Sync: YES" : "Host Sync: NO ");
    const uint8_t opacity = HostCanSync ? 255 : 100;
    if (fTempoSyncButton->Opacity() != opacity) fTempoSyncButton->SetOpacity(opacity);
    if (fTempoSyncButton->Enabled() != HostCanSync) fTempoSyncButton->SetEnabled(HostCanSync);

    // 5. Manual-tempo indicator.
    if (fManualImage->Visible() != !SyncActive) fManualImage->SetVisible(!SyncActive);

    // 6. Sync tempo.
    PrintTempo(text, SyncTempo);
    StoreIfChanged(fSyncTempoText, text);
    fBpmSyncLabel->SetCaption(fSyncTempoText);

    // 7. Whole-note length: the millisecond texts follow the tempo.
    ql::formatInteger(text, sizeof text, MsRange);
    if (StoreIfChanged(fWholeNoteText, text)) {
        MsType.SetMax(MsRange);
        BidiMsType.SetMax(MsRange);
    }
    fMilliLabel->SetCaption(fWholeNoteText);

    // 8. Hidden diagnostics.
    fGateDebugLabel->SetCaption(GateDebug ? "Gate: ON " : "Gate: OFF");
    fLevelLinkLabel->SetCaption(LevelLinkDebug ? "LevelLink: ON " : "LevelLink: OFF");
    PrintTempo(text, DuckerDebug);
    StoreIfChanged(fDuckerText, text);
    fDuckerDebugLabel->SetCaption(fDuckerText);

    // 9. Controls.
    for (int i = 0; i < kRefreshedCount; ++i)
        fComponents[size_t(i)]->UpdateControl();

    // 10. A link button that is down switches its link on; one that is up leaves it as it is.
    for (const auto& [linkButton, group] : fLinkButtons)
        if (linkButton->Down()) fLinks[size_t(group)]->SetLinked(true);
}

void TPluginEditorWindow::Send(int32_t index, float value) {
    if (Effect) Effect->setParameterAutomated(index, value);
}

template <class T> T* TPluginEditorWindow::ComponentAt(const TComponent* sender) const {
    if (!sender) return nullptr;
    const intptr_t tag = sender->Tag();
    if (tag < 0 || tag >= kParameterCount) return nullptr;
    return dynamic_cast<T*>(fComponents[size_t(tag)].get());
}

QLClinkedPComponent* TPluginEditorWindow::LinkOfMember(int32_t index) const {
    QLClinkedPComponent* found = nullptr;
    for (const auto& link : fLinks)
        if (link->FirstIndex() == index || link->SecondIndex() == index) found = link.get();
    return found;
}

void TPluginEditorWindow::SimpleButtonClick(TComponent* sender) {
    if (Updating) return;
    auto* c = ComponentAt<QLCbuttonPComponent>(sender);
    if (!c) return;
    c->Toggle();
    Send(c->Index, c->ReadControl());
}

void TPluginEditorWindow::SimpleKnobChange(TComponent* sender) {
    if (Updating) return;
    auto* c = ComponentAt<QLCpComponent>(sender);
    if (!c) return;
    Send(c->Index, c->ReadControl());
}

void TPluginEditorWindow::SimpleSliderChange(TComponent* sender) {
    SimpleKnobChange(sender);
}

void TPluginEditorWindow::LinkedSliderChange(TComponent* sender) {
    if (Updating || !sender) return;
    const auto t = int32_t(sender->Tag());
    QLClinkedPComponent* link = LinkOfMember(t);
    if (!link) return;
    const int32_t a = link->FirstIndex();
    Send(a, link->SyncFirst(t));
    const int32_t b = link->SecondIndex();
    Send(b, link->SyncSecond(t));
}

void TPluginEditorWindow::LinkedKnobChange(TComponent* sender) {
    LinkedSliderChange(sender);
}

void TPluginEditorWindow::LinkButtonClick(TComponent* sender) {
    if (Updating || !sender) return;
    const auto t = int32_t(sender->Tag());
    QLClinkedPComponent* link = nullptr;
    for (const auto& l : fLinks)
        if (l->ButtonIndex() == t) link = l.get();
    if (!link) return;
    link->Toggle();
    const int32_t i = link->ButtonIndex();
    Send(i, fComponents[size_t(i)]->ReadControl());
    const int32_t b = link->SecondIndex();
    Send(b, fComponents[size_t(b)]->ReadControl());
}

void TPluginEditorWindow::FitButtonClick(TComponent* sender) {
    if (Updating) return;
    auto* fitParameter = ComponentAt<QLCbuttonPComponent>(sender);
    if (!fitParameter) return;
    fitParameter->Toggle();
    const int32_t i = fitParameter->Index;
    Send(i, fitParameter->Value);
    const int32_t time = i == ql::LeftDelayFit    ? ql::LeftDelayTime
                         : i == ql::RightDelayFit ? ql::RightDelayTime
                                                  : -1;
    if (time < 0) return;
    auto* delay = dynamic_cast<QLCfitSlider2LabelsPComponent*>(fComponents[size_t(time)].get());
    if (!delay) return;
    delay->ToggleFit();
    Send(time, delay->ReadControl());
}

void TPluginEditorWindow::LogoImageClick(TComponent*) {
    if (Updating) return;
}

void TPluginEditorWindow::BackSideImageClick(TComponent*) {
    if (Updating) return;
    FrontSideContainer->SetVisible(true);
}
