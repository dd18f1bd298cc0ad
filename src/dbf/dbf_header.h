#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "dbf/dbf_field.h"
#include "text/text.h"

namespace pasarela {

// What a table's header says, once it has been found consistent with itself and with the
// size of its file: a header that is not is refused here, before any record is read.
struct DbfHeader {
    static constexpr std::size_t kNoField = static_cast<std::size_t>(-1);

    std::uint8_t version = 0;
    DbfDialect dialect = DbfDialect::DBase3;
    CodePage codePage = CodePage::Windows1252;
    std::string languageDriver;  // level 7 only
    std::vector<DbfField> fields;
    std::size_t nullFlagsField = kNoField;  // Visual FoxPro's _NullFlags
    std::uint32_t headerLength = 0;
    std::uint32_t recordLength = 0;  // stride between records
    std::size_t recordCount = 0;
    // Oddities that leave the table readable (lying record count, ...).
    std::vector<std::string> warnings;

    // `bytes` are the file's first bytes (the whole header when the file holds it) and
    // `fileSize` the size of the whole file. Throws Error naming `pathForMessages` when
    // the header is not one we can read.
    static DbfHeader Parse(std::span<const unsigned char> bytes, std::uint64_t fileSize,
                           const std::filesystem::path& pathForMessages);
};

}  // namespace pasarela
