#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text/text.h"

// How an XML file's bytes become the UTF-8 the document is built from, and back: what the
// byte order mark and the declaration say, and the encodings DASTENO files are found in.
namespace pasarela {

// The encodings a document is read and saved in.
enum class TextEncoding {
    Utf8, Utf16, Utf16Le, Utf16Be, UsAscii, Iso8859_1, Iso8859_2, Iso8859_15,
    Windows1250, Windows1251, Windows1252, Windows1253, Windows1254, Windows1255,
    Windows1256, Windows1257, Windows1258,
};

inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
inline constexpr std::string_view kUtf16LeByteOrderMark = "\xFF\xFE";
inline constexpr std::string_view kUtf16BeByteOrderMark = "\xFE\xFF";

// The blanks of XML's grammar.
inline bool IsXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A character of an XML name, among those of ASCII: all that declarations and DASTENO's
// names are made of.
inline bool IsXmlNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.' || c == ':';
}

// What a file's first bytes say of its encoding before any declaration is read.
struct ByteOrder {
    bool utf8Mark = false;
    bool utf16 = false;
    bool bigEndian = false;
    std::size_t markSize = 0;
};
ByteOrder DetectByteOrder(std::string_view raw);

// UTF-16 bytes (after any mark) to UTF-8; unpaired surrogates and an odd last byte become
// U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

// The encoding that the XML declaration at the start of `text` names, if it names one.
std::optional<std::string> DeclaredEncoding(std::string_view text);

// The encoding that `name` spells (case and separators aside), if it is one read here.
std::optional<TextEncoding> EncodingByName(std::string_view name);
// "UTF-8", "windows-1252" and so on: the name a saved file declares.
std::string_view EncodingName(TextEncoding encoding);
// Every name EncodingName gives, for the message that refuses a file.
std::string SupportedEncodings();
// The code page of a single-byte encoding.
std::optional<CodePage> CodePageOf(TextEncoding encoding);
bool IsUtf16(TextEncoding encoding);

// UTF-8 text to `encoding`, in pieces as they come: a piece may end inside a character,
// whose first bytes wait for the next piece. Characters a single-byte encoding lacks are
// written as character references (&#NNNN;).
class Utf8Transcoder {
public:
    explicit Utf8Transcoder(TextEncoding encoding);
    std::string Transcode(std::string_view chunk);
    // What is left: U+FFFD for a character that never ended.
    std::string Finish();

private:
    void Encode(char32_t cp, std::string& out) const;

    TextEncoding encoding_;
    std::optional<CodePage> codePage_;
    std::string pending_;
};

}  // namespace pasarela
