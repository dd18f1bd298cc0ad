#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text is UTF-8 inside the program; these helpers convert at the edges (DBF bytes,
// XML values) and hold the few text rules that DASTENO and Orlavi data depend on.
namespace pasarela {

// Which characters Trim takes off the ends: DASTENO values lose every control character
// with the blanks, a settings line only its spaces and tabs, a table's field the blanks or
// NULs (some programs' fill) around its value.
enum class Blanks {
    SpaceAndControls,  // every character whose code is 32 or below
    SpaceAndTab,
    SpaceAndNul,
};

// Without the leading and trailing `blanks`; a view into `text`, so it lives as long as
// `text` does.
std::string_view Trim(std::string_view text, Blanks blanks = Blanks::SpaceAndControls);

// ASCII letters in lower case, every other byte as it is: for names that are ASCII by
// definition (keywords, encoding names), where FoldCase would be more than is asked.
inline char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string LowerAscii(std::string_view text);

// What stands for a character that cannot be read or has no place to go.
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Stands for a byte that does not start a well-formed UTF-8 sequence; above every code point.
inline constexpr char32_t kMalformedUtf8 = 0x110000;

struct Utf8Char {
    char32_t codePoint;  // kMalformedUtf8 for a malformed byte
    std::size_t length;  // bytes taken: 1 for a malformed byte, 0 for an incomplete sequence
};

// What a sequence cut short by the end of the text is: malformed like any other (a text
// that is whole), or incomplete, for text that comes in pieces and whose next piece may
// finish it.
enum class CutShort { Malformed, Incomplete };

// Reads the character at the start of a non-empty `text`. A byte that does not begin a
// well-formed sequence (stray continuation, overlong form, surrogate, beyond U+10FFFF,
// cut short) is malformed on its own, so every byte is accounted for exactly once. With
// CutShort::Incomplete, a lead byte followed only by continuation bytes up to the end
// gives length 0 instead.
Utf8Char ReadUtf8Char(std::string_view text, CutShort cutShort = CutShort::Malformed);

// Appends `codePoint` (at most U+10FFFF) as UTF-8. Inline: the UTF-16 reader calls it for
// every character of a file.
inline void AppendUtf8(std::string& out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Single-byte code pages that DBF files and DASTENO files are found in. US-ASCII leaves
// every byte above 0x7F undefined.
enum class CodePage {
    Windows1252,
    Windows1250,
    Windows1251,
    Windows1253,
    Iso8859_1,
    Dos437,
    Dos850,
    Dos852,
    Dos865,
    Dos866,
    Windows1254,
    Windows1255,
    Windows1256,
    Windows1257,
    Windows1258,
    Iso8859_2,
    Iso8859_15,
    UsAscii,
};

struct EncodedText {
    std::string bytes;           // Windows-1252 bytes, one per character
    std::size_t replaced = 0;    // characters that Windows-1252 cannot hold, stored as '?'
};

// The character that `byte` stands for in `codePage`: U+FFFD for a byte the page leaves
// undefined.
char32_t DecodeByte(unsigned char byte, CodePage codePage);

// The byte that stands for `codePoint` in `codePage`, or -1 when the page lacks it.
// U+FFFD is never one: it marks the bytes a page leaves undefined.
int EncodeCodePoint(char32_t codePoint, CodePage codePage);

// UTF-8 to Windows-1252. Characters it cannot hold (and malformed UTF-8 sequences)
// become '?' and are counted; never throws.
EncodedText Utf8ToWindows1252(std::string_view utf8);

// Single-byte text in `codePage` to UTF-8. Bytes the code page leaves undefined
// become U+FFFD; never throws.
std::string DecodeToUtf8(std::string_view bytes, CodePage codePage);

// Number of characters (code points) in a UTF-8 text; malformed bytes count one each.
std::size_t Utf8Length(std::string_view utf8);

// The first `count` characters of a UTF-8 text (all of it when shorter), never cutting
// a character in half.
std::string Utf8Prefix(std::string_view utf8, std::size_t count);

// How a notice or an error quotes a value from the user's file: whole up to
// kExcerptCharacters characters; beyond that its first ones, "…" and how many it has in
// all, so a huge value costs no more than a short one in every message that names it.
inline constexpr std::size_t kExcerptCharacters = 200;
std::string Excerpt(std::string_view utf8);

// The last `count` characters of a UTF-8 text (all of it when shorter).
std::string Utf8Suffix(std::string_view utf8, std::size_t count);

// Case folding used wherever a code is compared without regard to letter case. It folds
// at least every letter of Windows-1252 (Á/á, Ñ/ñ, Ü/ü, Š/š, Œ/œ, Ÿ/ÿ ...) and Latin,
// Greek and Cyrillic letters, identically on every platform (no locale involved).
std::string FoldCase(std::string_view utf8);
// The same into `out`, whose storage is reused: for searches repeated by the thousand.
void FoldCaseInto(std::string_view utf8, std::string& out);

// Whether every byte is ASCII, so the text is the same in UTF-8 and every code page here.
inline bool IsAsciiText(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// A whole number in signed decimal digits ("-12", "+7", "0042"), as DASTENO writes it.
// Anything else (empty, blanks, fractions, words, out of 32-bit range) throws Error
// "'<text>' is not a valid integer value".
std::int32_t ParseInteger(std::string_view text);

// A number written with '.' or with `decimalSeparator` as the decimal mark, an optional
// sign and optional exponent. Anything else throws Error "'<text>' is not a valid
// floating point value".
double ParseNumber(std::string_view text, char decimalSeparator);
// The same, with no value for a text that is not such a number.
std::optional<double> TryParseNumber(std::string_view text, char decimalSeparator);

// A count for a person to read, its thousands set apart with '.' as Spanish writes them:
// 1234567 is "1.234.567".
std::string GroupThousands(std::size_t count);

}  // namespace pasarela
