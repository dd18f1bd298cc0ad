#include "platform/dbf_table.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

#include "platform/atomic_file.h"
#include "platform/date_stamp.h"
#include "platform/error.h"

namespace pasarela {
namespace {

constexpr std::size_t kLevel7HeaderSize = 68;
constexpr std::size_t kLevel7DescriptorSize = 48;
constexpr std::size_t kClassicDescriptorSize = 32;
constexpr std::size_t kPendingLimit = 1 << 16;
constexpr unsigned char kHeaderEnd = 0x0D;
constexpr unsigned char kFileEnd = 0x1A;
constexpr char kDriverName[] = "DBWINUS0";

// A character field's text without the blanks (or NULs, from other programs) that fill
// it to its width.
std::string_view WithoutFill(std::string_view raw)
{
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0'))
        raw.remove_suffix(1);
    return raw;
}

// A record number as searches keep it: the header counts records in 32 bits.
std::uint32_t RecordIndex(std::size_t record) { return static_cast<std::uint32_t>(record); }

std::uint16_t ReadU16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t ReadU32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint32_t ReadU32BigEndian(const unsigned char* p)
{
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
std::uint64_t ReadU64BigEndian(const unsigned char* p)
{
    return (static_cast<std::uint64_t>(ReadU32BigEndian(p)) << 32) | ReadU32BigEndian(p + 4);
}
std::uint64_t ReadU64(const unsigned char* p)
{
    return static_cast<std::uint64_t>(ReadU32(p)) | (static_cast<std::uint64_t>(ReadU32(p + 4)) << 32);
}
void WriteU16(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}
void WriteU32(unsigned char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}
void WriteU32BigEndian(unsigned char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>((v >> (24 - 8 * i)) & 0xFF);
}
void WriteU64BigEndian(unsigned char* p, std::uint64_t v)
{
    WriteU32BigEndian(p, static_cast<std::uint32_t>(v >> 32));
    WriteU32BigEndian(p + 4, static_cast<std::uint32_t>(v & 0xFFFFFFFFu));
}

bool AllBytes(std::string_view raw, unsigned char value)
{
    return std::all_of(raw.begin(), raw.end(), [value](char c) { return static_cast<unsigned char>(c) == value; });
}

// Level 7 keeps doubles big-endian with the sign bit flipped (negatives fully
// inverted) so that bytes sort like numbers; eight zero bytes mean "no value".
std::uint64_t EncodeLevel7Double(double value)
{
    if (value == 0)
        value = 0;  // -0.0 would encode as the "no value" pattern
    auto bits = std::bit_cast<std::uint64_t>(value);
    return (bits & 0x8000000000000000ull) ? ~bits : (bits ^ 0x8000000000000000ull);
}
double DecodeLevel7Double(std::uint64_t bits)
{
    bits = (bits & 0x8000000000000000ull) ? (bits ^ 0x8000000000000000ull) : ~bits;
    return std::bit_cast<double>(bits);
}

void StampDate(unsigned char* header)
{
    const std::tm today = LocalTime(std::chrono::system_clock::now());
    header[1] = static_cast<unsigned char>(std::clamp(today.tm_year, 0, 255));
    header[2] = static_cast<unsigned char>(today.tm_mon + 1);
    header[3] = static_cast<unsigned char>(today.tm_mday);
}

// Gregorian calendar date of a Julian day number (Fliegel and Van Flandern).
void CivilFromJulianDay(std::int64_t jdn, int& year, int& month, int& day)
{
    std::int64_t l = jdn + 68569;
    std::int64_t n = 4 * l / 146097;
    l = l - (146097 * n + 3) / 4;
    std::int64_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    std::int64_t j = 80 * l / 2447;
    day = static_cast<int>(l - 2447 * j / 80);
    l = j / 11;
    month = static_cast<int>(j + 2 - 12 * l);
    year = static_cast<int>(100 * (n - 49) + i + l);
}

void SetTimeOfDay(DbfValue& value, std::int64_t milliseconds)
{
    milliseconds = std::clamp<std::int64_t>(milliseconds, 0, 86'399'999);
    value.hour = static_cast<int>(milliseconds / 3'600'000);
    value.minute = static_cast<int>(milliseconds / 60'000 % 60);
    value.second = static_cast<int>(milliseconds / 1000 % 60);
    value.millisecond = static_cast<int>(milliseconds % 1000);
}

std::string FormatNumber(double value, char decimalSeparator)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    for (char& c : text)
        if (c == '.')
            c = decimalSeparator;
    return text;
}

std::string_view TrimBlanksAndNuls(std::string_view raw)
{
    auto isFill = [](char c) { return c == ' ' || c == '\0'; };
    while (!raw.empty() && isFill(raw.front()))
        raw.remove_prefix(1);
    while (!raw.empty() && isFill(raw.back()))
        raw.remove_suffix(1);
    return raw;
}

// Number texts in N and F fields as written by many programs: blanks or NULs around,
// '.' or ',' as the mark, sign and exponent.
std::optional<double> ParseNumericText(std::string_view text)
{
    std::string normal(text);
    std::replace(normal.begin(), normal.end(), ',', '.');
    const char* begin = normal.data();
    const char* end = begin + normal.size();
    if (begin != end && *begin == '+')
        ++begin;
    double value = 0;
    auto result = std::from_chars(begin, end, value);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

CodePage CodePageFromLanguageId(std::uint8_t id, bool& known)
{
    known = true;
    switch (id) {
    case 0x01: case 0x09: case 0x0B: case 0x0D: case 0x0F: case 0x11: case 0x15: case 0x18:
    case 0x19: case 0x1B:
        return CodePage::Dos437;
    case 0x02: case 0x0A: case 0x0E: case 0x10: case 0x12: case 0x14: case 0x16: case 0x1A:
    case 0x1D: case 0x25: case 0x37:
        return CodePage::Dos850;
    case 0x1F: case 0x22: case 0x23: case 0x40: case 0x64: case 0x87:
        return CodePage::Dos852;
    case 0x08: case 0x17: case 0x66:
        return CodePage::Dos865;
    case 0x26: case 0x65:
        return CodePage::Dos866;
    case 0x03: case 0x57: case 0x58: case 0x59:
        return CodePage::Windows1252;
    case 0xC8:
        return CodePage::Windows1250;
    case 0xC9:
        return CodePage::Windows1251;
    case 0xCB:
        return CodePage::Windows1253;
    default:
        known = false;
        return CodePage::Windows1252;
    }
}

CodePage CodePageFromDriverName(std::string_view name)
{
    if (name.starts_with("DB437"))
        return CodePage::Dos437;
    if (name.starts_with("DB850"))
        return CodePage::Dos850;
    if (name.starts_with("DB852"))
        return CodePage::Dos852;
    if (name.starts_with("DB865"))
        return CodePage::Dos865;
    if (name.starts_with("DB866"))
        return CodePage::Dos866;
    return CodePage::Windows1252;  // DBWIN* drivers and anything we do not know
}

bool IsKnownVersion(std::uint8_t version)
{
    switch (version) {
    case 0x03: case 0x83: case 0x8B: case 0xCB: case 0x43: case 0x63: case 0x05:
    case 0x04: case 0x8C:
    case 0x30: case 0x31: case 0x32:
    case 0xF5: case 0xFB:
        return true;
    default:
        return false;
    }
}

// Fixed widths of the binary types; a header that says otherwise is damaged.
std::optional<std::uint16_t> FixedWidth(char type, DbfDialect dialect)
{
    const bool dbase7 = dialect == DbfDialect::DBase7;
    const bool vfp = dialect == DbfDialect::VisualFoxPro;
    switch (type) {
    case 'L': return 1;
    case 'D': return 8;
    case 'I': return (dbase7 || vfp) ? std::optional<std::uint16_t>(4) : std::nullopt;
    case '+': return dbase7 ? std::optional<std::uint16_t>(4) : std::nullopt;
    case 'O': case '@': return dbase7 ? std::optional<std::uint16_t>(8) : std::nullopt;
    case 'Y': case 'T': return vfp ? std::optional<std::uint16_t>(8) : std::nullopt;
    case 'B': return vfp ? std::optional<std::uint16_t>(8) : std::nullopt;
    default: return std::nullopt;
    }
}

bool IsKnownType(char type, DbfDialect dialect)
{
    switch (type) {
    case 'C': case 'N': case 'F': case 'L': case 'D': case 'M': case 'G': case 'P': case 'B':
        return true;
    case 'I': return dialect == DbfDialect::DBase7 || dialect == DbfDialect::VisualFoxPro;
    case '+': case 'O': case '@': return dialect == DbfDialect::DBase7;
    case 'Y': case 'T': case 'V': case 'Q': case 'W': case '0':
        return dialect == DbfDialect::VisualFoxPro;
    default:
        return false;
    }
}

std::string Hex(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
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
    table.ParseHeader(head, size);
    if (options.codePage)
        table.codePage_ = *options.codePage;
    table.pendingFirst_ = table.recordCount_;
    return table;
}

void DbfTable::ParseHeader(const std::vector<unsigned char>& head, std::uint64_t fileSize)
{
    auto bad = [this](const std::string& why) {
        return Error("El archivo '" + DisplayPath(path_) + "' no es una tabla dBase válida: " + why);
    };
    if (head.size() < 32)
        throw bad("la cabecera está incompleta");
    version_ = head[0];
    if (!IsKnownVersion(version_))
        throw bad("versión " + Hex(version_) + " desconocida");
    if ((version_ & 0x07) == 0x04)
        dialect_ = DbfDialect::DBase7;
    else if (version_ >= 0x30 && version_ <= 0x32)
        dialect_ = DbfDialect::VisualFoxPro;
    else if (version_ == 0xF5 || version_ == 0xFB)
        dialect_ = DbfDialect::FoxPro;
    else if (version_ == 0x03 || version_ == 0x83)
        dialect_ = DbfDialect::DBase3;
    else
        dialect_ = DbfDialect::DBase4;

    std::uint32_t declaredCount = ReadU32(&head[4]);
    headerLength_ = ReadU16(&head[8]);
    std::uint32_t declaredRecordLength = ReadU16(&head[10]);

    const bool level7 = dialect_ == DbfDialect::DBase7;
    const std::size_t descriptorStart = level7 ? kLevel7HeaderSize : 32;
    const std::size_t descriptorSize = level7 ? kLevel7DescriptorSize : kClassicDescriptorSize;
    if (headerLength_ > fileSize)
        throw bad("la cabecera dice medir " + std::to_string(headerLength_) + " bytes y el archivo solo tiene " +
                  std::to_string(fileSize));
    if (headerLength_ < descriptorStart)
        throw bad("la longitud de la cabecera (" + std::to_string(headerLength_) + ") es demasiado corta");

    bool knownLanguage = true;
    if (level7) {
        const char* name = reinterpret_cast<const char*>(&head[32]);
        languageDriver_.assign(name, strnlen(name, 32));
        codePage_ = CodePageFromDriverName(languageDriver_);
    } else {
        codePage_ = CodePageFromLanguageId(head[29], knownLanguage);
    }

    std::uint32_t offset = 0;
    for (std::size_t at = descriptorStart; at + descriptorSize <= headerLength_; at += descriptorSize) {
        // Some writers end the list with 0x0A, others only by the header length.
        if (head[at] == kHeaderEnd || head[at] == 0x0A)
            break;
        DbfField field;
        const std::size_t nameSize = level7 ? 32 : 11;
        const char* name = reinterpret_cast<const char*>(&head[at]);
        field.name.assign(name, strnlen(name, nameSize));
        field.type = static_cast<char>(head[at + (level7 ? 32 : 11)]);
        field.length = head[at + (level7 ? 33 : 16)];
        field.decimals = head[at + (level7 ? 34 : 17)];
        field.flags = level7 ? 0 : head[at + 18];
        if (field.name.empty())
            throw bad("un campo no tiene nombre");
        if (!IsKnownType(field.type, dialect_))
            throw bad("el campo '" + field.name + "' es de un tipo desconocido (" +
                      (field.type >= ' ' && field.type < 0x7F ? std::string(1, field.type) : Hex(static_cast<unsigned char>(field.type))) + ")");
        if (field.length == 0 && !(field.type == 'C' && field.decimals > 0))
            throw bad("el campo '" + field.name + "' tiene longitud 0");
        if (auto fixed = FixedWidth(field.type, dialect_); fixed && field.length != *fixed)
            throw bad("el campo '" + field.name + "' de tipo " + std::string(1, field.type) + " debería medir " +
                      std::to_string(*fixed) + (*fixed == 1 ? " byte" : " bytes") + " y mide " +
                      std::to_string(field.length));
        fields_.push_back(field);
    }
    if (fields_.empty())
        throw bad("no tiene campos");

    // FoxPro keeps the high byte of long character widths in "decimals"; Excel writes
    // junk there. Only the record length can tell which, so apply it when it balances.
    std::uint32_t plain = 1;
    std::uint32_t extended = 1;
    for (const DbfField& f : fields_) {
        plain += f.length;
        extended += f.length + (f.type == 'C' ? static_cast<std::uint32_t>(f.decimals) << 8 : 0u);
    }
    if (extended != plain && extended == declaredRecordLength) {
        for (DbfField& f : fields_)
            if (f.type == 'C') {
                f.length = static_cast<std::uint16_t>(f.length + (f.decimals << 8));
                f.decimals = 0;
            }
        plain = extended;
    }
    for (const DbfField& f : fields_)
        if (f.length == 0)
            throw bad("el campo '" + f.name + "' tiene longitud 0");
    for (DbfField& f : fields_) {
        f.offset = offset;
        offset += f.length;
    }
    if (IsVisualFoxPro()) {
        // _NullFlags gives, field by field, a length bit to each V and Q field and then a
        // null bit to each nullable one.
        int bit = 0;
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            DbfField& f = fields_[i];
            if (f.type == '0' && nullFlagsField_ == static_cast<std::size_t>(-1))
                nullFlagsField_ = i;
            if (f.type == 'V' || f.type == 'Q')
                f.lengthBit = bit++;
            if ((f.flags & 0x02) != 0)
                ++bit;
        }
    }
    // Stride: trust the larger of the header's length and the fields' sum, as robust
    // readers do (files exist that are off by one either way).
    recordLength_ = std::max(declaredRecordLength, plain);
    if (declaredRecordLength != plain)
        warnings_.push_back("la longitud de registro de la cabecera (" + std::to_string(declaredRecordLength) +
                            ") no coincide con la suma de los campos (" + std::to_string(plain) + ")");
    // Fewer whole records than the header announces means a copy cut short or a header
    // that misstates the record length: reading what is there would pass a short timetable
    // off as the whole one. Bytes after the announced records (a partial record, no end
    // mark) take nothing away and are let be.
    std::uint64_t available = (fileSize - headerLength_) / recordLength_;
    if (declaredCount > available) {
        std::string why = "la cabecera anuncia " + std::to_string(declaredCount) +
                          (declaredCount == 1 ? " registro de " : " registros de ") + std::to_string(recordLength_) +
                          " bytes y el archivo solo contiene " + std::to_string(available) +
                          (available == 1 ? " completo" : " completos");
        if (declaredRecordLength != plain)
            why += "; la longitud de registro de la cabecera (" + std::to_string(declaredRecordLength) +
                   ") no coincide con la suma de los campos (" + std::to_string(plain) + ")";
        else
            why += ": está incompleto";
        throw bad(why);
    }
    recordCount_ = static_cast<std::size_t>(declaredCount);
    if (declaredCount != available && !(declaredCount < available && available - declaredCount <= 1))
        warnings_.push_back("la cabecera declara " + std::to_string(declaredCount) + " registros y el archivo contiene " +
                            std::to_string(available));
    if (!knownLanguage)
        warnings_.push_back("código de idioma " + Hex(head[29]) + " desconocido; se lee como Windows-1252");
}

DbfTable::DbfTable(DbfTable&&) noexcept = default;
DbfTable& DbfTable::operator=(DbfTable&& other) noexcept
{
    if (this != &other) {
        try {
            Close();
        } catch (...) {
        }
        path_ = std::move(other.path_);
        file_ = std::move(other.file_);
        access_ = other.access_;
        dialect_ = other.dialect_;
        version_ = other.version_;
        codePage_ = other.codePage_;
        languageDriver_ = std::move(other.languageDriver_);
        decimalSeparator_ = other.decimalSeparator_;
        fields_ = std::move(other.fields_);
        warnings_ = std::move(other.warnings_);
        headerLength_ = other.headerLength_;
        recordLength_ = other.recordLength_;
        recordCount_ = other.recordCount_;
        position_ = other.position_;
        records_ = std::move(other.records_);
        loaded_ = other.loaded_;
        pending_ = std::move(other.pending_);
        pendingFirst_ = other.pendingFirst_;
        current_ = std::move(other.current_);
        blank_ = std::move(other.blank_);
        appending_ = other.appending_;
        modified_ = other.modified_;
        indexes_ = std::move(other.indexes_);
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
        std::uint64_t end = headerLength_ + static_cast<std::uint64_t>(recordCount_) * recordLength_;
        const unsigned char eof = kFileEnd;
        file_.WriteAt(end, &eof, 1);
        file_.Truncate(end + 1);
        unsigned char header[8];
        file_.ReadAt(0, header, 8);
        StampDate(header);
        WriteU32(header + 4, static_cast<std::uint32_t>(recordCount_));
        file_.WriteAt(0, header, 8);
        modified_ = false;
    }
    // Also when nothing was posted: Create leaves a new table unsynced for this moment.
    if (access_ == Access::ReadWrite)
        file_.Sync();
    file_.Close();
    records_.clear();
    records_.shrink_to_fit();
    indexes_.clear();
    loaded_ = false;
}

std::optional<std::size_t> DbfTable::FindField(std::string_view name) const
{
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (EqualsIgnoreCase(fields_[i].name, name))
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
    records_.resize(recordCount_ * recordLength_);
    std::size_t got = file_.ReadAt(headerLength_, records_.data(), records_.size());
    if (got != records_.size())
        throw Error("No se pudo leer la tabla " + Name() + ": el archivo termina antes de lo esperado");
    loaded_ = true;
}

void DbfTable::FlushPending()
{
    if (pending_.empty())
        return;
    file_.WriteAt(headerLength_ + static_cast<std::uint64_t>(pendingFirst_) * recordLength_, pending_.data(),
                  pending_.size());
    pendingFirst_ += pending_.size() / recordLength_;
    pending_.clear();
}

const unsigned char* DbfTable::RecordData(std::size_t record) const
{
    LoadRecords();
    return records_.data() + record * recordLength_;
}

bool DbfTable::IsDeleted(std::size_t record) const { return *RecordData(record) == '*'; }

void DbfTable::First()
{
    position_ = 0;
    while (position_ < recordCount_ && IsDeleted(position_))
        ++position_;
}

void DbfTable::Next()
{
    if (position_ < recordCount_)
        ++position_;
    while (position_ < recordCount_ && IsDeleted(position_))
        ++position_;
}

bool DbfTable::Eof() const { return position_ >= recordCount_; }

void DbfTable::GoTo(std::size_t recordNumber)
{
    if (recordNumber < 1 || recordNumber > recordCount_)
        throw Error("La tabla " + Name() + " no tiene el registro " + std::to_string(recordNumber));
    position_ = recordNumber - 1;
}

const DbfField& DbfTable::CheckedField(std::size_t field) const
{
    if (field >= fields_.size())
        throw Error("La tabla " + Name() + " no tiene el campo número " + std::to_string(field + 1));
    return fields_[field];
}

std::string_view DbfTable::Raw(std::size_t field) const
{
    const DbfField& f = CheckedField(field);
    if (Eof())
        throw Error("La tabla " + Name() + " no tiene registro actual");
    const unsigned char* data = RecordData(position_) + 1 + f.offset;
    return std::string_view(reinterpret_cast<const char*>(data), f.length);
}

std::string DbfTable::Context(std::size_t field) const
{
    std::string context = Name();
    if (!Eof())
        context += ", registro " + std::to_string(RecordNumber());
    if (field < fields_.size())
        context += ", campo " + fields_[field].name;
    return context;
}

void DbfTable::Fail(std::size_t field, const std::string& message) const
{
    throw Error(Context(field) + ": " + message);
}

bool DbfTable::HoldsOverflow(std::size_t field) const
{
    const DbfField& f = CheckedField(field);
    if (f.type != 'N' && f.type != 'F')
        return false;
    const std::string_view text = TrimBlanksAndNuls(Raw(field));
    return !text.empty() && AllBytes(text, '*');
}

std::string_view DbfTable::VariableLength(std::size_t field, std::string_view raw) const
{
    const DbfField& f = fields_[field];
    if (f.lengthBit < 0 || nullFlagsField_ >= fields_.size() || raw.empty())
        return WithoutFill(raw);
    const std::string_view flags = Raw(nullFlagsField_);
    const auto byte = static_cast<std::size_t>(f.lengthBit / 8);
    if (byte >= flags.size() || ((static_cast<unsigned char>(flags[byte]) >> (f.lengthBit % 8)) & 1) == 0)
        return WithoutFill(raw);  // the value takes the whole field
    const std::size_t length = static_cast<unsigned char>(raw.back());
    return raw.substr(0, std::min(length, raw.size() - 1));
}

DbfValue DbfTable::Value(std::size_t field) const
{
    const DbfField& f = CheckedField(field);
    std::string_view raw = Raw(field);
    const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
    DbfValue value;
    switch (f.type) {
    case 'C':
    case 'V':
    case 'Q':
    case 'W': {
        if (f.type == 'C')
            raw = WithoutFill(raw);
        else if (f.type == 'V')
            raw = VariableLength(field, raw);
        if (f.type == 'C' || f.type == 'V') {
            value.kind = DbfValue::Kind::Text;
            value.text = DecodeToUtf8(raw, codePage_);
        }
        break;  // binary varchar/blob: read as empty
    }
    case 'N':
    case 'F': {
        std::string_view text = TrimBlanksAndNuls(raw);
        if (text.empty())
            break;
        if (AllBytes(text, '*'))
            break;  // a value that did not fit, or none: HoldsOverflow tells the caller
        auto number = ParseNumericText(text);
        if (!number)
            Fail(field, "'" + DecodeToUtf8(text, codePage_) + "' no es un número válido");
        if (std::trunc(*number) == *number && std::fabs(*number) < 9.0e15 && f.decimals == 0) {
            value.kind = DbfValue::Kind::Integer;
            value.integer = static_cast<std::int64_t>(*number);
        } else {
            value.kind = DbfValue::Kind::Number;
            value.number = *number;
        }
        break;
    }
    case 'L':
        switch (raw[0]) {
        case 'T': case 't': case 'Y': case 'y':
            value.kind = DbfValue::Kind::Logical;
            value.logical = true;
            break;
        case 'F': case 'f': case 'N': case 'n':
            value.kind = DbfValue::Kind::Logical;
            value.logical = false;
            break;
        default:
            break;  // '?', blank, NUL or anything else: unknown
        }
        break;
    case 'D': {
        std::string_view text = TrimBlanksAndNuls(raw);
        if (text.empty() || AllBytes(text, '0'))
            break;
        int parts[3] = {0, 0, 0};
        const int widths[3] = {4, 2, 2};
        std::size_t at = 0;
        bool ok = text.size() == 8;
        for (int i = 0; ok && i < 3; ++i) {
            auto r = std::from_chars(text.data() + at, text.data() + at + widths[i], parts[i]);
            ok = r.ec == std::errc() && r.ptr == text.data() + at + widths[i];
            at += static_cast<std::size_t>(widths[i]);
        }
        if (!ok || parts[1] < 1 || parts[1] > 12 || parts[2] < 1 || parts[2] > 31)
            Fail(field, "'" + std::string(text) + "' no es una fecha válida");
        value.kind = DbfValue::Kind::Date;
        value.year = parts[0];
        value.month = parts[1];
        value.day = parts[2];
        break;
    }
    case 'I':
    case '+':
        if (IsVisualFoxPro()) {
            value.kind = DbfValue::Kind::Integer;
            value.integer = static_cast<std::int32_t>(ReadU32(bytes));
        } else if (!AllBytes(raw, 0)) {
            value.kind = DbfValue::Kind::Integer;
            value.integer = static_cast<std::int32_t>(ReadU32BigEndian(bytes) ^ 0x80000000u);
        }
        break;
    case 'O':
        if (!AllBytes(raw, 0)) {
            value.kind = DbfValue::Kind::Number;
            value.number = DecodeLevel7Double(ReadU64BigEndian(bytes));
        }
        break;
    case 'B':
        if (IsVisualFoxPro()) {
            value.kind = DbfValue::Kind::Number;
            value.number = std::bit_cast<double>(ReadU64(bytes));
        }
        break;  // dBase: a binary memo pointer, read as empty
    case 'Y':
        value.kind = DbfValue::Kind::Number;
        value.number = static_cast<double>(static_cast<std::int64_t>(ReadU64(bytes))) / 10000.0;
        break;
    case 'T': {
        std::uint32_t day = ReadU32(bytes);
        if (day == 0)
            break;
        value.kind = DbfValue::Kind::DateTime;
        CivilFromJulianDay(day, value.year, value.month, value.day);
        SetTimeOfDay(value, ReadU32(bytes + 4));
        break;
    }
    case '@': {
        if (AllBytes(raw, 0))
            break;
        // Milliseconds as a plain big-endian double, day 1 being 0001-01-01.
        double ms = std::bit_cast<double>(ReadU64BigEndian(bytes));
        if (!std::isfinite(ms) || ms < 0 || ms > 4.0e14)
            Fail(field, "fecha y hora fuera de rango");
        auto total = static_cast<std::int64_t>(ms);
        std::int64_t days = total / 86'400'000;
        value.kind = DbfValue::Kind::DateTime;
        CivilFromJulianDay(days + 1721425, value.year, value.month, value.day);
        SetTimeOfDay(value, total % 86'400'000);
        break;
    }
    default:
        break;  // memo pointers (M, G, P) and hidden flags read as empty
    }
    return value;
}

std::string DbfTable::AsString(std::size_t field) const
{
    DbfValue value = Value(field);
    char buffer[40];
    switch (value.kind) {
    case DbfValue::Kind::Empty: return {};
    case DbfValue::Kind::Text: return std::move(value.text);
    case DbfValue::Kind::Integer: return std::to_string(value.integer);
    case DbfValue::Kind::Number: return FormatNumber(value.number, decimalSeparator_);
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
    case DbfValue::Kind::Text: {
        // Numbers kept in character fields are plausible in other programs' tables.
        std::string_view text = TrimBlanksAndNuls(value.text);
        if (text.empty())
            return 0;
        auto parsed = ParseNumericText(text);
        if (!parsed)
            Fail(field, "'" + value.text + "' no es un número válido");
        number = *parsed;
        break;
    }
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
        std::string_view text = TrimBlanksAndNuls(value.text);
        if (text.empty())
            return 0;
        auto parsed = ParseNumericText(text);
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

bool DbfTable::Locate(std::size_t field, std::string_view text)
{
    CheckedField(field);
    auto it = indexes_.find(field);
    if (it == indexes_.end()) {
        // Built aside and kept only when complete: a value that cannot be read fails this
        // search and the next, instead of leaving a partial index that misses records.
        TextIndex index;
        index.Reserve(recordCount_);
        const std::size_t saved = position_;
        std::string buffer;
        try {
            for (position_ = 0; position_ < recordCount_; ++position_)
                if (!IsDeleted(position_))
                    index.Insert(Text(field, buffer), RecordIndex(position_));  // keeps the first in stored order
        } catch (...) {
            position_ = saved;
            throw;
        }
        position_ = saved;
        it = indexes_.emplace(field, std::move(index)).first;
    }
    const auto found = it->second.Find(text);
    if (!found)
        return false;
    position_ = *found;
    return true;
}

void DbfTable::Append()
{
    if (access_ != Access::ReadWrite)
        throw Error("La tabla " + Name() + " está abierta solo para lectura");
    if (blank_.empty()) {
        blank_.assign(recordLength_, 0);
        blank_[0] = ' ';
        for (const DbfField& f : fields_) {
            // Blank is the empty value of every text-stored type; binary types are empty
            // as all zero bytes.
            switch (f.type) {
            case 'C': case 'N': case 'F': case 'L': case 'D': case 'M': case 'G': case 'P':
                std::memset(&blank_[1 + f.offset], ' ', f.length);
                break;
            case 'B':
                if (!IsVisualFoxPro())
                    std::memset(&blank_[1 + f.offset], ' ', f.length);
                break;
            default:
                break;
            }
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

StoreNote DbfTable::StoreString(std::size_t field, std::string_view text)
{
    unsigned char* out = PendingField(field);
    const DbfField& f = fields_[field];
    StoreNote note;
    switch (f.type) {
    case 'C': {
        EncodedText encoded = Utf8ToWindows1252(text);
        note.replaced = encoded.replaced;
        std::size_t size = encoded.bytes.size();
        if (size > f.length) {
            // Blanks past the width are fill anyway: the stored value is the same, so
            // nothing is reported as cut.
            note.truncated = encoded.bytes.find_first_not_of(' ', f.length) != std::string::npos;
            size = f.length;
        }
        std::memset(out, ' ', f.length);
        std::memcpy(out, encoded.bytes.data(), size);
        return note;
    }
    case 'I':
        if (text.empty()) {
            std::memset(out, 0, f.length);
            return note;
        }
        try {
            SetInteger(field, ParseInteger(text));
        } catch (const Error&) {
            throw Error("'" + std::string(text) + "' is not a valid integer value for field '" + f.name + "'");
        }
        return note;
    case 'O':
    case 'N':
    case 'F':
        if (text.empty()) {
            std::memset(out, f.type == 'O' ? 0 : ' ', f.length);
            return note;
        }
        try {
            SetFloat(field, ParseNumber(text, decimalSeparator_));
        } catch (const Error&) {
            throw Error("'" + std::string(text) + "' is not a valid floating point value for field '" + f.name + "'");
        }
        return note;
    case 'L':
        if (text.empty()) {
            *out = ' ';
            return note;
        }
        switch (text[0]) {
        case 'T': case 't': case 'Y': case 'y': case 'S': case 's': SetLogical(field, true); return note;
        case 'F': case 'f': case 'N': case 'n': SetLogical(field, false); return note;
        default: throw Error("'" + std::string(text) + "' is not a valid boolean value for field '" + f.name + "'");
        }
    default:
        throw Error("La tabla " + Name() + ": no se puede escribir en el campo " + f.name + " (tipo " +
                    std::string(1, f.type) + ")");
    }
}

void DbfTable::SetInteger(std::size_t field, std::int32_t value)
{
    unsigned char* out = PendingField(field);
    const DbfField& f = fields_[field];
    if (f.type == 'I' && !IsVisualFoxPro()) {
        if (value == std::numeric_limits<std::int32_t>::min())
            throw Error("'" + std::to_string(value) + "' is not a valid integer value for field '" + f.name + "'");
        WriteU32BigEndian(out, static_cast<std::uint32_t>(value) ^ 0x80000000u);
        return;
    }
    if (f.type == 'I') {
        WriteU32(out, static_cast<std::uint32_t>(value));
        return;
    }
    if (f.type == 'C') {
        SetString(field, std::to_string(value));
        return;
    }
    SetFloat(field, value);
}

void DbfTable::SetFloat(std::size_t field, double value)
{
    unsigned char* out = PendingField(field);
    const DbfField& f = fields_[field];
    if (!std::isfinite(value))
        throw Error(Context(field) + ": valor no finito");
    switch (f.type) {
    case 'O':
        WriteU64BigEndian(out, EncodeLevel7Double(value));
        return;
    case 'I':
        if (std::trunc(value) != value || value <= std::numeric_limits<std::int32_t>::min() ||
            value > std::numeric_limits<std::int32_t>::max())
            throw Error("'" + FormatNumber(value, '.') + "' is not a valid integer value for field '" + f.name + "'");
        SetInteger(field, static_cast<std::int32_t>(value));
        return;
    case 'N':
    case 'F': {
        // As wide as the field: other programs' numeric fields reach 255 bytes.
        std::vector<char> buffer(static_cast<std::size_t>(f.length) + 1);
        int length = std::snprintf(buffer.data(), buffer.size(), "%*.*f", f.length, f.decimals, value);
        if (length < 0 || length > f.length)
            throw Error(Context(field) + ": el valor " + FormatNumber(value, '.') + " no cabe en el campo");
        std::memcpy(out, buffer.data(), f.length);
        return;
    }
    default:
        throw Error("La tabla " + Name() + ": el campo " + f.name + " no es numérico");
    }
}

void DbfTable::SetLogical(std::size_t field, bool value)
{
    unsigned char* out = PendingField(field);
    if (fields_[field].type != 'L')
        throw Error("La tabla " + Name() + ": el campo " + fields_[field].name + " no es lógico");
    *out = value ? 'T' : 'F';
}

void DbfTable::Post()
{
    if (!appending_)
        throw Error("La tabla " + Name() + ": no hay registro nuevo (falta Append)");
    if (loaded_)
        records_.insert(records_.end(), current_.begin(), current_.end());
    pending_.insert(pending_.end(), current_.begin(), current_.end());
    ++recordCount_;
    if (!indexes_.empty()) {
        // Indexes exist only once the records are loaded, so the new record is readable.
        std::size_t saved = position_;
        position_ = recordCount_ - 1;
        std::string buffer;
        for (auto& [field, index] : indexes_)
            index.Insert(Text(field, buffer), RecordIndex(position_));
        position_ = saved;
    }
    appending_ = false;
    modified_ = true;
    if (pending_.size() >= kPendingLimit)
        FlushPending();
}

}  // namespace pasarela
