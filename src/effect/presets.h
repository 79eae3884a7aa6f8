// The factory presets that fill program slots 0..35.
#pragma once

#include "effect/apluginprogram.h"

#include <memory>

namespace ql {

constexpr int kNumFactoryPresets = 36;

// A new program holding factory preset `slot` (0..35); null for any other slot.
std::unique_ptr<APluginProgram> makeFactoryPreset(int slot);

} // namespace ql
