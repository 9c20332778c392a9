#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>

namespace kestavo::platform {

char decimalSeparatorOf(const char* localeName) noexcept {
    // newlocale with "" resolves the environment's LC_ALL / LC_NUMERIC / LANG itself.
    locale_t loc = ::newlocale(LC_NUMERIC_MASK, localeName ? localeName : "", locale_t(nullptr));
    if (loc == locale_t(nullptr)) return '.';
    const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
    char result = '.';
    if (radix && radix[0] != '\0' && radix[1] == '\0' && static_cast<unsigned char>(radix[0]) < 0x80) result = radix[0];
    ::freelocale(loc);
    return result;
}

char decimalSeparator() noexcept { return decimalSeparatorOf(""); }

}  // namespace kestavo::platform
