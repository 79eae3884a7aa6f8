// Parameter-linked components: each ties one parameter index to the controls that show and change
// it. A component keeps the parameter's normalised value, moves its controls to it, turns a control
// movement back into a value through a value scale and writes the value's text into its labels
// through a value type. It never talks to the effect: the editor window sends what it returns.
//
// Controls, labels, scales and types are borrowed: the window owns them and outlives the
// components. Any of them documented as "may be absent" may be null.
//
// Threads: the user-interface thread only (the editor bridge hands values over on its idle calls).
#pragma once

#include "valuemodel/qlcvaluetype.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TLabel;
class TCustomDIBKnob;
class TCustomDIBSlider;
class TAbstractDIBButton;
class QLCvalueScale;

// The last text a label component produced: TextSize bytes, zero-terminated; read by tests and
// diagnostics.
class QLCtext {
  public:
    static constexpr size_t Size = QLCvalueType::TextSize;
    // Copies at most Size - 1 bytes of text and a terminator.
    void Store(const char* text);
    std::string Load() const;

  private:
    std::array<char, Size> fBytes{};
};

class QLCpComponent {
  public:
    explicit QLCpComponent(int32_t index) : Index(index) {}
    virtual ~QLCpComponent() = default;
    QLCpComponent(const QLCpComponent&) = delete;
    QLCpComponent& operator=(const QLCpComponent&) = delete;

    // Brings the control(s) to Value and refreshes the text.
    virtual void UpdateControl() {}
    // Stores a value coming from the effect.
    virtual void SetValue(float x) { Value = x; }
    // Takes the value from the control position (where there is one) and returns it.
    virtual float ReadControl() { return Value; }

    float Value = 0.0f;
    int32_t Index;
};

// A toggle glyph button: down exactly when Value is 1.
class QLCbuttonPComponent : public QLCpComponent {
  public:
    QLCbuttonPComponent(int32_t index, TAbstractDIBButton* button);

    void UpdateControl() override;
    // Value becomes 0 if it is exactly 1, else 1.
    void Toggle();

    TAbstractDIBButton* Button;
};

// A parameter without a control in this editor.
class QLCradioButtonsPComponent : public QLCpComponent {
  public:
    explicit QLCradioButtonsPComponent(int32_t index) : QLCpComponent(index) {}

    void UpdateControl() override {}
    void SetValue(float x) override { Value = x; }
};

class QLClabelPComponent : public QLCpComponent {
  public:
    QLClabelPComponent(int32_t index, TLabel* label, QLCvalueType* type);

    void UpdateControl() override;
    void SetValue(float x) override;
    // Formats Text from Value and shows it in Label.
    virtual void RefreshText();

    QLCtext Text;
    TLabel* Label;
    QLCvalueType* Type;
};

class QLCknobLabelPComponent : public QLClabelPComponent {
  public:
    QLCknobLabelPComponent(int32_t index, TLabel* label, QLCvalueType* type, TCustomDIBKnob* knob,
                           QLCvalueScale* scale);

    void UpdateControl() override;
    // Stores only: the text catches up at the next UpdateControl.
    void SetValue(float x) override;
    float ReadControl() override;

    TCustomDIBKnob* Knob;
    QLCvalueScale* Scale; // null: identity
};

class QLCsliderLabelPComponent : public QLClabelPComponent {
  public:
    QLCsliderLabelPComponent(int32_t index, TLabel* label, QLCvalueType* type,
                             TCustomDIBSlider* slider, QLCvalueScale* scale);

    void UpdateControl() override;
    void SetValue(float x) override;
    float ReadControl() override;

    TCustomDIBSlider* Slider;
    QLCvalueScale* Scale; // null: identity
};

class QLCknob2LabelsPComponent : public QLCknobLabelPComponent {
  public:
    QLCknob2LabelsPComponent(int32_t index, TLabel* label, QLCvalueType* type, TLabel* label2,
                             QLCvalueType* type2, TCustomDIBKnob* knob, QLCvalueScale* scale);

    void RefreshText() override;

    QLCtext Text2;
    TLabel* Label2;
    QLCvalueType* Type2;
};

class QLCslider2LabelsPComponent : public QLCsliderLabelPComponent {
  public:
    QLCslider2LabelsPComponent(int32_t index, TLabel* label, QLCvalueType* type, TLabel* label2,
                               QLCvalueType* type2, TCustomDIBSlider* slider, QLCvalueScale* scale);

    void RefreshText() override;

    QLCtext Text2;
    TLabel* Label2;
    QLCvalueType* Type2;
};

// The delay time slider with fit-to-grid: in fit mode the transparent Slider is dragged freely
// while VisibleSlider and Value move in whole sixteenths (Type2's Max steps over the range).
class QLCfitSlider2LabelsPComponent : public QLCslider2LabelsPComponent {
  public:
    QLCfitSlider2LabelsPComponent(int32_t index, TLabel* label, QLCvalueType* type, TLabel* label2,
                                  QLCrhythmValueType* type2, TCustomDIBSlider* visibleSlider,
                                  TCustomDIBSlider* slider, QLCvalueScale* scale,
                                  TAbstractDIBButton* fitButton);

    void UpdateControl() override;
    // Stores and formats both texts; the sliders wait for the next UpdateControl, since this may
    // run off the user-interface thread.
    void SetValue(float x) override;
    float ReadControl() override;
    // Both texts, then VisibleSlider to Slider's position (snapped in fit mode).
    void RefreshText() override;

    // Flips Fit; switching on snaps Slider to the grid. Then UpdateControl.
    void ToggleFit();
    // Slider's position snapped to the nearest whole step of Type2's Max.
    int32_t FitPosition() const;

    TAbstractDIBButton* FitButton; // kept for reference; not touched here
    bool Fit = false;
    TCustomDIBSlider* VisibleSlider;

  private:
    QLCrhythmValueType* fRhythm; // Type2, with the Max that sets the grid
};

// Couples a left and a right label component so that their controls move together.
class QLClinkedPComponent {
  public:
    QLClinkedPComponent(int32_t group, QLClabelPComponent* first, QLClabelPComponent* second,
                        QLCbuttonPComponent* button);
    virtual ~QLClinkedPComponent() = default;
    QLClinkedPComponent(const QLClinkedPComponent&) = delete;
    QLClinkedPComponent& operator=(const QLClinkedPComponent&) = delete;

    void SetLinked(bool b) { Linked = b; }
    // Switching on copies First's value to Second; either way the link button's value flips.
    void Toggle();
    int32_t FirstIndex() const;
    int32_t SecondIndex() const;
    int32_t ButtonIndex() const; // -1 without a button component
    // When linked and changedIndex is Second's, First takes Second's control value. Returns
    // First.ReadControl() in any case. SyncSecond is the mirror image.
    float SyncFirst(int32_t changedIndex);
    float SyncSecond(int32_t changedIndex);

    int32_t Group;
    QLClabelPComponent* First;
    QLClabelPComponent* Second;
    bool Linked = false;
    QLCbuttonPComponent* Button;
};
