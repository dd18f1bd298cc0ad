#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Text is UTF-8 inside the program; these helpers convert at the edges (DBF bytes,
// XML values) and hold the few text rules that DASTENO and Orlavi data depend on.
namespace pasarela {

// Without every leading and trailing character whose code is 32 or below; a view into
// `text`, so it lives as long as `text` does.
std::string_view Trim(std::string_view text);

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

}  // namespace pasarela
