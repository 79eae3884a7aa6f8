// The 80 parameter indices. What each one is, is in the parameter table (effect/paramtable.h).
#pragma once

namespace ql {

constexpr int kNumParams = 80;
constexpr int kNumPrograms = 40;
// The parameters that have a control or an effect on the sound; the others are spare.
constexpr int kNumNamedParams = 40;

enum ParamIndex : int {
    DryLevel = 0,
    DryOn = 1,
    LeftDelayLevel = 2,
    LeftDelayOn = 3,
    DelayLevelLink = 4,
    RightDelayLevel = 5,
    RightDelayOn = 6,
    LeftDelayTime = 7,
    LeftDelayFit = 10,
    DelayTimeLink = 11,
    RightDelayTime = 12,
    RightDelayFit = 15,
    InitialDelayOn = 16,
    LeftInitialDelayTime = 17,
    RightInitialDelayTime = 19,
    LeftFilterOn = 21,
    LeftFilterFreq = 22,
    LeftFilterReso = 24,
    FilterFreqLink = 25,
    RightFilterOn = 26,
    RightFilterFreq = 27,
    RightFilterReso = 29,
    LeftFeedbackOn = 30,
    LeftFeedbackLevel = 31,
    FeedbackLink = 32,
    RightFeedbackOn = 33,
    RightFeedbackLevel = 34,
    HiCutOn = 35,
    HiCutFreq = 36,
    LoCutOn = 38,
    LoCutFreq = 39,
    DuckerOn = 41,
    DuckerRange = 42,
    DuckerSpeed = 43,
    GateOn = 46,
    GateThreshold = 47,
    GateSpeed = 48,
    TempoSync = 51,
    ManualTempo = 52,
    FilterResoLink = 53,
};

// The value every parameter has in a fresh ("Init") program (the parameter table's default).
float defaultParameterValue(int index);

// A switch parameter is on exactly at 1.0; 0.999 is off.
inline bool isOn(float value) {
    return value == 1.0f;
}

} // namespace ql
