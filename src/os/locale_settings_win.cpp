#include "os/locale_settings.h"

#include <windows.h>

namespace pasarela {

char UserDecimalSeparator()
{
    // LOCALE_SDECIMAL is at most four characters including the terminating null.
    wchar_t separator[4] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 4) == 0)
        return '.';
    // A separator outside ASCII cannot be given as one char.
    const wchar_t first = separator[0];
    return first > 32 && first < 127 ? static_cast<char>(first) : '.';
}

}  // namespace pasarela
