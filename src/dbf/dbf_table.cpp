#include "dbf/dbf_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>

#include "dbf/dbf_bytes.h"
#include "os/atomic_file.h"
#include "os/date_stamp.h"
#include "os/error.h"

namespace pasarela {
namespace {

using namespace dbf;

constexpr std::size_t kPendingLimit = 1 << 16;
constexpr std::size_t kWindowBytes = std::size_t{1} << 18;
constexpr char kDriverName[] = "DBWINUS0";

void StampDate(unsigned char* header)
{
    const std::tm today = LocalTime(std::chrono::system_clock::now());
    header[1] = static_cast<unsigned char>(std::clamp(today.tm_year, 0, 255));
    header[2] = static_cast<unsigned char>(today.tm_mon + 1);
    header[3] = static_cast<unsigned char>(today.tm_mday);
}

void CheckFieldSpec(const FieldSpec& spec)
{
    if (spec.name.empty() || spec.name.size() > 31 ||
        !std::all_of(spec.name.begin(), spec.name.end(),
                     [](char c) { return c > ' ' && static_cast<unsigned char>(c) < 0x7F; }))
        throw Error("Nombre de campo no válido: '" + spec.name + "'");
    if (spec.kind == FieldKind::Character && (spec.width < 1 || spec.width > 254))
        throw Error("El campo '" + spec.name + "' debe tener entre 1 y 254 caracteres");
}

}  // namespace

std::string_view DialectName(DbfDialect dialect)
{
    switch (dialect) {
    case DbfDialect::DBase3: return "dBase III";
    case DbfDialect::DBase4: return "dBase IV";
    case DbfDialect::DBase7: return "dBase 7";
    case DbfDialect::FoxPro: return "FoxPro";
    case DbfDialect::VisualFoxPro: return "Visual FoxPro";
    }
    return "dBase";
}

void DbfTable::Create(const std::filesystem::path& path, std::span<const FieldSpec> fields)
{
    if (fields.empty())
        throw Error("Una tabla necesita al menos un campo: " + DisplayPath(path));
    std::vector<unsigned char> header(kLevel7HeaderSize + kLevel7DescriptorSize * fields.size() + 1, 0);
    std::uint32_t recordLength = 1;
    unsigned char* descriptor = header.data() + kLevel7HeaderSize;
    for (const FieldSpec& spec : fields) {
        CheckFieldSpec(spec);
        char type = 'C';
        int length = spec.width;
        switch (spec.kind) {
        case FieldKind::Character: type = 'C'; break;
        case FieldKind::Logical: type = 'L'; length = 1; break;
        case FieldKind::Integer: type = 'I'; length = 4; break;
        case FieldKind::Float: type = 'O'; length = 8; break;
        }
        std::memcpy(descriptor, spec.name.data(), spec.name.size());
        descriptor[32] = static_cast<unsigned char>(type);
        descriptor[33] = static_cast<unsigned char>(length);
        recordLength += static_cast<std::uint32_t>(length);
        descriptor += kLevel7DescriptorSize;
    }
    *descriptor = kHeaderEnd;
    if (recordLength > 0xFFFF)
        throw Error("Los campos de la tabla " + DisplayPath(path) + " son demasiado anchos");
    header[0] = 0x04;
    StampDate(header.data());
    WriteU16(header.data() + 8, static_cast<std::uint32_t>(header.size()));
    WriteU16(header.data() + 10, recordLength);
    std::memcpy(header.data() + 32, kDriverName, sizeof kDriverName - 1);
    header.push_back(kFileEnd);

    AtomicFile out(path);
    out.Write(std::string_view(reinterpret_cast<const char*>(header.data()), header.size()));
    // Not synced here: a table is synced when it is closed after being written, and an
    // import publishes its tables only after that.
    out.Commit(AtomicFile::Durability::Unsynced);
}

DbfTable DbfTable::Open(const std::filesystem::path& path, const OpenOptions& options)
{
    DbfTable table;
    table.path_ = path;
    table.access_ = options.access;
    table.decimalSeparator_ = options.decimalSeparator;
    table.file_ = File::Open(path, options.access == Access::Read ? File::Mode::Read : File::Mode::ReadWrite);
    std::uint64_t size = table.file_.Size();
    std::vector<unsigned char> head(static_cast<std::size_t>(std::min<std::uint64_t>(size, 0xFFFF + 1)));
    head.resize(table.file_.ReadAt(0, head.data(), head.size()));
    table.header_ = DbfHeader::Parse(head, size, path);
    if (options.codePage)
        table.header_.codePage = *options.codePage;
    table.pendingFirst_ = table.header_.recordCount;
    return table;
}

DbfTable& DbfTable::operator=(DbfTable&& other) noexcept
{
    // The destructor closes this table, writing what it had pending; the defaulted move
    // constructor then takes every member of the other, so no member can be forgotten.
    if (this != &other) {
        std::destroy_at(this);
        std::construct_at(this, std::move(other));
    }
    return *this;
}
DbfTable::~DbfTable()
{
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; callers that care call Close() themselves.
    }
}

std::string DbfTable::Name() const { return DisplayPath(path_.filename()); }

void DbfTable::Close()
{
    if (!file_.IsOpen())
        return;
    if (modified_) {
        FlushPending();
        std::uint64_t end = header_.headerLength + static_cast<std::uint64_t>(header_.recordCount) * header_.recordLength;
        const unsigned char eof = kFileEnd;
        file_.WriteAt(end, &eof, 1);
        file_.Truncate(end + 1);
        unsigned char header[8];
        file_.ReadAt(0, header, 8);
        StampDate(header);
        WriteU32(header + 4, static_cast<std::uint32_t>(header_.recordCount));
        file_.WriteAt(0, header, 8);
        modified_ = false;
    }
    // Also when nothing was posted: Create leaves a new table unsynced for this moment.
    if (access_ == Access::ReadWrite)
        file_.Sync();
    file_.Close();
    records_.clear();
    records_.shrink_to_fit();
    loaded_ = false;
}

std::optional<std::size_t> DbfTable::FindField(std::string_view name) const
{
    for (std::size_t i = 0; i < header_.fields.size(); ++i)
        if (EqualsIgnoreCase(header_.fields[i].name, name))
            return i;
    return std::nullopt;
}

std::size_t DbfTable::FieldIndex(std::string_view name) const
{
    if (auto index = FindField(name))
        return *index;
    throw Error("La tabla " + Name() + " no tiene el campo '" + std::string(name) + "'");
}

void DbfTable::LoadRecords() const
{
    if (loaded_)
        return;
    const_cast<DbfTable*>(this)->FlushPending();
    records_.resize(header_.recordCount * header_.recordLength);
    std::size_t got = file_.ReadAt(header_.headerLength, records_.data(), records_.size());
    if (got != records_.size())
        throw Error("No se pudo leer la tabla " + Name() + ": el archivo termina antes de lo esperado");
    loaded_ = true;
}

void DbfTable::FlushPending()
{
    if (pending_.empty())
        return;
    file_.WriteAt(header_.headerLength + static_cast<std::uint64_t>(pendingFirst_) * header_.recordLength, pending_.data(),
                  pending_.size());
    pendingFirst_ += pending_.size() / header_.recordLength;
    pending_.clear();
}

const unsigned char* DbfTable::RecordData(std::size_t record) const
{
    if (access_ == Access::Read)
        return WindowRecord(record);
    LoadRecords();
    return records_.data() + record * header_.recordLength;
}

// A table only read is read a window of records at a time, so a timetable of a million
// rows costs a window of memory, not the whole table.
const unsigned char* DbfTable::WindowRecord(std::size_t record) const
{
    const std::size_t length = header_.recordLength;
    const std::size_t held = length == 0 ? 0 : records_.size() / length;
    if (record < windowFirst_ || record >= windowFirst_ + held) {
        const std::size_t count = std::min(std::max<std::size_t>(kWindowBytes / length, 1), header_.recordCount - record);
        records_.resize(count * length);
        const std::size_t got =
            file_.ReadAt(header_.headerLength + static_cast<std::uint64_t>(record) * length, records_.data(), records_.size());
        if (got != records_.size()) {
            records_.clear();
            throw Error("No se pudo leer la tabla " + Name() + ": el archivo termina antes de lo esperado");
        }
        windowFirst_ = record;
    }
    return records_.data() + (record - windowFirst_) * length;
}

bool DbfTable::IsDeleted(std::size_t record) const { return *RecordData(record) == '*'; }

void DbfTable::First()
{
    position_ = 0;
    while (position_ < header_.recordCount && IsDeleted(position_))
        ++position_;
}

void DbfTable::Next()
{
    if (position_ < header_.recordCount)
        ++position_;
    while (position_ < header_.recordCount && IsDeleted(position_))
        ++position_;
}

bool DbfTable::Eof() const { return position_ >= header_.recordCount; }

void DbfTable::GoTo(std::size_t recordNumber)
{
    if (recordNumber < 1 || recordNumber > header_.recordCount)
        throw Error("La tabla " + Name() + " no tiene el registro " + std::to_string(recordNumber));
    position_ = recordNumber - 1;
}

const DbfField& DbfTable::CheckedField(std::size_t field) const
{
    if (field >= header_.fields.size())
        throw Error("La tabla " + Name() + " no tiene el campo número " + std::to_string(field + 1));
    return header_.fields[field];
}

std::string_view DbfTable::Raw(std::size_t field) const
{
    const DbfField& f = CheckedField(field);
    if (Eof())
        throw Error("La tabla " + Name() + " no tiene registro actual");
    const unsigned char* data = RecordData(position_) + 1 + f.offset;
    return std::string_view(reinterpret_cast<const char*>(data), f.length);
}

std::string_view DbfTable::RecordBytes() const
{
    if (Eof())
        throw Error("La tabla " + Name() + " no tiene registro actual");
    const unsigned char* data = RecordData(position_) + 1;
    return std::string_view(reinterpret_cast<const char*>(data), header_.recordLength - 1);
}

std::string DbfTable::Context(std::size_t field) const
{
    std::string context = Name();
    if (!Eof())
        context += ", registro " + std::to_string(RecordNumber());
    if (field < header_.fields.size())
        context += ", campo " + header_.fields[field].name;
    return context;
}

void DbfTable::Fail(std::size_t field, const std::string& message) const
{
    throw Error(Context(field) + ": " + message);
}

bool DbfTable::HoldsOverflow(std::size_t field) const
{
    const DbfField& f = CheckedField(field);
    if (!CodecFor(f.type).numberText)
        return false;
    const std::string_view text = Trim(Raw(field), Blanks::SpaceAndNul);
    return !text.empty() && AllBytes(text, '*');
}

DbfFieldAccess DbfTable::FieldAccess(std::size_t field, const unsigned char* record) const
{
    const std::size_t nullFlags = header_.nullFlagsField;
    return DbfFieldAccess{
        .field = header_.fields[field],
        .index = field,
        .visualFoxPro = IsVisualFoxPro(),
        .codePage = header_.codePage,
        .decimalSeparator = decimalSeparator_,
        .record = record,
        .nullFlags = nullFlags < header_.fields.size() ? &header_.fields[nullFlags] : nullptr,
        .table = this,
        .fail = &DbfTable::FailFor,
    };
}

void DbfTable::FailFor(const void* table, std::size_t field, DbfFaultScope scope, const std::string& message)
{
    const auto& self = *static_cast<const DbfTable*>(table);
    switch (scope) {
    case DbfFaultScope::Bare: throw Error(message);
    case DbfFaultScope::Table: throw Error("La tabla " + self.Name() + ": " + message);
    case DbfFaultScope::Record: self.Fail(field, message);
    }
    throw Error(message);
}

DbfValue DbfTable::Value(std::size_t field) const
{
    const std::string_view raw = Raw(field);  // checks the field and the cursor
    const DbfField& f = header_.fields[field];
    const auto* record = reinterpret_cast<const unsigned char*>(raw.data()) - f.offset;
    DbfValue value;
    CodecFor(f.type).decode(FieldAccess(field, record), raw, value);
    return value;
}

namespace {

std::string ValueText(DbfValue value, char decimalSeparator)
{
    char buffer[40];
    switch (value.kind) {
    case DbfValue::Kind::Empty: return {};
    case DbfValue::Kind::Text: return std::move(value.text);
    case DbfValue::Kind::Integer: return std::to_string(value.integer);
    case DbfValue::Kind::Number: return FormatNumber(value.number, decimalSeparator);
    case DbfValue::Kind::Logical: return value.logical ? "T" : "F";
    case DbfValue::Kind::Date:
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", value.year, value.month, value.day);
        return buffer;
    case DbfValue::Kind::DateTime:
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", value.year, value.month, value.day,
                      value.hour, value.minute, value.second);
        return buffer;
    }
    return {};
}

}  // namespace

std::string DbfTable::AsString(std::size_t field) const { return ValueText(Value(field), decimalSeparator_); }

std::string_view DbfTable::AppendingText(std::size_t field, std::string& buffer) const
{
    const DbfField& f = CheckedField(field);
    if (!appending_)
        throw Error("La tabla " + Name() + ": no hay registro nuevo (falta Append)");
    const std::string_view raw(reinterpret_cast<const char*>(current_.data()) + 1 + f.offset, f.length);
    if (f.type == 'C') {
        const std::string_view text = WithoutFill(raw);
        if (IsAsciiText(text))
            return text;
    }
    DbfValue value;
    CodecFor(f.type).decode(FieldAccess(field, current_.data() + 1), raw, value);
    buffer = ValueText(std::move(value), decimalSeparator_);
    return buffer;
}

std::string_view DbfTable::Text(std::size_t field, std::string& buffer) const
{
    const DbfField& f = CheckedField(field);
    if (f.type == 'C') {
        const std::string_view text = WithoutFill(Raw(field));
        if (IsAsciiText(text))
            return text;
    }
    buffer = AsString(field);
    return buffer;
}

std::int32_t DbfTable::AsInteger(std::size_t field) const
{
    double number = 0;
    DbfValue value = Value(field);
    switch (value.kind) {
    case DbfValue::Kind::Empty:
        return 0;
    case DbfValue::Kind::Integer:
        number = static_cast<double>(value.integer);
        break;
    case DbfValue::Kind::Number:
        number = value.number;
        break;
    case DbfValue::Kind::Text:
        number = AsFloat(field);
        break;
    default:
        Fail(field, "el campo no es numérico");
    }
    if (std::trunc(number) != number || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max())
        Fail(field, "'" + FormatNumber(number, decimalSeparator_) + "' no es un número entero válido");
    return static_cast<std::int32_t>(number);
}

double DbfTable::AsFloat(std::size_t field) const
{
    DbfValue value = Value(field);
    switch (value.kind) {
    case DbfValue::Kind::Empty: return 0;
    case DbfValue::Kind::Integer: return static_cast<double>(value.integer);
    case DbfValue::Kind::Number: return value.number;
    case DbfValue::Kind::Text: {
        // Numbers kept in character fields are plausible in other programs' tables, with
        // either mark.
        std::string_view text = Trim(value.text, Blanks::SpaceAndNul);
        if (text.empty())
            return 0;
        auto parsed = TryParseNumber(text, ',');
        if (!parsed)
            Fail(field, "'" + value.text + "' no es un número válido");
        return *parsed;
    }
    default:
        Fail(field, "el campo no es numérico");
    }
}

std::optional<bool> DbfTable::AsLogical(std::size_t field) const
{
    DbfValue value = Value(field);
    if (value.kind == DbfValue::Kind::Logical)
        return value.logical;
    if (value.kind == DbfValue::Kind::Empty)
        return std::nullopt;
    Fail(field, "el campo no es lógico");
}

void DbfTable::Append()
{
    if (access_ != Access::ReadWrite)
        throw Error("La tabla " + Name() + " está abierta solo para lectura");
    if (blank_.empty()) {
        blank_.assign(header_.recordLength, 0);
        blank_[0] = ' ';
        for (std::size_t i = 0; i < header_.fields.size(); ++i) {
            const DbfField& f = header_.fields[i];
            CodecFor(f.type).blank(FieldAccess(i, nullptr), &blank_[1 + f.offset]);
        }
    }
    current_ = blank_;
    appending_ = true;
}

unsigned char* DbfTable::PendingField(std::size_t field)
{
    const DbfField& f = CheckedField(field);
    if (!appending_)
        throw Error("La tabla " + Name() + ": no hay registro nuevo (falta Append)");
    return &current_[1 + f.offset];
}

StoreNote DbfTable::Store(std::size_t field, const DbfInput& input)
{
    unsigned char* out = PendingField(field);
    return CodecFor(header_.fields[field].type).encode(FieldAccess(field, nullptr), input, out);
}

StoreNote DbfTable::StoreString(std::size_t field, std::string_view text)
{
    return Store(field, DbfInput::Text(text));
}

void DbfTable::SetInteger(std::size_t field, std::int32_t value)
{
    Store(field, DbfInput::Integer(value));
}

void DbfTable::SetFloat(std::size_t field, double value)
{
    PendingField(field);
    if (!std::isfinite(value))
        throw Error(Context(field) + ": valor no finito");
    Store(field, DbfInput::Float(value));
}

void DbfTable::SetLogical(std::size_t field, bool value)
{
    Store(field, DbfInput::Logical(value));
}

void DbfTable::Post()
{
    if (!appending_)
        throw Error("La tabla " + Name() + ": no hay registro nuevo (falta Append)");
    if (loaded_)
        records_.insert(records_.end(), current_.begin(), current_.end());
    pending_.insert(pending_.end(), current_.begin(), current_.end());
    ++header_.recordCount;
    appending_ = false;
    modified_ = true;
    if (pending_.size() >= kPendingLimit)
        FlushPending();
}

}  // namespace pasarela