#include "os/locale_settings.h"

#include <langinfo.h>
#include <locale.h>

namespace pasarela {

char UserDecimalSeparator()
{
    // A locale object of its own, built from LC_ALL / LC_NUMERIC / LANG, leaves the
    // process locale (still "C" unless someone called setlocale) untouched.
    const locale_t userLocale = newlocale(LC_NUMERIC_MASK, "", locale_t{});
    if (userLocale == locale_t{})
        return '.';  // the environment names a locale this system does not have
    const char* const radix = nl_langinfo_l(RADIXCHAR, userLocale);
    // A separator outside ASCII (several UTF-8 bytes) cannot be given as one char.
    const char separator = radix != nullptr ? radix[0] : '\0';
    freelocale(userLocale);
    const auto code = static_cast<unsigned char>(separator);
    return code > 32 && code < 127 ? separator : '.';
}

}  // namespace pasarela
