#include "xml/xml_well_formed.h"

#include <cstddef>
#include <string_view>
#include <vector>

#include "text/text.h"
#include "xml/xml_encoding.h"

namespace pasarela {
namespace {

// Attributes compared pairwise for repeats: beyond this many, a conformant parser decides,
// so no element costs more than a fixed amount of work here.
constexpr std::size_t kMaxAttributes = 32;

bool IsNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

// XML's Char production: tab, line feed, carriage return and the code points from U+0020,
// without the surrogates, U+FFFE and U+FFFF.
bool IsXmlChar(char32_t cp)
{
    if (cp < 0x20) {
        return cp == 0x9 || cp == 0xA || cp == 0xD;
    }
    return (cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool Document()
    {
        if (Ahead("<?xml") && !Declaration()) {
            return false;
        }
        if (!Misc()) {
            return false;
        }
        if (!Ahead("<") || !Element()) {
            return false;
        }
        return Misc() && pos_ == text_.size();
    }

private:
    bool Ahead(std::string_view what) const { return text_.substr(pos_).starts_with(what); }

    bool Take(std::string_view what)
    {
        if (!Ahead(what)) {
            return false;
        }
        pos_ += what.size();
        return true;
    }

    bool SkipSpace()
    {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && IsXmlSpace(text_[pos_])) {
            ++pos_;
        }
        return pos_ > start;
    }

    // An ASCII name; anything else is left to the conformant parser.
    bool Name(std::string_view& name)
    {
        const std::size_t start = pos_;
        if (pos_ == text_.size() || !IsNameStart(text_[pos_])) {
            return false;
        }
        ++pos_;
        while (pos_ < text_.size() && IsXmlNameChar(text_[pos_])) {
            ++pos_;
        }
        name = text_.substr(start, pos_ - start);
        return true;
    }

    // One character of text, checked to be well-formed UTF-8 and a character XML allows.
    bool Character()
    {
        const auto lead = static_cast<unsigned char>(text_[pos_]);
        if (lead < 0x80) {
            ++pos_;
            return lead >= 0x20 || lead == 0x9 || lead == 0xA || lead == 0xD;
        }
        const Utf8Char read = ReadUtf8Char(text_.substr(pos_));
        if (read.codePoint == kMalformedUtf8) {
            return false;
        }
        pos_ += read.length;
        return IsXmlChar(read.codePoint);
    }

    // After the '&': a predefined entity or a character reference to an allowed character.
    bool Reference()
    {
        if (Take("#x")) {
            return CharacterNumber(16);
        }
        if (Take("#")) {
            return CharacterNumber(10);
        }
        for (const std::string_view name : {"lt;", "gt;", "amp;", "apos;", "quot;"}) {
            if (Take(name)) {
                return true;
            }
        }
        return false;
    }

    bool CharacterNumber(int base)
    {
        char32_t cp = 0;
        std::size_t digits = 0;
        for (; pos_ < text_.size() && text_[pos_] != ';'; ++pos_, ++digits) {
            const char c = text_[pos_];
            int digit = -1;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (base == 16 && c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (base == 16 && c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            }
            if (digit < 0 || cp > 0x10FFFF) {
                return false;
            }
            cp = cp * static_cast<char32_t>(base) + static_cast<char32_t>(digit);
        }
        return digits > 0 && Take(";") && IsXmlChar(cp);
    }

    // `version` "1.0", then optionally `encoding` and `standalone`, in that order.
    bool Declaration()
    {
        pos_ += 5;  // "<?xml"
        std::string_view name;
        std::string_view value;
        if (!SkipSpace() || !Pseudo(name, value) || name != "version" || value != "1.0") {
            return false;
        }
        bool sawEncoding = false;
        bool sawStandalone = false;
        for (;;) {
            const bool space = SkipSpace();
            if (Take("?>")) {
                return true;
            }
            if (!space || !Pseudo(name, value)) {
                return false;
            }
            if (name == "encoding" && !sawEncoding && !sawStandalone && EncodingName(value)) {
                sawEncoding = true;
            } else if (name == "standalone" && !sawStandalone && (value == "yes" || value == "no")) {
                sawStandalone = true;
            } else {
                return false;
            }
        }
    }

    static bool EncodingName(std::string_view value)
    {
        if (value.empty() || !((value[0] >= 'a' && value[0] <= 'z') || (value[0] >= 'A' && value[0] <= 'Z'))) {
            return false;
        }
        for (const char c : value) {
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-')) {
                return false;
            }
        }
        return true;
    }

    bool Pseudo(std::string_view& name, std::string_view& value)
    {
        if (!Name(name)) {
            return false;
        }
        SkipSpace();
        if (!Take("=")) {
            return false;
        }
        SkipSpace();
        if (pos_ == text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) {
            return false;
        }
        const std::size_t close = text_.find(text_[pos_], pos_ + 1);
        if (close == std::string_view::npos) {
            return false;
        }
        value = text_.substr(pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;
        return true;
    }

    // After "<!--": no "--" inside, and "-->" to end it.
    bool Comment()
    {
        const std::size_t dashes = text_.find("--", pos_);
        if (dashes == std::string_view::npos) {
            return false;
        }
        while (pos_ < dashes) {
            if (!Character()) {
                return false;
            }
        }
        pos_ = dashes + 2;
        return Take(">");
    }

    // Blanks and comments, before or after the root.
    bool Misc()
    {
        for (;;) {
            SkipSpace();
            if (Take("<!--")) {
                if (!Comment()) {
                    return false;
                }
                continue;
            }
            return pos_ == text_.size() || (text_[pos_] == '<' && pos_ + 1 < text_.size() &&
                                            IsNameStart(text_[pos_ + 1]));
        }
    }

    // A start tag after its '<', with its attributes; `empty` tells "/>".
    bool StartTag(std::string_view& name, bool& empty)
    {
        if (!Name(name)) {
            return false;
        }
        std::string_view names[kMaxAttributes];
        std::size_t count = 0;
        for (;;) {
            const bool space = SkipSpace();
            if (Take("/>")) {
                empty = true;
                return true;
            }
            if (Take(">")) {
                empty = false;
                return true;
            }
            std::string_view attribute;
            if (!space || count == kMaxAttributes || !Name(attribute)) {
                return false;
            }
            for (std::size_t i = 0; i < count; ++i) {
                if (names[i] == attribute) {
                    return false;
                }
            }
            names[count++] = attribute;
            SkipSpace();
            if (!Take("=")) {
                return false;
            }
            SkipSpace();
            if (!AttributeValue()) {
                return false;
            }
        }
    }

    bool AttributeValue()
    {
        if (pos_ == text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) {
            return false;
        }
        const char quote = text_[pos_++];
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == quote) {
                ++pos_;
                return true;
            }
            if (c == '<') {
                return false;
            }
            if (c == '&') {
                ++pos_;
                if (!Reference()) {
                    return false;
                }
            } else if (!Character()) {
                return false;
            }
        }
        return false;
    }

    // Text between tags: characters, references, no "]]>".
    bool Text()
    {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '<') {
                return true;
            }
            if (c == '&') {
                ++pos_;
                if (!Reference()) {
                    return false;
                }
                continue;
            }
            if (c == ']' && Ahead("]]>")) {
                return false;
            }
            if (!Character()) {
                return false;
            }
        }
        return true;
    }

    // The root element and all it holds, without recursion: files nest deep.
    bool Element()
    {
        std::vector<std::string_view> open;
        do {
            if (!Take("<")) {
                return false;
            }
            if (Take("/")) {
                std::string_view name;
                if (!Name(name) || open.empty() || name != open.back()) {
                    return false;
                }
                SkipSpace();
                if (!Take(">")) {
                    return false;
                }
                open.pop_back();
            } else if (Take("!--")) {
                if (!Comment()) {
                    return false;
                }
            } else {
                std::string_view name;
                bool empty = false;
                if (!StartTag(name, empty)) {
                    return false;
                }
                if (!empty) {
                    open.push_back(name);
                }
            }
            if (!open.empty() && !Text()) {
                return false;
            }
        } while (!open.empty());
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

bool PlainlyWellFormed(std::string_view utf8)
{
    return Reader(utf8).Document();
}

}  // namespace pasarela
