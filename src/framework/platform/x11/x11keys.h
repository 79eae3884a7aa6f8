// Key translation for the X11 backend: X key symbols to the framework's virtual-key numbers and to
// typed characters. Pure functions, no connection needed.
#pragma once

#include <cstdint>

// The virtual-key number of an unshifted key symbol, 0 for keys the framework has no number for.
uint16_t X11KeySymToVirtualKey(unsigned long keysym);

// The character a key symbol types, 0 for none (function and cursor keys, modifiers).
char32_t X11KeySymToChar(unsigned long keysym);
