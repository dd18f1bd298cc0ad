#pragma once

// What the header and the codecs both speak of: a field and the layout of its file. Kept
// apart so the codecs need not know the header, which asks them about every field.

#include <cstdint>
#include <string>

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

}  // namespace pasarela
