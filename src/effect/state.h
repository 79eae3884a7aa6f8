// The effect's saved state, as the plug-in formats with a session state store it: the current
// program, all 40 programs (names and values) and the 80 current values, as raw float bits.
//
// Version 1, little-endian:
//   offset 0   "QLST"                  magic
//          4   u32 version             1
//          8   u32 header size         28 (bytes before the current values)
//         12   u32 parameter count     80
//         16   u32 program count       40
//         20   u32 name field size     32 (bytes per program name, zero-padded, terminated)
//         24   i32 current program     0..39
//         28   f32 x 80                current values
//        348   40 x (name field, f32 x 80)
// Total 14428 bytes. A blob whose current values differ from its current program's loads with
// the program taking the current values: the current program always holds what is heard.
#pragma once

#include "effect/apluginprogram.h"
#include "effect/parameters.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ql {

// Everything the saved state holds, as plain values.
struct EffectState {
    static constexpr size_t kNameField = APluginProgram::kNameCapacity + 1;
    struct Program {
        char name[kNameField] = {};
        float values[kNumParams] = {};
    };
    std::int32_t currentProgram = 0;
    float values[kNumParams] = {};
    Program programs[kNumPrograms];
};

constexpr std::uint32_t kStateVersion = 1;
constexpr size_t kStateHeaderSize = 28;
constexpr size_t kStateSize =
    kStateHeaderSize + 4 * kNumParams + kNumPrograms * (EffectState::kNameField + 4 * kNumParams);

enum class StateResult {
    Ok,
    Truncated,    // shorter than its header or than the sizes it declares
    BadMagic,     // not a saved state of this effect
    NewerVersion, // written by a later version; refused rather than half read
    BadVersion,   // version 0
    BadSizes,     // counts or sizes that this version never writes, or bytes beyond its end
    BadProgram,   // current program outside 0..39
    BadValue,     // a value outside 0..1 or not finite
    BadName,      // a program name without its terminator
};

// A short English description of a result, for logs and error messages of tools.
const char* describe(StateResult result);

std::vector<std::uint8_t> encodeState(const EffectState& state);
// Reads and checks a whole blob; `out` is written only when the answer is Ok.
StateResult decodeState(const void* data, size_t size, EffectState& out);

} // namespace ql
