#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"
#include "platform/text_index.h"

namespace pasarela {

// The four kinds of field that Orlavi's tables are made of.
enum class FieldKind { Character, Logical, Integer, Float };

// One field of a table to create. `width` counts only for character fields (1 to 254).
struct FieldSpec {
    std::string name;
    FieldKind kind = FieldKind::Character;
    int width = 0;
};

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

// A dBase table: our own engine, because Orlavi reads the level-7 layout that its
// database engine writes by default and no library we may use writes it.
//
// Tables we create are level 7 (version 0x04, language driver DBWINUS0, Windows-1252).
// Tables we open may be dBase III/IV/V/7 or FoxPro/Visual FoxPro. An open table is held
// for exclusive use until Close() or destruction.
class DbfTable {
public:
    enum class Access { Read, ReadWrite };

    struct OpenOptions {
        Access access = Access::Read;
        // Overrides the code page found in the header (language driver byte or name).
        std::optional<CodePage> codePage;
        // Decimal mark of number texts given by AsString and accepted by SetString.
        char decimalSeparator = '.';
    };

    // Creates an empty level-7 table with exactly these fields in this order, replacing
    // any file of that name (written aside, then renamed). Throws Error on bad field
    // definitions or when the file cannot be written or is in use.
    static void Create(const std::filesystem::path& path, std::span<const FieldSpec> fields);

    // Opens a table for exclusive use. Throws Error naming the file when it is missing,
    // in use, or not a table we can read.
    static DbfTable Open(const std::filesystem::path& path, const OpenOptions& options);
    static DbfTable Open(const std::filesystem::path& path) { return Open(path, OpenOptions{}); }

    DbfTable(DbfTable&&) noexcept;
    DbfTable& operator=(DbfTable&&) noexcept;
    DbfTable(const DbfTable&) = delete;
    DbfTable& operator=(const DbfTable&) = delete;
    ~DbfTable();

    // Writes pending records and the header, then releases the file. Throws Error when
    // the data cannot be written; closing twice does nothing.
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    const std::filesystem::path& Path() const { return path_; }
    std::string Name() const;  // file name, for messages
    DbfDialect Dialect() const { return dialect_; }
    std::uint8_t VersionByte() const { return version_; }
    CodePage TextCodePage() const { return codePage_; }
    const std::string& LanguageDriver() const { return languageDriver_; }
    const std::vector<DbfField>& Fields() const { return fields_; }
    // Oddities met while opening (lying record count, ...); the table is still usable.
    const std::vector<std::string>& Warnings() const { return warnings_; }

    // Index of the first field with this name, ignoring letter case (field names in
    // other programs' files vary in case). Throws Error when there is none.
    std::size_t FieldIndex(std::string_view name) const;
    std::optional<std::size_t> FindField(std::string_view name) const;

    // Records as stored, deleted ones included.
    std::size_t RecordCount() const { return recordCount_; }

    // Scanning in stored order; deleted records are skipped, as Orlavi's engine does.
    void First();
    void Next();
    bool Eof() const;
    // 1-based physical number of the current record, for messages.
    std::size_t RecordNumber() const { return position_ + 1; }
    // Makes current the record with this 1-based physical number, deleted or not.
    // Throws Error when the table has no such record.
    void GoTo(std::size_t recordNumber);

    // Makes current the first record, in stored order, whose field equals `text` exactly
    // (letter case included). Hashed per field on first use. Returns whether one was found.
    bool Locate(std::size_t field, std::string_view text);

    // Reads of the current record.
    DbfValue Value(std::size_t field) const;
    // Whether a number field holds only asterisks, as dBase writers mark a value that did
    // not fit (and some libraries an empty one); Value reads it as empty.
    bool HoldsOverflow(std::size_t field) const;
    // Stored text without its fill blanks; numbers as decimal text; empty values as "".
    std::string AsString(std::size_t field) const;
    // The same text, without a copy where the stored bytes already are it (ASCII in a
    // character field); else built in `buffer`. Valid until the next read or write.
    std::string_view Text(std::size_t field, std::string& buffer) const;
    // Empty reads as 0. Throws Error naming table, record and field for a value that is
    // not a (whole) number.
    std::int32_t AsInteger(std::size_t field) const;
    double AsFloat(std::size_t field) const;
    std::optional<bool> AsLogical(std::size_t field) const;

    // Writing: Append() starts a record with every field empty, the setters fill it,
    // Post() adds it at the end.
    void Append();
    // Character fields: Windows-1252, cut to the width. Integer fields: empty text leaves
    // the field empty, other text must be a whole number ("'%s' is not a valid integer
    // value for field '%s'"). Float fields: empty, or a number.
    StoreNote SetString(std::size_t field, std::string_view text)
    {
        // Inline for the common case, a short ASCII text into a character field, which
        // an import does millions of times.
        if (appending_ && field < fields_.size() && fields_[field].type == 'C' && text.size() <= fields_[field].length &&
            IsAsciiText(text)) {
            unsigned char* out = current_.data() + 1 + fields_[field].offset;
            if (!text.empty())  // an empty view may hold no pointer at all
                std::memcpy(out, text.data(), text.size());
            std::memset(out + text.size(), ' ', fields_[field].length - text.size());
            return {};
        }
        return StoreString(field, text);
    }
    void SetInteger(std::size_t field, std::int32_t value);
    void SetFloat(std::size_t field, double value);
    void SetLogical(std::size_t field, bool value);
    void Post();

private:
    DbfTable() = default;
    void ParseHeader(const std::vector<unsigned char>& head, std::uint64_t fileSize);
    StoreNote StoreString(std::size_t field, std::string_view text);
    void LoadRecords() const;
    void FlushPending();
    bool IsDeleted(std::size_t record) const;
    const unsigned char* RecordData(std::size_t record) const;
    std::string_view Raw(std::size_t field) const;
    const DbfField& CheckedField(std::size_t field) const;
    unsigned char* PendingField(std::size_t field);
    [[noreturn]] void Fail(std::size_t field, const std::string& message) const;
    std::string Context(std::size_t field) const;
    bool IsVisualFoxPro() const { return dialect_ == DbfDialect::VisualFoxPro; }
    // A V field's bytes: as long as its _NullFlags length bit says, else without the fill.
    std::string_view VariableLength(std::size_t field, std::string_view raw) const;

    std::filesystem::path path_;
    File file_;
    Access access_ = Access::Read;
    DbfDialect dialect_ = DbfDialect::DBase3;
    std::uint8_t version_ = 0;
    CodePage codePage_ = CodePage::Windows1252;
    std::string languageDriver_;
    char decimalSeparator_ = '.';
    std::vector<DbfField> fields_;
    std::size_t nullFlagsField_ = static_cast<std::size_t>(-1);  // Visual FoxPro's _NullFlags
    std::vector<std::string> warnings_;
    std::uint32_t headerLength_ = 0;
    std::uint32_t recordLength_ = 0;  // stride between records
    std::size_t recordCount_ = 0;
    std::size_t position_ = 0;

    // Records are read into memory on first use; tables being written keep only a small
    // buffer of posted records, so building a large table costs little memory.
    mutable std::vector<unsigned char> records_;
    mutable bool loaded_ = false;
    std::vector<unsigned char> pending_;
    std::size_t pendingFirst_ = 0;  // record number of the first pending record
    std::vector<unsigned char> current_;
    std::vector<unsigned char> blank_;  // a record with every field empty, made on first use
    bool appending_ = false;
    bool modified_ = false;
    std::unordered_map<std::size_t, TextIndex> indexes_;
};

// Human name of a dialect ("dBase 7", "Visual FoxPro", ...), for the dump.
std::string_view DialectName(DbfDialect dialect);

}  // namespace pasarela
