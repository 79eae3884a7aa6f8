#include "valuemodel/qlcparametercomponent.h"

#include "dibcontrols/cDIBButton.h"
#include "dibcontrols/cDIBKnob.h"
#include "dibcontrols/cDIBSlider.h"
#include "framework/stdctrls.h"
#include "valuemodel/qlcvaluescale.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// Nearest integer, halves to even (the default rounding mode). Out-of-range results and NaN, which
// a value from outside 0..1 could produce without a scale, saturate instead of being undefined.
int32_t RoundToInt32(double x) {
    if (std::isnan(x)) return 0;
    const double r = std::nearbyint(x);
    if (r <= double(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (r >= double(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return int32_t(r);
}

int32_t PositionFor(const QLCvalueScale* scale, float value, int32_t max) {
    const double fraction = scale ? double(scale->ToPosition(value)) : double(value);
    return RoundToInt32(fraction * double(max));
}

float ValueFor(const QLCvalueScale* scale, int32_t position, int32_t max) {
    const float fraction = float(double(position) / double(max));
    return scale ? scale->FromPosition(fraction) : fraction;
}

// Formats value into text and the label's caption. The buffer starts as the previous text, as a
// type that writes nothing leaves it.
void ShowText(const QLCvalueType* type, float value, QLCtext& text, TLabel* label) {
    char buffer[QLCtext::Size];
    const std::string previous = text.Load();
    std::memcpy(buffer, previous.c_str(), previous.size() + 1);
    if (type) type->ToText(buffer, value);
    buffer[QLCtext::Size - 1] = '\0';
    text.Store(buffer);
    if (label) label->SetCaption(buffer);
}

} // namespace

void QLCtext::Store(const char* text) {
    size_t i = 0;
    for (; i + 1 < Size && text[i] != '\0'; ++i)
        fBytes[i] = text[i];
    fBytes[i] = '\0';
}

std::string QLCtext::Load() const {
    std::string out;
    for (size_t i = 0; i + 1 < Size; ++i) {
        const char c = fBytes[i];
        if (c == '\0') break;
        out.push_back(c);
    }
    return out;
}

QLCbuttonPComponent::QLCbuttonPComponent(int32_t index, TAbstractDIBButton* button)
    : QLCpComponent(index), Button(button) {
    if (Button) Button->SetTag(Index);
}

void QLCbuttonPComponent::UpdateControl() {
    const bool down = Value == 1.0f;
    if (Button && Button->Down() != down) Button->SetDown(down);
}

void QLCbuttonPComponent::Toggle() {
    Value = Value == 1.0f ? 0.0f : 1.0f;
}

QLClabelPComponent::QLClabelPComponent(int32_t index, TLabel* label, QLCvalueType* type)
    : QLCpComponent(index), Label(label), Type(type) {}

void QLClabelPComponent::UpdateControl() {
    RefreshText();
}

void QLClabelPComponent::SetValue(float x) {
    Value = x;
    RefreshText();
}

void QLClabelPComponent::RefreshText() {
    ShowText(Type, Value, Text, Label);
}

QLCknobLabelPComponent::QLCknobLabelPComponent(int32_t index, TLabel* label, QLCvalueType* type,
                                               TCustomDIBKnob* knob, QLCvalueScale* scale)
    : QLClabelPComponent(index, label, type), Knob(knob), Scale(scale) {
    if (Knob) Knob->SetTag(Index);
}

void QLCknobLabelPComponent::UpdateControl() {
    if (Knob) {
        const int32_t position = PositionFor(Scale, Value, Knob->Max());
        if (position != Knob->Position()) Knob->SetPosition(position);
    }
    RefreshText();
}

void QLCknobLabelPComponent::SetValue(float x) {
    Value = x;
}

float QLCknobLabelPComponent::ReadControl() {
    // A knob whose Max was forced to 0 or below has no travel to read: keep Value.
    if (Knob && Knob->Max() > 0) Value = ValueFor(Scale, Knob->Position(), Knob->Max());
    RefreshText();
    return Value;
}

QLCsliderLabelPComponent::QLCsliderLabelPComponent(int32_t index, TLabel* label, QLCvalueType* type,
                                                   TCustomDIBSlider* slider, QLCvalueScale* scale)
    : QLClabelPComponent(index, label, type), Slider(slider), Scale(scale) {
    if (Slider) Slider->SetTag(Index);
}

void QLCsliderLabelPComponent::UpdateControl() {
    if (Slider) {
        const int32_t position = PositionFor(Scale, Value, Slider->Max());
        if (position != Slider->Position()) Slider->SetPosition(position);
    }
    RefreshText();
}

void QLCsliderLabelPComponent::SetValue(float x) {
    Value = x;
    RefreshText();
}

float QLCsliderLabelPComponent::ReadControl() {
    if (Slider && Slider->Max() > 0) Value = ValueFor(Scale, Slider->Position(), Slider->Max());
    RefreshText();
    return Value;
}

QLCknob2LabelsPComponent::QLCknob2LabelsPComponent(int32_t index, TLabel* label, QLCvalueType* type,
                                                   TLabel* label2, QLCvalueType* type2,
                                                   TCustomDIBKnob* knob, QLCvalueScale* scale)
    : QLCknobLabelPComponent(index, label, type, knob, scale), Label2(label2), Type2(type2) {}

void QLCknob2LabelsPComponent::RefreshText() {
    QLCknobLabelPComponent::RefreshText();
    ShowText(Type2, Value, Text2, Label2);
}

QLCslider2LabelsPComponent::QLCslider2LabelsPComponent(int32_t index, TLabel* label,
                                                       QLCvalueType* type, TLabel* label2,
                                                       QLCvalueType* type2,
                                                       TCustomDIBSlider* slider,
                                                       QLCvalueScale* scale)
    : QLCsliderLabelPComponent(index, label, type, slider, scale), Label2(label2), Type2(type2) {}

void QLCslider2LabelsPComponent::RefreshText() {
    QLCsliderLabelPComponent::RefreshText();
    ShowText(Type2, Value, Text2, Label2);
}

QLCfitSlider2LabelsPComponent::QLCfitSlider2LabelsPComponent(
    int32_t index, TLabel* label, QLCvalueType* type, TLabel* label2, QLCrhythmValueType* type2,
    TCustomDIBSlider* visibleSlider, TCustomDIBSlider* slider, QLCvalueScale* scale,
    TAbstractDIBButton* fitButton)
    : QLCslider2LabelsPComponent(index, label, type, label2, type2, slider, scale),
      FitButton(fitButton), VisibleSlider(visibleSlider), fRhythm(type2) {}

int32_t QLCfitSlider2LabelsPComponent::FitPosition() const {
    if (!Slider) return 0;
    const int32_t p = Slider->Position();
    const int32_t m = Slider->Max();
    const int32_t r = fRhythm ? fRhythm->Max() : 0;
    // No grid to snap to: the position stands.
    if (m <= 0 || r <= 0) return p;
    const double steps = std::nearbyint(double(p) / double(m) * double(r));
    // |p| <= |m| for a slider, so steps stays near r; the saturation only guards a wild Min.
    const int64_t n = steps >= 0x1p62    ? int64_t(1) << 62
                      : steps <= -0x1p62 ? -(int64_t(1) << 62)
                                         : int64_t(steps);
    return RoundToInt32(double(n * int64_t(m)) / double(r));
}

void QLCfitSlider2LabelsPComponent::UpdateControl() {
    if (VisibleSlider) {
        const int32_t position = PositionFor(Scale, Value, VisibleSlider->Max());
        if (position != VisibleSlider->Position()) VisibleSlider->SetPosition(position);
        if (Slider) Slider->SetPosition(VisibleSlider->Position());
    }
    RefreshText();
}

void QLCfitSlider2LabelsPComponent::SetValue(float x) {
    Value = x;
    QLCslider2LabelsPComponent::RefreshText();
}

float QLCfitSlider2LabelsPComponent::ReadControl() {
    if (Slider && Slider->Max() > 0) {
        int32_t p;
        if (Fit) {
            p = FitPosition();
            if (VisibleSlider) VisibleSlider->SetPosition(p);
        } else {
            p = Slider->Position();
        }
        Value = ValueFor(Scale, p, Slider->Max());
    }
    RefreshText();
    return Value;
}

void QLCfitSlider2LabelsPComponent::RefreshText() {
    QLCslider2LabelsPComponent::RefreshText();
    if (VisibleSlider && Slider)
        VisibleSlider->SetPosition(Fit ? FitPosition() : Slider->Position());
}

void QLCfitSlider2LabelsPComponent::ToggleFit() {
    Fit = !Fit;
    if (Fit && Slider) Slider->SetPosition(FitPosition());
    UpdateControl();
}

QLClinkedPComponent::QLClinkedPComponent(int32_t group, QLClabelPComponent* first,
                                         QLClabelPComponent* second, QLCbuttonPComponent* button)
    : Group(group), First(first), Second(second), Button(button) {}

void QLClinkedPComponent::Toggle() {
    if (Linked) {
        Linked = false;
    } else {
        Linked = true;
        Second->SetValue(First->Value);
        Second->UpdateControl();
    }
    if (Button) Button->Toggle();
}

int32_t QLClinkedPComponent::FirstIndex() const {
    return First->Index;
}
int32_t QLClinkedPComponent::SecondIndex() const {
    return Second->Index;
}
int32_t QLClinkedPComponent::ButtonIndex() const {
    return Button ? Button->Index : -1;
}

float QLClinkedPComponent::SyncFirst(int32_t changedIndex) {
    if (Linked && changedIndex == Second->Index) {
        const float x = Second->ReadControl();
        First->SetValue(x);
        First->UpdateControl();
    }
    return First->ReadControl();
}

float QLClinkedPComponent::SyncSecond(int32_t changedIndex) {
    if (Linked && changedIndex == First->Index) {
        const float x = First->ReadControl();
        Second->SetValue(x);
        Second->UpdateControl();
    }
    return Second->ReadControl();
}
