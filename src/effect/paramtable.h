// One row per parameter index: what every part of the system knows about a parameter. The VST 2
// answers do not come from here (they stay "Gain"/empty names, "%" labels and two decimals); the
// titles and the kinds' texts are what hosts of the other formats show.
#pragma once

#include "effect/parameters.h"

#include <cstddef>
#include <string_view>

namespace ql {

// What a value means, and so how hosts print and read it.
enum class ParamKind : unsigned char {
    Switch,        // "On" at exactly 1.0, "Off" otherwise
    Level,         // linear gain, printed in dB ("-inf dB" at 0)
    DelayTime,     // whole notes, printed in sixteenths with their milliseconds at the tempo
    InitialOffset, // value - 0.5 whole notes, printed like a delay time
    Frequency,     // printed in Hz or kHz, value 1 being half the sample rate
    Resonance,     // percent
    Range,         // percent
    Speed,         // percent
    Threshold,     // linear amplitude, printed in dB
    Tempo,         // thousands of beats per minute, printed in BPM
    Link,          // a switch tying a left and a right control
    Fit,           // a switch snapping a delay time to whole sixteenths
    Spare,         // no control, no effect on the sound; kept in programs and state
};

struct ParamInfo {
    // The name used in code; it is also the stable symbol (LV2 port symbols, --param names).
    const char* name;
    // The name hosts of the other formats show.
    const char* title;
    ParamKind kind;
    float defaultValue;
    int index;

    constexpr const char* symbol() const { return name; }
    constexpr bool isSpare() const { return kind == ParamKind::Spare; }
    // Two-state parameters: hosts should offer them as toggles, on only at 1.0.
    constexpr bool isStepped() const {
        return kind == ParamKind::Switch || kind == ParamKind::Link || kind == ParamKind::Fit;
    }
};

#define QL_PARAM(p, title, kind, value)                                                            \
    { #p, title, ParamKind::kind, value, p }
#define QL_SPARE(n)                                                                                \
    { "Spare" #n, "Spare " #n, ParamKind::Spare, 0.0f, n }
// The defaults are what a fresh ("Init") program holds; 0.4f, 0.3f and 0.14f are the floats
// nearest those decimals.
inline constexpr ParamInfo kParamTable[] = {
    QL_PARAM(DryLevel, "Dry Level", Level, 1.0f),
    QL_PARAM(DryOn, "Dry On", Switch, 0.0f),
    QL_PARAM(LeftDelayLevel, "Left Delay Level", Level, 1.0f),
    QL_PARAM(LeftDelayOn, "Left Delay On", Switch, 1.0f),
    QL_PARAM(DelayLevelLink, "Delay Level Link", Link, 1.0f),
    QL_PARAM(RightDelayLevel, "Right Delay Level", Level, 1.0f),
    QL_PARAM(RightDelayOn, "Right Delay On", Switch, 1.0f),
    QL_PARAM(LeftDelayTime, "Left Delay Time", DelayTime, 0.5f),
    QL_SPARE(8),
    QL_SPARE(9),
    QL_PARAM(LeftDelayFit, "Left Delay Fit", Fit, 0.0f),
    QL_PARAM(DelayTimeLink, "Delay Time Link", Link, 0.0f),
    QL_PARAM(RightDelayTime, "Right Delay Time", DelayTime, 0.5f),
    QL_SPARE(13),
    QL_SPARE(14),
    QL_PARAM(RightDelayFit, "Right Delay Fit", Fit, 0.0f),
    QL_PARAM(InitialDelayOn, "Initial Delay On", Switch, 0.0f),
    QL_PARAM(LeftInitialDelayTime, "Left Initial Delay", InitialOffset, 0.5f),
    QL_SPARE(18),
    QL_PARAM(RightInitialDelayTime, "Right Initial Delay", InitialOffset, 0.5f),
    QL_SPARE(20),
    QL_PARAM(LeftFilterOn, "Left Filter On", Switch, 0.0f),
    QL_PARAM(LeftFilterFreq, "Left Filter Frequency", Frequency, 1.0f),
    QL_SPARE(23),
    QL_PARAM(LeftFilterReso, "Left Filter Resonance", Resonance, 0.0f),
    QL_PARAM(FilterFreqLink, "Filter Frequency Link", Link, 1.0f),
    QL_PARAM(RightFilterOn, "Right Filter On", Switch, 0.0f),
    QL_PARAM(RightFilterFreq, "Right Filter Frequency", Frequency, 1.0f),
    QL_SPARE(28),
    QL_PARAM(RightFilterReso, "Right Filter Resonance", Resonance, 0.0f),
    QL_PARAM(LeftFeedbackOn, "Left Feedback On", Switch, 1.0f),
    QL_PARAM(LeftFeedbackLevel, "Left Feedback Level", Level, 0.4f),
    QL_PARAM(FeedbackLink, "Feedback Link", Link, 1.0f),
    QL_PARAM(RightFeedbackOn, "Right Feedback On", Switch, 1.0f),
    QL_PARAM(RightFeedbackLevel, "Right Feedback Level", Level, 0.4f),
    QL_PARAM(HiCutOn, "Hi Cut On", Switch, 0.0f),
    QL_PARAM(HiCutFreq, "Hi Cut Frequency", Frequency, 1.0f),
    QL_SPARE(37),
    QL_PARAM(LoCutOn, "Lo Cut On", Switch, 0.0f),
    QL_PARAM(LoCutFreq, "Lo Cut Frequency", Frequency, 0.0f),
    QL_SPARE(40),
    QL_PARAM(DuckerOn, "Ducker On", Switch, 0.0f),
    QL_PARAM(DuckerRange, "Ducker Range", Range, 0.3f),
    QL_PARAM(DuckerSpeed, "Ducker Speed", Speed, 0.5f),
    QL_SPARE(44),
    QL_SPARE(45),
    QL_PARAM(GateOn, "Gate On", Switch, 0.0f),
    QL_PARAM(GateThreshold, "Gate Threshold", Threshold, 0.0f),
    QL_PARAM(GateSpeed, "Gate Speed", Speed, 0.3f),
    QL_SPARE(49),
    QL_SPARE(50),
    QL_PARAM(TempoSync, "Tempo Sync", Switch, 1.0f),
    QL_PARAM(ManualTempo, "Manual Tempo", Tempo, 0.14f),
    QL_PARAM(FilterResoLink, "Filter Resonance Link", Link, 0.0f),
    QL_SPARE(54),
    QL_SPARE(55),
    QL_SPARE(56),
    QL_SPARE(57),
    QL_SPARE(58),
    QL_SPARE(59),
    QL_SPARE(60),
    QL_SPARE(61),
    QL_SPARE(62),
    QL_SPARE(63),
    QL_SPARE(64),
    QL_SPARE(65),
    QL_SPARE(66),
    QL_SPARE(67),
    QL_SPARE(68),
    QL_SPARE(69),
    QL_SPARE(70),
    QL_SPARE(71),
    QL_SPARE(72),
    QL_SPARE(73),
    QL_SPARE(74),
    QL_SPARE(75),
    QL_SPARE(76),
    QL_SPARE(77),
    QL_SPARE(78),
    QL_SPARE(79),
};
#undef QL_PARAM
#undef QL_SPARE

static_assert(std::size(kParamTable) == kNumParams, "one row per parameter index");

namespace detail {
// Each row sits at its own index: a named row at its enumerator's, a spare row at its number.
constexpr bool rowsInPlace() {
    int named = 0;
    for (int i = 0; i < kNumParams; ++i) {
        if (kParamTable[i].index != i) return false;
        if (!kParamTable[i].isSpare()) ++named;
    }
    return named == kNumNamedParams;
}
} // namespace detail
static_assert(detail::rowsInPlace(), "the table's rows follow the parameter enumeration");

constexpr const ParamInfo& paramInfo(int index) {
    return kParamTable[index];
}

// The index whose code name is `name` (letter case ignored), or -1.
int findParam(std::string_view name);

// What the texts depend on besides the value: the tempo's whole note and the sample rate.
struct ParamTextContext {
    double sampleRate = 44100.0;
    int wholeNoteMs = 0; // 0: milliseconds are not shown and cannot be typed
};

// The text a host shows for `value` of parameter `index` ("On", "-6.0 dB", "6.0/16 (375 ms)",
// "441 Hz", "22.1 kHz", "40 %", "140 BPM"); returns its length. Cut to `capacity`, always
// terminated. An index outside 0..79 gives an empty text.
size_t formatParamValue(int index, float value, const ParamTextContext& context, char* out,
                        size_t capacity);

// Reads what a user typed for parameter `index` into a normalised value. Understands the printed
// texts and the usual ways of typing them ("-6 dB", "-inf", "50 %", "375 ms", "3/16", "1/4",
// "On", "2.5k", "2500 Hz", "96 BPM"); a number beyond the parameter's range is clamped to it.
// Anything else is refused (false), never guessed.
bool parseParamValue(int index, std::string_view text, const ParamTextContext& context,
                     float& value);

} // namespace ql
