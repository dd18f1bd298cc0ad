#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace pasarela {

// The moment as the user's regional settings write it: the short date, one blank, then
// the long time (15/03/2013 09:05:07 in Spain). DASTENO shows it as the export's date.
std::string UserDateTimeText(std::chrono::system_clock::time_point when);

// The form used where no regional settings exist (the C or POSIX locale): day/month/
// four-digit year and 24-hour time, as a Spanish Windows writes it.
std::string PlainDateTimeText(const std::tm& local);

// The local calendar time of a moment.
std::tm LocalTime(std::chrono::system_clock::time_point when);

}  // namespace pasarela
