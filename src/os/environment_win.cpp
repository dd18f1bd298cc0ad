#include "os/environment.h"

#include <windows.h>

#include <cstdlib>

namespace pasarela {

std::optional<std::string> GetEnvironment(const char* name)
{
    std::wstring wideName(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = _wgetenv(wideName.c_str());
    if (value == nullptr)
        return std::nullopt;
    auto utf8 = std::filesystem::path(value).u8string();
    return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

std::filesystem::path DefaultWorkingDirectory() { return std::filesystem::path(L"C:\\VTEMP"); }

void PrepareConsole()
{
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace pasarela
