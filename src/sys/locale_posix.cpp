#include "sys/userlocale.h"

#include <langinfo.h>
#include <locale.h>

namespace ql::sys {

char userDecimalSeparator() {
    // "" takes LC_ALL, LC_NUMERIC or LANG from the environment, as the user set them.
    locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return '.';
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    const char separator = (radix && radix[0] != '\0' && radix[1] == '\0') ? radix[0] : '.';
    freelocale(loc);
    return separator;
}

} // namespace ql::sys
