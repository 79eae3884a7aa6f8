// The parameter names users type after --param. The plug-in does not tell a host these names (it
// names only index 0), so the tool keeps them; each name is spelled by the effect's own index
// enumerator, so a name can never point at the wrong index. Only the header is used: nothing of
// the effect is linked into the tool.
#pragma once

#include "effect/parameters.h"

namespace qlrender {

struct NamedParameter {
    const char* name;
    int index;
};

#define QL_NAMED(p) NamedParameter{#p, ql::p}
inline constexpr NamedParameter kNamedParameters[] = {
    QL_NAMED(DryLevel),           QL_NAMED(DryOn),
    QL_NAMED(LeftDelayLevel),     QL_NAMED(LeftDelayOn),
    QL_NAMED(DelayLevelLink),     QL_NAMED(RightDelayLevel),
    QL_NAMED(RightDelayOn),       QL_NAMED(LeftDelayTime),
    QL_NAMED(LeftDelayFit),       QL_NAMED(DelayTimeLink),
    QL_NAMED(RightDelayTime),     QL_NAMED(RightDelayFit),
    QL_NAMED(InitialDelayOn),     QL_NAMED(LeftInitialDelayTime),
    QL_NAMED(RightInitialDelayTime), QL_NAMED(LeftFilterOn),
    QL_NAMED(LeftFilterFreq),     QL_NAMED(LeftFilterReso),
    QL_NAMED(FilterFreqLink),     QL_NAMED(RightFilterOn),
    QL_NAMED(RightFilterFreq),    QL_NAMED(RightFilterReso),
    QL_NAMED(LeftFeedbackOn),     QL_NAMED(LeftFeedbackLevel),
    QL_NAMED(FeedbackLink),       QL_NAMED(RightFeedbackOn),
    QL_NAMED(RightFeedbackLevel), QL_NAMED(HiCutOn),
    QL_NAMED(HiCutFreq),          QL_NAMED(LoCutOn),
    QL_NAMED(LoCutFreq),          QL_NAMED(DuckerOn),
    QL_NAMED(DuckerRange),        QL_NAMED(DuckerSpeed),
    QL_NAMED(GateOn),             QL_NAMED(GateThreshold),
    QL_NAMED(GateSpeed),          QL_NAMED(TempoSync),
    QL_NAMED(ManualTempo),        QL_NAMED(FilterResoLink),
};
#undef QL_NAMED

// The name of parameter `index`, or null for the spare indices that have none.
inline const char* parameterName(int index) {
    for (const auto& p : kNamedParameters)
        if (p.index == index) return p.name;
    return nullptr;
}

} // namespace qlrender
