// Tempo and whole-note arithmetic of the per-block timing step.
#pragma once

#include <cstdint>

namespace ql {

// A whole note (four beats) in samples: 240 / tempo x sample rate. A tempo that is not a
// finite positive number, or a sample rate that makes the result negative or not a number, gives
// a whole note of 0 samples: every delay then taps the sample one full line old and there is no
// offset, the same as the limit of an endlessly slow tempo.
double samplesPerWholeNote(double tempo, double sampleRate);

// A whole note in milliseconds, round(240000 / tempo) with halves to even; 0 for a tempo that is
// not a finite positive number, at most INT32_MAX for a tiny one.
std::int32_t wholeNoteMillis(double tempo);

// The block position passed to the host's tempo query: rounded halves to even and kept inside
// the 32-bit range the request carries (0 for a position that is not a number).
std::int32_t tempoQueryPosition(double samplePos);

} // namespace ql
