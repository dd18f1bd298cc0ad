#include "os/date_stamp.h"

#include <cstdio>

namespace pasarela {

std::string PlainDateTimeText(const std::tm& local)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

}  // namespace pasarela
