#include "dbf/dbf_codecs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "dbf/dbf_bytes.h"
#include "os/error.h"

namespace pasarela {

namespace dbf {

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

}  // namespace dbf

namespace {

using namespace dbf;
using Kind = DbfValue::Kind;
using Scope = DbfFaultScope;

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

const unsigned char* Bytes(std::string_view raw) { return reinterpret_cast<const unsigned char*>(raw.data()); }

// ---- Empty values

// Blank is the empty value of every text-stored type; binary types are empty as all
// zero bytes.
void BlankFill(const DbfFieldAccess& access, unsigned char* out) { std::memset(out, ' ', access.field.length); }
void ZeroFill(const DbfFieldAccess& access, unsigned char* out) { std::memset(out, 0, access.field.length); }
// B is a double in Visual FoxPro and a memo block number elsewhere.
void BlankBinary(const DbfFieldAccess& access, unsigned char* out)
{
    std::memset(out, access.visualFoxPro ? 0 : ' ', access.field.length);
}

// ---- Reading

// Memo pointers (M, G, P), binary varchar and blob (Q, W) and hidden flags read as empty.
void DecodeNothing(const DbfFieldAccess&, std::string_view, DbfValue&) {}

void DecodeCharacter(const DbfFieldAccess& access, std::string_view raw, DbfValue& value)
{
    value.kind = Kind::Text;
    value.text = DecodeToUtf8(WithoutFill(raw), access.codePage);
}

// A V field's bytes: as long as its _NullFlags length bit says, else without the fill.
void DecodeVarchar(const DbfFieldAccess& access, std::string_view raw, DbfValue& value)
{
    const DbfField& f = access.field;
    std::string_view text = WithoutFill(raw);
    if (f.lengthBit >= 0 && access.nullFlags != nullptr && !raw.empty()) {
        const std::string_view flags(reinterpret_cast<const char*>(access.record + access.nullFlags->offset),
                                     access.nullFlags->length);
        const auto byte = static_cast<std::size_t>(f.lengthBit / 8);
        if (byte < flags.size() && ((static_cast<unsigned char>(flags[byte]) >> (f.lengthBit % 8)) & 1) != 0) {
            const std::size_t length = static_cast<unsigned char>(raw.back());
            text = raw.substr(0, std::min(length, raw.size() - 1));
        }  // else the value takes the whole field
    }
    value.kind = Kind::Text;
    value.text = DecodeToUtf8(text, access.codePage);
}

void DecodeNumberText(const DbfFieldAccess& access, std::string_view raw, DbfValue& value)
{
    std::string_view text = Trim(raw, Blanks::SpaceAndNul);
    if (text.empty())
        return;
    if (AllBytes(text, '*'))
        return;  // a value that did not fit, or none: HoldsOverflow tells the caller
    if (access.field.decimals == 0 && text.size() <= 15) {
        // Whole numbers, most of what these fields hold, without the detour through a
        // double: under 16 digits the double would hold them exactly anyway.
        std::int64_t whole = 0;
        const char* begin = text.data();
        const char* end = begin + text.size();
        const bool digits = std::all_of(begin + (*begin == '-' ? 1 : 0), end, [](char c) { return c >= '0' && c <= '9'; });
        if (digits && std::from_chars(begin, end, whole).ptr == end) {
            value.kind = Kind::Integer;
            value.integer = whole;
            return;
        }
    }
    // Other programs write either mark.
    auto number = TryParseNumber(text, ',');
    if (!number)
        access.Fail(Scope::Record, "'" + DecodeToUtf8(text, access.codePage) + "' no es un número válido");
    if (std::trunc(*number) == *number && std::fabs(*number) < 9.0e15 && access.field.decimals == 0) {
        value.kind = Kind::Integer;
        value.integer = static_cast<std::int64_t>(*number);
    } else {
        value.kind = Kind::Number;
        value.number = *number;
    }
}

void DecodeLogical(const DbfFieldAccess&, std::string_view raw, DbfValue& value)
{
    switch (raw[0]) {
    case 'T': case 't': case 'Y': case 'y':
        value.kind = Kind::Logical;
        value.logical = true;
        break;
    case 'F': case 'f': case 'N': case 'n':
        value.kind = Kind::Logical;
        value.logical = false;
        break;
    default:
        break;  // '?', blank, NUL or anything else: unknown
    }
}

void DecodeDate(const DbfFieldAccess& access, std::string_view raw, DbfValue& value)
{
    std::string_view text = Trim(raw, Blanks::SpaceAndNul);
    if (text.empty() || AllBytes(text, '0'))
        return;
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
        // Built in place: GCC 12 at -O3 takes "'" + std::string(...) for an overlapping copy.
        access.Fail(Scope::Record, std::string("'").append(text).append("' no es una fecha válida"));
    value.kind = Kind::Date;
    value.year = parts[0];
    value.month = parts[1];
    value.day = parts[2];
}

// I and +: little-endian in Visual FoxPro; level 7 keeps them big-endian with the sign
// bit flipped, and all zero bytes there mean no value.
void DecodeInteger(const DbfFieldAccess& access, std::string_view raw, DbfValue& value)
{
    if (access.visualFoxPro) {
        value.kind = Kind::Integer;
        value.integer = static_cast<std::int32_t>(ReadU32(Bytes(raw)));
    } else if (!AllBytes(raw, 0)) {
        value.kind = Kind::Integer;
        value.integer = static_cast<std::int32_t>(ReadU32BigEndian(Bytes(raw)) ^ 0x80000000u);
    }
}

void DecodeLevel7Number(const DbfFieldAccess&, std::string_view raw, DbfValue& value)
{
    if (AllBytes(raw, 0))
        return;
    value.kind = Kind::Number;
    value.number = DecodeLevel7Double(ReadU64BigEndian(Bytes(raw)));
}

void DecodeBinary(const DbfFieldAccess& access, std::string_view raw, DbfValue& value)
{
    if (!access.visualFoxPro)
        return;  // dBase: a binary memo pointer, read as empty
    value.kind = Kind::Number;
    value.number = std::bit_cast<double>(ReadU64(Bytes(raw)));
}

void DecodeCurrency(const DbfFieldAccess&, std::string_view raw, DbfValue& value)
{
    value.kind = Kind::Number;
    value.number = static_cast<double>(static_cast<std::int64_t>(ReadU64(Bytes(raw)))) / 10000.0;
}

void DecodeDateTime(const DbfFieldAccess&, std::string_view raw, DbfValue& value)
{
    const std::uint32_t day = ReadU32(Bytes(raw));
    if (day == 0)
        return;
    value.kind = Kind::DateTime;
    CivilFromJulianDay(day, value.year, value.month, value.day);
    SetTimeOfDay(value, ReadU32(Bytes(raw) + 4));
}

void DecodeTimestamp(const DbfFieldAccess& access, std::string_view raw, DbfValue& value)
{
    if (AllBytes(raw, 0))
        return;
    // Milliseconds as a plain big-endian double, day 1 being 0001-01-01.
    const double ms = std::bit_cast<double>(ReadU64BigEndian(Bytes(raw)));
    if (!std::isfinite(ms) || ms < 0 || ms > 4.0e14)
        access.Fail(Scope::Record, "fecha y hora fuera de rango");
    const auto total = static_cast<std::int64_t>(ms);
    const std::int64_t days = total / 86'400'000;
    value.kind = Kind::DateTime;
    CivilFromJulianDay(days + 1721425, value.year, value.month, value.day);
    SetTimeOfDay(value, total % 86'400'000);
}

// ---- Writing

// What a field says to a value it cannot take, by the kind of value.
[[noreturn]] void Refuse(const DbfFieldAccess& access, const DbfInput& input)
{
    const DbfField& f = access.field;
    switch (input.kind) {
    case DbfInput::Kind::Text:
        access.Fail(Scope::Table, "no se puede escribir en el campo " + f.name + " (tipo " + std::string(1, f.type) + ")");
    case DbfInput::Kind::Integer:
    case DbfInput::Kind::Float:
        access.Fail(Scope::Table, "el campo " + f.name + " no es numérico");
    case DbfInput::Kind::Logical:
        break;
    }
    access.Fail(Scope::Table, "el campo " + f.name + " no es lógico");
}

StoreNote EncodeNothing(const DbfFieldAccess& access, const DbfInput& input, unsigned char*) { Refuse(access, input); }

StoreNote EncodeCharacter(const DbfFieldAccess& access, const DbfInput& input, unsigned char* out)
{
    const DbfField& f = access.field;
    if (input.kind == DbfInput::Kind::Integer)
        return EncodeCharacter(access, DbfInput::Text(std::to_string(input.integer)), out);
    if (input.kind != DbfInput::Kind::Text)
        Refuse(access, input);
    StoreNote note;
    EncodedText encoded = Utf8ToWindows1252(input.text);
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

StoreNote EncodeInteger(const DbfFieldAccess& access, const DbfInput& input, unsigned char* out)
{
    const DbfField& f = access.field;
    switch (input.kind) {
    case DbfInput::Kind::Text:
        if (input.text.empty()) {
            std::memset(out, 0, f.length);
            return {};
        }
        try {
            return EncodeInteger(access, DbfInput::Integer(ParseInteger(input.text)), out);
        } catch (const Error&) {
            access.Fail(Scope::Bare, "'" + std::string(input.text) + "' is not a valid integer value for field '" + f.name + "'");
        }
    case DbfInput::Kind::Float: {
        const double value = input.number;
        if (std::trunc(value) != value || value <= std::numeric_limits<std::int32_t>::min() ||
            value > std::numeric_limits<std::int32_t>::max())
            access.Fail(Scope::Bare, "'" + FormatNumber(value, '.') + "' is not a valid integer value for field '" + f.name + "'");
        return EncodeInteger(access, DbfInput::Integer(static_cast<std::int32_t>(value)), out);
    }
    case DbfInput::Kind::Integer:
        if (access.visualFoxPro) {
            WriteU32(out, static_cast<std::uint32_t>(input.integer));
            return {};
        }
        if (input.integer == std::numeric_limits<std::int32_t>::min())
            access.Fail(Scope::Bare, "'" + std::to_string(input.integer) + "' is not a valid integer value for field '" + f.name + "'");
        WriteU32BigEndian(out, static_cast<std::uint32_t>(input.integer) ^ 0x80000000u);
        return {};
    case DbfInput::Kind::Logical:
        break;
    }
    Refuse(access, input);
}

// N, F and O take a text, a whole number or a number alike; `store` writes the number
// and `blank` the empty text.
template <void (*store)(const DbfFieldAccess&, double, unsigned char*), DbfBlank blank>
StoreNote EncodeNumber(const DbfFieldAccess& access, const DbfInput& input, unsigned char* out)
{
    switch (input.kind) {
    case DbfInput::Kind::Text:
        if (input.text.empty()) {
            blank(access, out);
            return {};
        }
        try {
            const double value = ParseNumber(input.text, access.decimalSeparator);
            if (!std::isfinite(value))
                access.Fail(Scope::Record, "valor no finito");
            store(access, value, out);
        } catch (const Error&) {
            access.Fail(Scope::Bare, "'" + std::string(input.text) + "' is not a valid floating point value for field '" +
                                         access.field.name + "'");
        }
        return {};
    case DbfInput::Kind::Integer:
        store(access, input.integer, out);
        return {};
    case DbfInput::Kind::Float:
        store(access, input.number, out);
        return {};
    case DbfInput::Kind::Logical:
        break;
    }
    Refuse(access, input);
}

void StoreNumberText(const DbfFieldAccess& access, double value, unsigned char* out)
{
    const DbfField& f = access.field;
    // As wide as the field: other programs' numeric fields reach 255 bytes.
    std::vector<char> buffer(static_cast<std::size_t>(f.length) + 1);
    int length = std::snprintf(buffer.data(), buffer.size(), "%*.*f", f.length, f.decimals, value);
    if (length < 0 || length > f.length)
        access.Fail(Scope::Record, "el valor " + FormatNumber(value, '.') + " no cabe en el campo");
    std::memcpy(out, buffer.data(), f.length);
}

void StoreLevel7Double(const DbfFieldAccess&, double value, unsigned char* out)
{
    WriteU64BigEndian(out, EncodeLevel7Double(value));
}

StoreNote EncodeLogical(const DbfFieldAccess& access, const DbfInput& input, unsigned char* out)
{
    if (input.kind == DbfInput::Kind::Logical) {
        *out = input.logical ? 'T' : 'F';
        return {};
    }
    if (input.kind != DbfInput::Kind::Text)
        Refuse(access, input);
    if (input.text.empty()) {
        *out = ' ';
        return {};
    }
    switch (input.text[0]) {
    case 'T': case 't': case 'Y': case 'y': case 'S': case 's': *out = 'T'; return {};
    case 'F': case 'f': case 'N': case 'n': *out = 'F'; return {};
    default:
        access.Fail(Scope::Bare, "'" + std::string(input.text) + "' is not a valid boolean value for field '" +
                                     access.field.name + "'");
    }
}

// ---- The table

constexpr unsigned kAll = 0x1F;
constexpr unsigned kLevel7 = DbfCodec::DialectBit(DbfDialect::DBase7);
constexpr unsigned kVfp = DbfCodec::DialectBit(DbfDialect::VisualFoxPro);

constexpr DbfCodec Codec(char letter, unsigned dialects, DbfBlank blank, DbfDecode decode, DbfEncode encode)
{
    DbfCodec codec;
    codec.letter = letter;
    codec.dialects = dialects;
    codec.blank = blank;
    codec.decode = decode;
    codec.encode = encode;
    return codec;
}
constexpr DbfCodec Fixed(DbfCodec codec, std::uint16_t width, unsigned in)
{
    codec.fixedWidth = width;
    codec.fixedIn = in;
    return codec;
}
constexpr DbfCodec With(DbfCodec codec, bool DbfCodec::*flag)
{
    codec.*flag = true;
    return codec;
}

constexpr auto EncodeNumberText = EncodeNumber<StoreNumberText, BlankFill>;
constexpr auto EncodeLevel7Number = EncodeNumber<StoreLevel7Double, ZeroFill>;

// The first entry stands for every letter not listed.
constexpr std::array kCodecs = {
    Codec(0, 0, ZeroFill, DecodeNothing, EncodeNothing),
    With(Codec('C', kAll, BlankFill, DecodeCharacter, EncodeCharacter), &DbfCodec::longWidth),
    With(Codec('N', kAll, BlankFill, DecodeNumberText, EncodeNumberText), &DbfCodec::numberText),
    With(Codec('F', kAll, BlankFill, DecodeNumberText, EncodeNumberText), &DbfCodec::numberText),
    Fixed(Codec('L', kAll, BlankFill, DecodeLogical, EncodeLogical), 1, kAll),
    Fixed(Codec('D', kAll, BlankFill, DecodeDate, EncodeNothing), 8, kAll),
    Codec('M', kAll, BlankFill, DecodeNothing, EncodeNothing),
    Codec('G', kAll, BlankFill, DecodeNothing, EncodeNothing),
    Codec('P', kAll, BlankFill, DecodeNothing, EncodeNothing),
    Fixed(Codec('B', kAll, BlankBinary, DecodeBinary, EncodeNothing), 8, kVfp),
    Fixed(Codec('I', kLevel7 | kVfp, ZeroFill, DecodeInteger, EncodeInteger), 4, kLevel7 | kVfp),
    Fixed(Codec('+', kLevel7, ZeroFill, DecodeInteger, EncodeNothing), 4, kLevel7),
    Fixed(Codec('O', kLevel7, ZeroFill, DecodeLevel7Number, EncodeLevel7Number), 8, kLevel7),
    Fixed(Codec('@', kLevel7, ZeroFill, DecodeTimestamp, EncodeNothing), 8, kLevel7),
    Fixed(Codec('Y', kVfp, ZeroFill, DecodeCurrency, EncodeNothing), 8, kVfp),
    Fixed(Codec('T', kVfp, ZeroFill, DecodeDateTime, EncodeNothing), 8, kVfp),
    With(Codec('V', kVfp, ZeroFill, DecodeVarchar, EncodeNothing), &DbfCodec::lengthBit),
    With(Codec('Q', kVfp, ZeroFill, DecodeNothing, EncodeNothing), &DbfCodec::lengthBit),
    Codec('W', kVfp, ZeroFill, DecodeNothing, EncodeNothing),
    With(Codec('0', kVfp, ZeroFill, DecodeNothing, EncodeNothing), &DbfCodec::nullFlags),
};

constexpr std::array<std::uint8_t, 256> kCodecOfLetter = [] {
    std::array<std::uint8_t, 256> index{};
    for (std::size_t i = 1; i < kCodecs.size(); ++i)
        index[static_cast<unsigned char>(kCodecs[i].letter)] = static_cast<std::uint8_t>(i);
    return index;
}();

}  // namespace

const DbfCodec& CodecFor(char letter) { return kCodecs[kCodecOfLetter[static_cast<unsigned char>(letter)]]; }

}  // namespace pasarela
