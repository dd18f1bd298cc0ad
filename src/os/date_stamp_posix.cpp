#include "os/date_stamp.h"

#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <time.h>

namespace pasarela {

std::tm LocalTime(std::chrono::system_clock::time_point when)
{
    std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

std::string UserDateTimeText(std::chrono::system_clock::time_point when)
{
    const std::tm local = LocalTime(when);
    // A locale object of our own, so the process locale stays "C" for number parsing.
    const locale_t userLocale = newlocale(LC_TIME_MASK, "", locale_t{});
    if (userLocale == locale_t{})
        return PlainDateTimeText(local);
    // The C and POSIX locales write dates month first with a two-digit year, which a
    // Spanish school would misread; they are the only ones whose date format is this.
    const char* dateFormat = nl_langinfo_l(D_FMT, userLocale);
    std::string text;
    if (dateFormat != nullptr && std::strcmp(dateFormat, "%m/%d/%y") != 0) {
        char buffer[128];
        std::size_t length = strftime_l(buffer, sizeof buffer, "%x %X", &local, userLocale);
        text.assign(buffer, length);
    }
    freelocale(userLocale);
    return text.empty() ? PlainDateTimeText(local) : text;
}

}  // namespace pasarela
