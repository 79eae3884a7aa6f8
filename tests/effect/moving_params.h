// The parameters the randomised engine tests move, read off the parameter table: every switch the
// engine reads (the tempo switch aside: these tests run at one tempo) with the delay-time link,
// and every continuous value but the manual tempo.
#pragma once

#include "effect/paramtable.h"

#include <vector>

namespace enginetest {

inline std::vector<int> movingSwitches() {
    std::vector<int> out;
    for (const ql::ParamInfo& row : ql::kParamTable)
        if ((row.kind == ql::ParamKind::Switch && row.index != ql::TempoSync) ||
            row.index == ql::DelayTimeLink)
            out.push_back(row.index);
    return out;
}

inline std::vector<int> movingValues() {
    std::vector<int> out;
    for (const ql::ParamInfo& row : ql::kParamTable)
        if (!row.isStepped() && !row.isSpare() && row.kind != ql::ParamKind::Tempo)
            out.push_back(row.index);
    return out;
}

} // namespace enginetest
