// The parameter names users type after --param: the code names of the parameter table. The
// plug-in does not tell a VST 2 host these names (it names only index 0), so the tool reads the
// table's header; nothing of the effect is linked into the tool.
#pragma once

#include "effect/paramtable.h"

#include <array>

namespace qlrender {

struct NamedParameter {
    const char* name;
    int index;
};

// The named (non-spare) parameters in index order.
inline constexpr auto kNamedParameters = [] {
    std::array<NamedParameter, ql::kNumNamedParams> named{};
    size_t n = 0;
    for (const ql::ParamInfo& row : ql::kParamTable)
        if (!row.isSpare()) named[n++] = {row.name, row.index};
    return named;
}();

// The name of parameter `index`, or null for the spare indices that have none.
inline const char* parameterName(int index) {
    if (index < 0 || index >= ql::kNumParams || ql::paramInfo(index).isSpare()) return nullptr;
    return ql::paramInfo(index).name;
}

} // namespace qlrender
