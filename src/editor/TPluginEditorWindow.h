// The effect's editor window: built from the stored form, it binds every parameter index to its
// controls through parameter-linked components, polls the effect on a 100 ms timer and sends the
// user's gestures back as automated parameter changes.
//
// Threads: the user-interface thread only. The editor bridge hands it the values that changed
// and the effect's timing on its idle calls; the window never reads the effect.
#pragma once

#include "framework/forms.h"
#include "shell/editortiming.h"
#include "valuemodel/qlcvaluescale.h"
#include "valuemodel/qlcvaluetype.h"

#include <array>
#include <cstdint>
#include <memory>

class APlugin;
class TLabel;
class TDIBTimer;
class TDIBImage;
class TDIBContainer;
class TDIBGlyphButton;
class QLCpComponent;
class QLClinkedPComponent;

class TPluginEditorWindow : public TForm {
  public:
    static constexpr int kParameterCount = 80;
    static constexpr int kLinkCount = 5;
    static constexpr int kLinkSlot = 80; // Components slot of link group 0
    // Components 0..54 are the ones the refresh moves; the rest have no control.
    static constexpr int kRefreshedCount = 55;
    static constexpr size_t kTextSize = 21;

    // A borderless child of parentWindow (the host's native window) on platform (null: the
    // default platform), with every control of the stored form. owner is normally null.
    TPluginEditorWindow(TComponent* owner, TNativeHandle parentWindow,
                        IPlatform* platform = nullptr);
    ~TPluginEditorWindow() override;
    std::string_view ClassName() const override { return "TPluginEditorWindow"; }

    // Stores value (normalised) for parameter index 0..79 in its component (a slider's label
    // shows it at once); other indices are ignored.
    void SetParameterValue(int32_t index, float value);
    // The effect's timing, for the fields below and the sample rate the refresh shows.
    void SetTiming(const TEditorTiming& timing);

    // The answer to the window system's erase-background request: 0, nothing painted (the
    // window paints every pixel itself, so erasing would only flicker).
    static constexpr int32_t EraseBackground() { return 0; }

    // The refresh (timer `updater`) and the control handlers the form binds by name.
    void UpdaterTimer(TComponent* sender);
    void SimpleButtonClick(TComponent* sender);
    void SimpleKnobChange(TComponent* sender);
    void SimpleSliderChange(TComponent* sender);
    void LinkedSliderChange(TComponent* sender);
    void LinkedKnobChange(TComponent* sender);
    void LinkButtonClick(TComponent* sender);
    void FitButtonClick(TComponent* sender);
    void LogoImageClick(TComponent* sender);
    void BackSideImageClick(TComponent* sender);

    // The component of parameter index 0..79, and the link of group 0..4 (slot 80 + group).
    QLCpComponent& Component(int index) const { return *fComponents.at(size_t(index)); }
    QLClinkedPComponent& Link(int group) const { return *fLinks.at(size_t(group)); }

    // The effect the user's gestures are sent to, not owned; null until the editor bridge sets it.
    APlugin* Effect = nullptr;

    // From SetTiming, which the editor bridge calls on every idle call; read by the refresh.
    double LastSampleRate = 0;
    float SyncTempo = 0; // BPM
    float HostTempo = 0; // BPM
    int32_t MsRange = 0; // milliseconds of one whole note at the sync tempo
    bool HostCanSync = false;
    bool SyncActive = false;

    // True only while the refresh runs: control events it causes are not sent.
    bool Updating = false;

    // Diagnostics shown in hidden labels; nothing sets them.
    bool GateDebug = false;
    bool LevelLinkDebug = false;
    float DuckerDebug = 0;

    // Members of the stored form the bridge and the refresh use (owned by the form).
    TDIBTimer* updater = nullptr;
    TDIBContainer* FrontSideContainer = nullptr;
    TDIBContainer* BackSideContainer = nullptr;

    // The shared scales and value types the components map and format with.
    QLCvalueScale LinearScale;
    QLCsquareValueScale SquareScale;
    QLCcubicValueScale CubeScale;
    QLCexp4ValueScale FourthPowerScale;
    QLCinvertValueScale InvertedScale;
    QLCsquareInvertValueScale InvertedSquareScale;
    QLCpercentValueType PercentType;
    QLCmsValueType MsType{4800};
    QLCbidiMsValueType BidiMsType{4800};
    QLCrhythmValueType RhythmType{16};
    QLCbidiRhythmValueType BidiRhythmType{16};
    QLCdbValueType DbType;
    QLChzValueType HzType{0};

  private:
    void BindComponents();
    // Sends (index, value) to the effect as an automated change.
    void Send(int32_t index, float value);
    // The component at a control's Tag when it is of class T, else null.
    template <class T> T* ComponentAt(const TComponent* sender) const;
    // The link whose first or second member is index (the last such), or null.
    QLClinkedPComponent* LinkOfMember(int32_t index) const;

    std::array<std::unique_ptr<QLCpComponent>, kParameterCount> fComponents;
    std::array<std::unique_ptr<QLClinkedPComponent>, kLinkCount> fLinks;

    // The effect's own sample rate, once the bridge has told it, and the rate the Hz type's
    // range and kHzLabel were last set for.
    bool fEffectRateKnown = false;
    double fEffectSampleRate = 0;
    double fShownSampleRate = 0;

    char fSampleRateText[kTextSize] = {};
    char fHostTempoText[kTextSize] = {};
    char fSyncTempoText[kTextSize] = {};
    char fWholeNoteText[kTextSize] = {};
    char fDuckerText[kTextSize] = {};

    TLabel* fkHzLabel = nullptr;
    TLabel* fBPMLabel = nullptr;
    TLabel* fHostCanSyncLabel = nullptr;
    TLabel* fBpmSyncLabel = nullptr;
    TLabel* fMilliLabel = nullptr;
    TLabel* fGateDebugLabel = nullptr;
    TLabel* fLevelLinkLabel = nullptr;
    TLabel* fDuckerDebugLabel = nullptr;
    TDIBGlyphButton* fTempoSyncButton = nullptr;
    TDIBImage* fManualImage = nullptr;
    // Link buttons whose down state switches their link on at every refresh, with the group.
    std::array<std::pair<TDIBGlyphButton*, int>, 4> fLinkButtons{};
};
