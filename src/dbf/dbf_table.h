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
#include <utility>
#include <vector>

#include "dbf/dbf_codecs.h"
#include "dbf/dbf_header.h"
#include "os/file.h"
#include "text/text.h"

namespace pasarela {

// The four kinds of field that Orlavi's tables are made of.
enum class FieldKind { Character, Logical, Integer, Float };

// One field of a table to create. `width` counts only for character fields (1 to 254).
struct FieldSpec {
    std::string name;
    FieldKind kind = FieldKind::Character;
    int width = 0;
};

// A dBase table: our own engine, because Orlavi reads the level-7 layout that its
// database engine writes by default and no library we may use writes it.
//
// Tables we create are level 7 (version 0x04, language driver DBWINUS0, Windows-1252).
// Tables we open may be dBase III/IV/V/7 or FoxPro/Visual FoxPro. An open table is held
// for exclusive use until Close() or destruction.
class DbfTable final {
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

    // Members move as the compiler moves them; a moved-from table is closed.
    DbfTable(DbfTable&&) noexcept = default;
    // Closes this table first (writing what it had pending), as the destructor would.
    DbfTable& operator=(DbfTable&& other) noexcept;
    DbfTable(const DbfTable&) = delete;
    DbfTable& operator=(const DbfTable&) = delete;
    ~DbfTable();

    // Writes pending records and the header, then releases the file. Throws Error when
    // the data cannot be written; closing twice does nothing.
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    const std::filesystem::path& Path() const { return path_; }
    std::string Name() const;  // file name, for messages
    DbfDialect Dialect() const { return header_.dialect; }
    std::uint8_t VersionByte() const { return header_.version; }
    CodePage TextCodePage() const { return header_.codePage; }
    const std::string& LanguageDriver() const { return header_.languageDriver; }
    const std::vector<DbfField>& Fields() const { return header_.fields; }
    // Oddities met while opening (lying record count, ...); the table is still usable.
    const std::vector<std::string>& Warnings() const { return header_.warnings; }

    // Index of the first field with this name, ignoring letter case (field names in
    // other programs' files vary in case). Throws Error when there is none.
    std::size_t FieldIndex(std::string_view name) const;
    std::optional<std::size_t> FindField(std::string_view name) const;

    // Records as stored, deleted ones included.
    std::size_t RecordCount() const { return header_.recordCount; }

    // Scanning in stored order; deleted records are skipped, as Orlavi's engine does.
    void First();
    void Next();
    bool Eof() const;
    // 1-based physical number of the current record, for messages.
    std::size_t RecordNumber() const { return position_ + 1; }
    // Makes current the record with this 1-based physical number, deleted or not.
    // Throws Error when the table has no such record.
    void GoTo(std::size_t recordNumber);

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
    // The current record's fields as stored, each at its offset (DbfField::offset) and as
    // wide as its length: for a reader that takes many fields of every record. Valid until
    // the next read or move. Throws Error when there is no current record.
    std::string_view RecordBytes() const;
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
        const std::vector<DbfField>& fields = header_.fields;
        if (appending_ && field < fields.size() && fields[field].type == 'C' && text.size() <= fields[field].length &&
            IsAsciiText(text)) {
            unsigned char* out = current_.data() + 1 + fields[field].offset;
            if (!text.empty())  // an empty view may hold no pointer at all
                std::memcpy(out, text.data(), text.size());
            std::memset(out + text.size(), ' ', fields[field].length - text.size());
            return {};
        }
        return StoreString(field, text);
    }
    void SetInteger(std::size_t field, std::int32_t value);
    void SetFloat(std::size_t field, double value);
    void SetLogical(std::size_t field, bool value);
    // The text a field of the record being appended will read as once posted, as Text
    // gives it; valid until the next read or write.
    std::string_view AppendingText(std::size_t field, std::string& buffer) const;
    void Post();

private:
    // A flag that a move hands over and clears in the table moved from, so that table
    // neither flushes nor reads what it no longer holds.
    class Flag {
    public:
        Flag() = default;
        Flag(Flag&& other) noexcept : value_(std::exchange(other.value_, false)) {}
        Flag& operator=(Flag&& other) noexcept
        {
            value_ = std::exchange(other.value_, false);
            return *this;
        }
        Flag& operator=(bool value) noexcept
        {
            value_ = value;
            return *this;
        }
        operator bool() const noexcept { return value_; }

    private:
        bool value_ = false;
    };

    DbfTable() = default;
    StoreNote StoreString(std::size_t field, std::string_view text);
    StoreNote Store(std::size_t field, const DbfInput& input);
    DbfFieldAccess FieldAccess(std::size_t field, const unsigned char* record) const;
    static void FailFor(const void* table, std::size_t field, DbfFaultScope scope, const std::string& message);
    void LoadRecords() const;
    const unsigned char* WindowRecord(std::size_t record) const;
    void FlushPending();
    bool IsDeleted(std::size_t record) const;
    const unsigned char* RecordData(std::size_t record) const;
    std::string_view Raw(std::size_t field) const;
    const DbfField& CheckedField(std::size_t field) const;
    unsigned char* PendingField(std::size_t field);
    [[noreturn]] void Fail(std::size_t field, const std::string& message) const;
    std::string Context(std::size_t field) const;
    bool IsVisualFoxPro() const { return header_.dialect == DbfDialect::VisualFoxPro; }

    std::filesystem::path path_;
    File file_;
    Access access_ = Access::Read;
    // As read when opening, the code page as the options may override it and the record
    // count as records are posted.
    DbfHeader header_;
    char decimalSeparator_ = '.';
    std::size_t position_ = 0;

    // Records are read into memory on first use, a window at a time in a table only read;
    // tables being written keep only a small buffer of posted records, so building a
    // large table costs little memory.
    mutable std::vector<unsigned char> records_;
    mutable std::size_t windowFirst_ = 0;  // the record at the start of the window
    mutable Flag loaded_;
    std::vector<unsigned char> pending_;
    std::size_t pendingFirst_ = 0;  // record number of the first pending record
    std::vector<unsigned char> current_;
    std::vector<unsigned char> blank_;  // a record with every field empty, made on first use
    Flag appending_;
    Flag modified_;
};

// Human name of a dialect ("dBase 7", "Visual FoxPro", ...), for the dump.
std::string_view DialectName(DbfDialect dialect);

}  // namespace pasarela
