// The floating-point environment the plug-in sets when it is loaded.
#pragma once

namespace ql::sys {
// Masks every floating-point exception (x87 control word 0x133F on 32-bit x86, MXCSR on SSE)
// and keeps rounding to nearest.
void maskFloatingPointExceptions();
} // namespace ql::sys
