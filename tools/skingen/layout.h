// Where the editor's controls and labels sit on the front side (container coordinates), and the
// skin images they draw. The panel artwork is drawn around these places; the preview puts the
// skin images and sample label texts on them.
#pragma once

#include <cstdint>

namespace skin {

struct Rect {
    int x, y, w, h;
    int right() const { return x + w; }
    int bottom() const { return y + h; }
    float cx() const { return x + w / 2.f; }
    float cy() const { return y + h / 2.f; }
};

// Indices into the image list.
enum ImageIndex {
    kSliderHori = 0,
    kSliderVerti,
    kTrackHori,
    kTrackVerti,
    kSyncButton,
    kNoSyncImage,
    kKnob2,
    kManualImage,
    kKnob3,
    kSmallOnButton,
    kLinkButton,
    kOnButton,
    kFitButton,
    kImageCount
};

struct ImageSpec {
    const char* name;
    int w, h;
    bool transparent;
    uint8_t keyR, keyG, keyB; // the key colour; for tmAuto images also the bottom-left pixel
    bool fixedMode;           // tmFixed, else tmAuto
};

inline constexpr ImageSpec kImages[kImageCount] = {
    {"slider hori", 27, 16, false, 49, 49, 49, false},
    {"slider verti", 16, 27, false, 49, 49, 49, false},
    {"trackbar_hori", 3, 16, true, 255, 255, 255, true},
    {"trackbar verti", 16, 3, true, 255, 255, 255, false},
    {"sync button", 60, 20, false, 180, 182, 186, false},
    {"NO SYNC image", 65, 7, false, 141, 141, 151, false},
    {"knob_tiny_2", 1708, 28, true, 128, 129, 128, true},
    {"MANUAL image", 38, 21, false, 188, 50, 53, false},
    {"knob_tiny_3", 1708, 28, true, 128, 129, 128, true},
    {"small on button", 42, 16, false, 180, 182, 186, false},
    {"link button", 60, 20, false, 180, 182, 186, false},
    {"on button", 60, 20, false, 180, 182, 186, false},
    {"fit button", 42, 16, false, 180, 182, 186, false},
};

inline constexpr int kKnobFrames = 61;
inline constexpr int kPanelW = 600, kPanelH = 371;
inline constexpr int kBackW = 436, kBackH = 106;

enum class Kind { Knob, VSlider, HSlider, Button, Image };

struct Control {
    const char* name;
    Kind kind;
    Rect r;
    int image; // glyph, handle or strip
    bool shown = true;
};

// Visible controls in stored order (the hidden delay-time link button is left out).
inline constexpr Control kControls[] = {
    {"TempoSyncButton", Kind::Button, {190, 254, 30, 20}, kSyncButton},
    {"LeftFilterFreqSlider", Kind::VSlider, {144, 58, 16, 95}, kSliderVerti},
    {"RightFilterFreqSlider", Kind::VSlider, {192, 58, 16, 95}, kSliderVerti},
    {"LeftFeedbackLevelSlider", Kind::VSlider, {254, 58, 16, 95}, kSliderVerti},
    {"RightFeedbackLevelSlider", Kind::VSlider, {302, 58, 16, 95}, kSliderVerti},
    {"LeftDelayLevelSlider", Kind::VSlider, {364, 205, 16, 83}, kSliderVerti},
    {"RightDelayLevelSlider", Kind::VSlider, {412, 205, 16, 83}, kSliderVerti},
    {"DryLevelSlider", Kind::VSlider, {462, 205, 16, 83}, kSliderVerti},
    {"HiCutSlider", Kind::HSlider, {260, 202, 76, 16}, kSliderHori},
    {"LoCutSlider", Kind::HSlider, {260, 254, 76, 16}, kSliderHori},
    {"LeftInitialDelayTimeKnob", Kind::Knob, {22, 244, 28, 28}, kKnob2},
    {"RightInitialDelayTimeKnob", Kind::Knob, {83, 244, 28, 28}, kKnob2},
    {"GateThresholdKnob", Kind::Knob, {362, 110, 28, 28}, kKnob2},
    {"GateSpeedKnob", Kind::Knob, {446, 110, 28, 28}, kKnob2},
    {"DuckerSpeedKnob", Kind::Knob, {446, 37, 28, 28}, kKnob2},
    {"DuckerRangeKnob", Kind::Knob, {362, 37, 28, 28}, kKnob2},
    {"LeftFilterResoKnob", Kind::Knob, {132, 179, 28, 28}, kKnob2},
    {"RightFilterResoKnob", Kind::Knob, {193, 179, 28, 28}, kKnob2},
    {"LeftDelayOnButton", Kind::Button, {362, 175, 21, 16}, kSmallOnButton},
    {"RightDelayOnButton", Kind::Button, {409, 175, 21, 16}, kSmallOnButton},
    {"DryOnButton", Kind::Button, {459, 175, 21, 16}, kSmallOnButton},
    {"LeftFilterOnButton", Kind::Button, {142, 28, 21, 16}, kSmallOnButton},
    {"RightFilterOnButton", Kind::Button, {189, 28, 21, 16}, kSmallOnButton},
    {"LeftFeedbackOnButton", Kind::Button, {252, 28, 21, 16}, kSmallOnButton},
    {"RightFeedbackOnButton", Kind::Button, {299, 28, 21, 16}, kSmallOnButton},
    {"FilterFreqLinkButton", Kind::Button, {161, 63, 30, 20}, kLinkButton},
    {"FeedbackLinkButton", Kind::Button, {271, 63, 30, 20}, kLinkButton},
    {"DelayLevelLinkButton", Kind::Button, {381, 210, 30, 20}, kLinkButton},
    {"InitialDelayOnButton", Kind::Button, {52, 231, 30, 20}, kOnButton},
    {"LeftDelayFitButton", Kind::Button, {32, 28, 21, 16}, kFitButton},
    {"RightDelayFitButton", Kind::Button, {79, 28, 21, 16}, kFitButton},
    {"HiCutOnButton", Kind::Button, {237, 202, 21, 16}, kSmallOnButton},
    {"LoCutOnButton", Kind::Button, {237, 254, 21, 16}, kSmallOnButton},
    {"DuckerOnButton", Kind::Button, {404, 28, 30, 20}, kOnButton},
    {"GateOnButton", Kind::Button, {404, 102, 30, 20}, kOnButton},
    {"ManualImage", Kind::Image, {137, 275, 38, 22}, kManualImage},
    {"LeftDelayTimeVisibleSlider", Kind::VSlider, {34, 58, 16, 113}, kSliderVerti},
    {"RightDelayTimeVisibleSlider", Kind::VSlider, {82, 58, 16, 113}, kSliderVerti},
    {"FilterResoLinkButton", Kind::Button, {161, 179, 30, 20}, kLinkButton},
};

enum class LabelStyle { Value, ValueSilver, Status };

struct Label {
    const char* name;
    Rect r;
    LabelStyle style;
    const char* sample; // a typical text, for the preview
};

inline constexpr Label kLabels[] = {
    {"VersionLabel", {520, 39, 23, 10}, LabelStyle::Status, "v0.22alpha"},
    {"kHzLabel", {520, 11, 43, 10}, LabelStyle::Status, "44100 kHz"},
    {"BPMLabel", {520, 20, 25, 10}, LabelStyle::Status, "120.00 BPM"},
    {"LeftDelayTimeInMsLabel", {26, 190, 24, 14}, LabelStyle::Value, "375"},
    {"HostCanSyncLabel", {520, 28, 59, 10}, LabelStyle::Status, "Host Sync: YES"},
    {"RightDelayTimeInMsLabel", {87, 190, 24, 14}, LabelStyle::Value, "500"},
    {"RightFeedbackLevelLabel", {308, 155, 18, 14}, LabelStyle::Value, "45"},
    {"RightDelayLevelLabel", {408, 290, 25, 14}, LabelStyle::Value, "-6,0"},
    {"LeftFeedbackLevelLabel", {247, 155, 18, 14}, LabelStyle::Value, "100"},
    {"LeftDelayLevelLabel", {360, 290, 25, 14}, LabelStyle::Value, "-20,0"},
    {"LeftInitialDelayTimeInMsLabel", {26, 290, 24, 14}, LabelStyle::Value, "0"},
    {"RightInitialDelayTimeInMsLabel", {87, 290, 24, 14}, LabelStyle::Value, "-62"},
    {"DryLevelLabel", {458, 290, 25, 14}, LabelStyle::Value, "0,0"},
    {"LeftFilterFreqLabel", {134, 155, 26, 14}, LabelStyle::Value, "22,1k"},
    {"RightFilterFreqLabel", {195, 155, 26, 14}, LabelStyle::Value, "2,50k"},
    {"LeftFilterResoLabel", {134, 208, 25, 14}, LabelStyle::Value, "30"},
    {"RightFilterResoLabel", {195, 208, 25, 14}, LabelStyle::Value, "100"},
    {"HiCutLabel", {244, 230, 26, 14}, LabelStyle::Value, "18,0k"},
    {"LoCutLabel", {244, 282, 26, 14}, LabelStyle::Value, "80"},
    {"DuckerRangeLabel", {363, 66, 25, 14}, LabelStyle::Value, "50"},
    {"DuckerSpeedLabel", {451, 66, 18, 14}, LabelStyle::Value, "25"},
    {"GateThresholdLabel", {363, 139, 25, 14}, LabelStyle::Value, "-40,0"},
    {"GateSpeedLabel", {451, 139, 18, 14}, LabelStyle::Value, "100"},
    {"LeftDelayTimeRhythmicLabel", {35, 173, 15, 14}, LabelStyle::Value, "6,0"},
    {"RightDelayTimeRhythmicLabel", {96, 173, 15, 14}, LabelStyle::Value, "8,0"},
    {"LeftInitialDelayTimeRhythmicLabel", {35, 273, 15, 14}, LabelStyle::Value, "0,0"},
    {"RightInitialDelayTimeRhythmicLabel", {96, 273, 15, 14}, LabelStyle::Value, "-1,0"},
    {"Label9", {58, 273, 18, 14}, LabelStyle::ValueSilver, "/ 16"},
    {"Label10", {58, 173, 18, 14}, LabelStyle::ValueSilver, "/ 16"},
    {"BpmSyncLabel", {140, 257, 33, 14}, LabelStyle::ValueSilver, "120,00"},
};

// The logo's clickable place, drawn into the panel.
inline constexpr Rect kLogo = {393, 318, 193, 49};

} // namespace skin
