#include "xml/xml_encoding.h"

#include <cstdint>

namespace pasarela {
namespace {

// What the program knows of each encoding it reads and saves: the name it declares, and
// for a single-byte one its code page.
struct EncodingInfo {
    TextEncoding encoding;
    std::string_view name;
    std::optional<CodePage> codePage;
};

constexpr EncodingInfo kEncodings[] = {
    {TextEncoding::Utf8, "UTF-8", std::nullopt},
    {TextEncoding::Utf16, "UTF-16", std::nullopt},
    {TextEncoding::Utf16Le, "UTF-16LE", std::nullopt},
    {TextEncoding::Utf16Be, "UTF-16BE", std::nullopt},
    {TextEncoding::UsAscii, "US-ASCII", CodePage::UsAscii},
    {TextEncoding::Iso8859_1, "ISO-8859-1", CodePage::Iso8859_1},
    {TextEncoding::Iso8859_2, "ISO-8859-2", CodePage::Iso8859_2},
    {TextEncoding::Iso8859_15, "ISO-8859-15", CodePage::Iso8859_15},
    {TextEncoding::Windows1250, "windows-1250", CodePage::Windows1250},
    {TextEncoding::Windows1251, "windows-1251", CodePage::Windows1251},
    {TextEncoding::Windows1252, "windows-1252", CodePage::Windows1252},
    {TextEncoding::Windows1253, "windows-1253", CodePage::Windows1253},
    {TextEncoding::Windows1254, "windows-1254", CodePage::Windows1254},
    {TextEncoding::Windows1255, "windows-1255", CodePage::Windows1255},
    {TextEncoding::Windows1256, "windows-1256", CodePage::Windows1256},
    {TextEncoding::Windows1257, "windows-1257", CodePage::Windows1257},
    {TextEncoding::Windows1258, "windows-1258", CodePage::Windows1258},
};

const EncodingInfo& InfoOf(TextEncoding encoding)
{
    for (const EncodingInfo& info : kEncodings) {
        if (info.encoding == encoding)
            return info;
    }
    return kEncodings[0];
}

}  // namespace

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    const auto unitAt = [bytes, bigEndian](std::size_t i) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? char32_t{first} << 8 | second : char32_t{second} << 8 | first;
    };
    std::string out;
    out.reserve(bytes.size() / 2);
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        char32_t cp = unitAt(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
            const char32_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, cp >= 0xD800 && cp <= 0xDFFF ? kReplacementCharacter : cp);
    }
    if (i < bytes.size())
        AppendUtf8(out, kReplacementCharacter);
    return out;
}

// The encoding that the XML declaration names, if it names one. Only ASCII is looked at,
// so the raw bytes of any encoding that agrees with ASCII can be given.
std::optional<std::string> DeclaredEncoding(std::string_view text)
{
    constexpr std::string_view kStart = "<?xml";
    if (!text.starts_with(kStart) || text.size() == kStart.size() ||
        !IsXmlSpace(text[kStart.size()]))
        return std::nullopt;
    std::size_t pos = kStart.size();
    const auto skipSpace = [&] {
        while (pos < text.size() && IsXmlSpace(text[pos]))
            ++pos;
    };
    for (;;) {
        skipSpace();
        const std::size_t nameStart = pos;
        while (pos < text.size() && IsXmlNameChar(text[pos]))
            ++pos;
        const std::string_view name = text.substr(nameStart, pos - nameStart);
        skipSpace();
        if (name.empty() || pos == text.size() || text[pos] != '=')
            return std::nullopt;
        ++pos;
        skipSpace();
        if (pos == text.size() || (text[pos] != '"' && text[pos] != '\''))
            return std::nullopt;
        const std::size_t close = text.find(text[pos], pos + 1);
        if (close == std::string_view::npos)
            return std::nullopt;
        const std::string_view value = text.substr(pos + 1, close - pos - 1);
        pos = close + 1;
        if (name == "encoding")
            return std::string(value);
    }
}

// For the message that refuses a file: every name above.
std::string SupportedEncodings()
{
    std::string names;
    for (const EncodingInfo& info : kEncodings) {
        names += names.empty() ? "" : ", ";
        names += info.name;
    }
    return names;
}

// Encoding names are compared without case and without the separators that their many
// spellings disagree on ("ISO_8859-1", "iso-8859-1", "latin1").
std::optional<TextEncoding> EncodingByName(std::string_view name)
{
    std::string key;
    for (const char c : name) {
        if (c == '-' || c == '_' || c == ' ' || c == ':')
            continue;
        key += LowerAscii(c);
    }
    struct Alias {
        std::string_view key;
        TextEncoding encoding;
    };
    static constexpr Alias kAliases[] = {
        {"utf8", TextEncoding::Utf8},
        {"utf16", TextEncoding::Utf16},
        {"utf16le", TextEncoding::Utf16Le},
        {"utf16be", TextEncoding::Utf16Be},
        {"usascii", TextEncoding::UsAscii},
        {"ascii", TextEncoding::UsAscii},
        {"iso646us", TextEncoding::UsAscii},
        {"csascii", TextEncoding::UsAscii},
        {"iso88591", TextEncoding::Iso8859_1},
        {"iso885911987", TextEncoding::Iso8859_1},
        {"latin1", TextEncoding::Iso8859_1},
        {"isolatin1", TextEncoding::Iso8859_1},
        {"l1", TextEncoding::Iso8859_1},
        {"isoir100", TextEncoding::Iso8859_1},
        {"ibm819", TextEncoding::Iso8859_1},
        {"cp819", TextEncoding::Iso8859_1},
        {"csisolatin1", TextEncoding::Iso8859_1},
        {"iso88592", TextEncoding::Iso8859_2},
        {"iso885921987", TextEncoding::Iso8859_2},
        {"latin2", TextEncoding::Iso8859_2},
        {"isolatin2", TextEncoding::Iso8859_2},
        {"l2", TextEncoding::Iso8859_2},
        {"csisolatin2", TextEncoding::Iso8859_2},
        {"iso885915", TextEncoding::Iso8859_15},
        {"latin9", TextEncoding::Iso8859_15},
        {"latin0", TextEncoding::Iso8859_15},
        {"l9", TextEncoding::Iso8859_15},
        {"csisolatin9", TextEncoding::Iso8859_15},
    };
    for (const Alias& alias : kAliases) {
        if (alias.key == key)
            return alias.encoding;
    }
    // windows-1250 to windows-1258, also as cp1250 and x-cp1250.
    for (const std::string_view prefix : {"windows", "cp", "xcp"}) {
        if (key.size() == prefix.size() + 4 && key.starts_with(prefix)) {
            const std::string_view number = std::string_view(key).substr(prefix.size());
            for (const EncodingInfo& info : kEncodings) {
                if (info.name.starts_with("windows-") && info.name.substr(8) == number)
                    return info.encoding;
            }
        }
    }
    return std::nullopt;
}

bool IsUtf16(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf16 || encoding == TextEncoding::Utf16Le ||
           encoding == TextEncoding::Utf16Be;
}

ByteOrder DetectByteOrder(std::string_view raw)
{
    if (raw.starts_with(kUtf8ByteOrderMark)) {
        return {true, false, false, kUtf8ByteOrderMark.size()};
    }
    if (raw.starts_with(kUtf16LeByteOrderMark)) {
        return {false, true, false, kUtf16LeByteOrderMark.size()};
    }
    if (raw.starts_with(kUtf16BeByteOrderMark)) {
        return {false, true, true, kUtf16BeByteOrderMark.size()};
    }
    // Without a mark, the zero byte beside the first "<" still gives UTF-16 away, as it does
    // to expat.
    if (raw.starts_with(std::string_view("<\0", 2))) {
        return {false, true, false, 0};
    }
    if (raw.starts_with(std::string_view("\0<", 2))) {
        return {false, true, true, 0};
    }
    return {};
}

std::string_view EncodingName(TextEncoding encoding)
{
    return InfoOf(encoding).name;
}

std::optional<CodePage> CodePageOf(TextEncoding encoding)
{
    return InfoOf(encoding).codePage;
}

Utf8Transcoder::Utf8Transcoder(TextEncoding encoding)
    : encoding_(encoding), codePage_(CodePageOf(encoding))
{
}

std::string Utf8Transcoder::Transcode(std::string_view chunk)
{
    std::string joined;
    if (!pending_.empty()) {
        joined = pending_;
        joined += chunk;
        chunk = joined;
        pending_.clear();
    }
    std::string out;
    out.reserve(chunk.size() + chunk.size() / 2);
    while (!chunk.empty()) {
        const Utf8Char read = ReadUtf8Char(chunk, CutShort::Incomplete);
        if (read.length == 0) {
            pending_ = chunk;
            break;
        }
        Encode(read.codePoint == kMalformedUtf8 ? kReplacementCharacter : read.codePoint, out);
        chunk.remove_prefix(read.length);
    }
    return out;
}

std::string Utf8Transcoder::Finish()
{
    std::string out;
    if (!pending_.empty()) {
        Encode(kReplacementCharacter, out);
        pending_.clear();
    }
    return out;
}

void Utf8Transcoder::Encode(char32_t cp, std::string& out) const
{
    if (encoding_ == TextEncoding::Utf8) {
        AppendUtf8(out, cp);
        return;
    }
    if (IsUtf16(encoding_)) {
        const bool bigEndian = encoding_ == TextEncoding::Utf16Be;
        const auto appendUnit = [&out, bigEndian](char32_t unit) {
            const auto low = static_cast<char>(unit & 0xFF);
            const auto high = static_cast<char>(unit >> 8);
            out += bigEndian ? high : low;
            out += bigEndian ? low : high;
        };
        if (cp < 0x10000) {
            appendUnit(cp);
            return;
        }
        appendUnit(0xD800 + ((cp - 0x10000) >> 10));
        appendUnit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        return;
    }
    const int byte = EncodeCodePoint(cp, *codePage_);
    if (byte >= 0) {
        out += static_cast<char>(byte);
        return;
    }
    out += "&#" + std::to_string(static_cast<std::uint32_t>(cp)) + ";";
}

}  // namespace pasarela
