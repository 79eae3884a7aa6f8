// What the user's regional settings say about numbers.
#pragma once

namespace ql::sys {
// The decimal separator of the user's number format ('.' when it cannot be told). Reads the
// user's settings without touching the process-wide locale of the host.
char userDecimalSeparator();
} // namespace ql::sys
