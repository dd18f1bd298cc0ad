#include "os/environment.h"

#include <cstdlib>

namespace pasarela {

std::optional<std::string> GetEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::filesystem::path DefaultWorkingDirectory()
{
    std::filesystem::path prefix;
    if (auto wine = GetEnvironment("WINEPREFIX"); wine && !wine->empty())
        prefix = PathFromUtf8(*wine);
    else if (auto home = GetEnvironment("HOME"); home && !home->empty())
        prefix = PathFromUtf8(*home) / ".wine";
    else
        prefix = ".wine";
    return prefix / "drive_c" / "VTEMP";
}

void PrepareConsole() {}

}  // namespace pasarela
