// Number-to-text conversion shared by the host's display texts and the editor's labels. One
// formatter on every platform, so the same value gives the same bytes everywhere: fixed-point
// texts round halves away from zero on the exact binary value, integer texts round halves to even,
// and the decimal separator is the user's.
#pragma once

#include <cstddef>

namespace ql {

// The decimal separator used by every formatted number ('.' until set). Set once from the user's
// regional settings before the first effect exists; tests set it directly.
char decimalSeparator();
void setDecimalSeparator(char separator);

// Like "%<minWidth>.<decimals>f" (decimals 0..9): the exact value rounded halves away from zero,
// right-aligned in minWidth characters. A value that rounds to zero prints without a minus sign;
// infinities print "INF" and "-INF", not-a-number "NAN". Writes at most capacity bytes including
// the terminator, cutting the text to fit, and returns the length written (0 when capacity is 0).
size_t formatFixed(char* out, size_t capacity, long double value, int decimals, int minWidth = 0);

// formatFixed of the exact quotient value / 10^divisorExponent (0..13), without rounding the
// quotient to binary first: 22050 / 1000 to one decimal is the tie 22.05 and gives "22.1", where
// the nearest long double to 22.05 lies just below it.
size_t formatFixedDivided(char* out, size_t capacity, long double value, int divisorExponent,
                          int decimals, int minWidth = 0);

// Like "%d" of the value first rounded to the nearest integer, halves to even; any magnitude prints
// in full (no integer overflow), non-finite values as formatFixed prints them.
size_t formatInteger(char* out, size_t capacity, long double value);

// Copies text into a buffer of `capacity` bytes, cutting it to fit, always terminated.
size_t copyText(char* out, size_t capacity, const char* text);

} // namespace ql
