#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pasarela {

// A path from UTF-8 text, so accented folder names work on every platform.
std::filesystem::path PathFromUtf8(std::string_view utf8);

// An environment variable as UTF-8, or nothing when it is unset.
std::optional<std::string> GetEnvironment(const char* name);

// Orlavi's working folder: C:\VTEMP on Windows; elsewhere the C:\VTEMP of the Wine
// prefix Orlavi runs in ($WINEPREFIX, by default ~/.wine).
std::filesystem::path DefaultWorkingDirectory();

// Makes the console show UTF-8 output correctly (Windows consoles default to an OEM
// code page). Harmless when the output is redirected.
void PrepareConsole();

}  // namespace pasarela
