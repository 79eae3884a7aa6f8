// What the LV2 plug-in, its UI and the Turtle generator must agree on: the URIs and the port
// layout. Both are part of the plug-in's identity: hosts store them in sessions, so they never
// change (new ports only ever go at the end).
#pragma once

#include "effect/paramtable.h"

#include <array>

namespace ql::lv2 {

#define QL_LV2_URI "https://quillantrope.audio/lv2/quillantrope"
inline constexpr const char* kPluginUri = QL_LV2_URI;
inline constexpr const char* kUiUri = QL_LV2_URI "#ui";
// Factory program N is the preset QL_LV2_URI "#programN".
inline constexpr const char* kPresetUriPrefix = QL_LV2_URI "#program";
// State keys: the saved state's blob, and the program a preset selects.
inline constexpr const char* kStateKey = QL_LV2_URI "#state";
inline constexpr const char* kProgramKey = QL_LV2_URI "#factoryProgram";
#undef QL_LV2_URI

enum Port : unsigned {
    kInLeft = 0,
    kInRight = 1,
    kOutLeft = 2,
    kOutRight = 3,
    kControl = 4,    // atom sequence: time:Position
    kFirstParam = 5, // then one control input per named parameter, in index order
};

// The parameter index of each control port after kFirstParam: the named parameters, in order.
inline constexpr std::array<int, kNumNamedParams> kControlParams = [] {
    std::array<int, kNumNamedParams> params{};
    int n = 0;
    for (const ParamInfo& info : kParamTable)
        if (!info.isSpare()) params[static_cast<std::size_t>(n++)] = info.index;
    return params;
}();

inline constexpr unsigned kNumPorts = kFirstParam + kNumNamedParams;

// The control port of a parameter index, or -1 for a spare one.
constexpr int portOfParam(int index) {
    for (int k = 0; k < kNumNamedParams; ++k)
        if (kControlParams[static_cast<std::size_t>(k)] == index) return int(kFirstParam) + k;
    return -1;
}

} // namespace ql::lv2
