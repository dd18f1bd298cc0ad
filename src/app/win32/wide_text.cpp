#include "app/win32/wide_text.h"

#include <windows.h>

namespace pasarela {

std::wstring Widen(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int length = static_cast<int>(utf8.size());
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), count);
    return wide;
}

std::string Narrow(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int length = static_cast<int>(wide.size());
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), count, nullptr, nullptr);
    return utf8;
}

}  // namespace pasarela
