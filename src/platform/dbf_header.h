#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/text.h"

namespace pasarela {

// A field as stored in a table's header.
struct DbfField {
    std::string name;         // as stored, without the NUL fill
    char type = 'C';          // the type letter as stored ('C', 'N', 'I', 'O', ...)
    std::uint16_t length = 0; // bytes in a record
    std::uint8_t decimals = 0;
    std::uint32_t offset = 0; // from the start of the record, after the deletion flag
    std::uint8_t flags = 0;   // Visual FoxPro: 0x01 hidden, 0x02 nullable, 0x04 binary
    // Visual FoxPro V and Q fields: the bit of _NullFlags that, when set, says the last
    // byte holds the value's length; -1 when there is none.
    int lengthBit = -1;
};

// The file layouts a table can be in, by its version byte.
enum class DbfDialect { DBase3, DBase4, DBase7, FoxPro, VisualFoxPro };

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
