#include "sys/userlocale.h"

#include <windows.h>

namespace ql::sys {

char userDecimalSeparator() {
    char buffer[8] = {};
    const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof(buffer));
    // Only a one-byte separator can stand in an 8-bit text.
    return (n == 2 && buffer[0] != '\0') ? buffer[0] : '.';
}

} // namespace ql::sys
