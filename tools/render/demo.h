// The built-in demo input: a few bars of short percussive hits at the tempo the plug-in runs on,
// spaced so that ping-pong echoes are heard between them.
#pragma once

#include <vector>

namespace qlrender {

// Mono samples of the demo at `sampleRate` Hz and `tempo` beats per minute.
std::vector<float> synthesiseDemo(int sampleRate, double tempo);

} // namespace qlrender
