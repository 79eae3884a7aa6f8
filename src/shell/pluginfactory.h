// The one effect this library makes.
#pragma once

#include "shell/audioeffect.h"

// Supplied by the effect layer.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);

namespace ql {
// What a VST 2 host's call of the entry point answers: asks the host's version, reads the user's
// decimal separator once, and makes the effect; null for a missing or refusing host or a failure.
AEffect* createVstEffect(audioMasterCallback audioMaster);
} // namespace ql
