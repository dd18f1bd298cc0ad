#include "os/system_message.h"

#include <windows.h>

namespace pasarela {

std::string SystemMessage(unsigned long error, UnknownSystemError unknown)
{
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' || buffer[length - 1] == L' '))
            --length;
        int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        text.resize(static_cast<std::size_t>(bytes > 0 ? bytes : 0));
        if (bytes > 0)
            WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), text.data(), bytes, nullptr, nullptr);
    }
    if (buffer != nullptr)
        LocalFree(buffer);
    if (text.empty() && unknown == UnknownSystemError::Number)
        text = "error " + std::to_string(error);
    return text;
}

}  // namespace pasarela
