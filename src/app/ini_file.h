#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pasarela {

// Sets `key` in `section` of a Windows settings file to `value`, changing no other byte
// (line endings, comments, other sections and keys stay as they were). Section and key
// names match without regard to letter case, as Windows reads them; the file, the
// section or the key is created when missing. The file is replaced only once written.
// Throws Error naming the file when it cannot be read or written.
void WriteIniValue(const std::filesystem::path& path, std::string_view section, std::string_view key,
                   std::string_view value);

// The edit itself, on the file's bytes.
std::string UpdateIniText(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value);

}  // namespace pasarela
