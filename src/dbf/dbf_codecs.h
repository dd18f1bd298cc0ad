#pragma once

// How each type letter of a dBase field is read and written. Every letter the engine
// knows has one entry in one table (dbf_codecs.cpp): what the header may say about it,
// what an empty value looks like, and how its bytes become a value and back. Adding a
// type is adding a line there.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "dbf/dbf_field.h"
#include "text/text.h"

namespace pasarela {

// A value read from a record, typed as the field's letter says.
struct DbfValue {
    enum class Kind { Empty, Text, Integer, Number, Logical, Date, DateTime };
    Kind kind = Kind::Empty;
    std::string text;            // Text
    std::int64_t integer = 0;    // Integer
    double number = 0;           // Number
    bool logical = false;        // Logical
    int year = 0, month = 0, day = 0;              // Date, DateTime
    int hour = 0, minute = 0, second = 0, millisecond = 0;  // DateTime
};

// What storing one text changed in it, so the caller can tell the user.
struct StoreNote {
    bool truncated = false;      // cut to the field's width
    std::size_t replaced = 0;    // characters Windows-1252 cannot hold, stored as '?'
};

// What a complaint about a value is prefixed with when it reaches the user: nothing (the
// texts the import has always shown), the table's name, or table, record and field.
enum class DbfFaultScope { Bare, Table, Record };

// What a codec sees of the table while it reads or writes one field of one record.
struct DbfFieldAccess {
    const DbfField& field;
    std::size_t index;
    bool visualFoxPro;
    CodePage codePage;
    char decimalSeparator;
    // Reading only: the current record after its deletion flag, and Visual FoxPro's
    // _NullFlags field (null when the table has none).
    const unsigned char* record;
    const DbfField* nullFlags;
    // The table's way of throwing, so messages name it as they always have.
    const void* table;
    // Throws; never returns.
    void (*fail)(const void* table, std::size_t field, DbfFaultScope scope, const std::string& message);

    [[noreturn]] void Fail(DbfFaultScope scope, const std::string& message) const
    {
        fail(table, index, scope, message);
        std::terminate();  // not reached: `fail` throws
    }
};

// A value given to a setter, before the field's type decides what becomes of it.
struct DbfInput {
    enum class Kind { Text, Integer, Float, Logical };
    Kind kind = Kind::Text;
    std::string_view text;
    std::int32_t integer = 0;
    double number = 0;
    bool logical = false;

    static DbfInput Text(std::string_view text)
    {
        DbfInput input;
        input.text = text;
        return input;
    }
    static DbfInput Integer(std::int32_t value)
    {
        DbfInput input;
        input.kind = Kind::Integer;
        input.integer = value;
        return input;
    }
    static DbfInput Float(double value)
    {
        DbfInput input;
        input.kind = Kind::Float;
        input.number = value;
        return input;
    }
    static DbfInput Logical(bool value)
    {
        DbfInput input;
        input.kind = Kind::Logical;
        input.logical = value;
        return input;
    }
};

// Plain function pointers, not std::function: a large table is millions of calls.
using DbfDecode = void (*)(const DbfFieldAccess& access, std::string_view raw, DbfValue& value);
using DbfEncode = StoreNote (*)(const DbfFieldAccess& access, const DbfInput& input, unsigned char* out);
using DbfBlank = void (*)(const DbfFieldAccess& access, unsigned char* out);

struct DbfCodec {
    char letter = 0;
    unsigned dialects = 0;        // a bit per DbfDialect in which the letter is known
    std::uint16_t fixedWidth = 0; // 0: as wide as the header says
    unsigned fixedIn = 0;         // the dialects in which fixedWidth holds
    bool longWidth = false;       // FoxPro may keep a high width byte in "decimals"
    bool lengthBit = false;       // Visual FoxPro gives it a length bit in _NullFlags
    bool nullFlags = false;       // Visual FoxPro's _NullFlags itself
    bool numberText = false;      // a number as text, that writers fill with '*' when it does not fit
    DbfBlank blank = nullptr;
    DbfDecode decode = nullptr;
    DbfEncode encode = nullptr;

    bool KnownIn(DbfDialect dialect) const { return (dialects & DialectBit(dialect)) != 0; }
    std::optional<std::uint16_t> FixedWidthIn(DbfDialect dialect) const
    {
        if (fixedWidth == 0 || (fixedIn & DialectBit(dialect)) == 0)
            return std::nullopt;
        return fixedWidth;
    }
    static constexpr unsigned DialectBit(DbfDialect dialect) { return 1u << static_cast<unsigned>(dialect); }
};

// The entry of a type letter; a letter the engine does not know gets one that no dialect
// knows, reads as empty and refuses to be written.
const DbfCodec& CodecFor(char letter);

namespace dbf {
// Shortest decimal text of a number, with `decimalSeparator` as its mark.
std::string FormatNumber(double value, char decimalSeparator);
}  // namespace dbf

}  // namespace pasarela
