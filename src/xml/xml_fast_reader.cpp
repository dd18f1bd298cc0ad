#include "xml/xml_fast_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace pasarela::xml_detail {
namespace {

// Per byte, the places where it cannot simply be passed over: each bit names one kind
// of run. A byte that XML refuses outright (a control other than tab, LF and CR) and the
// first byte of a character beyond ASCII stop every run, to be looked at one by one.
constexpr std::uint8_t kStopsText = 1;
constexpr std::uint8_t kStopsValue = 2;
constexpr std::uint8_t kStopsComment = 4;
constexpr std::uint8_t kStopsInstruction = 8;
constexpr std::uint8_t kStopsCData = 16;
constexpr std::uint8_t kNameChar = 32;
constexpr std::uint8_t kNameStart = 64;
constexpr std::uint8_t kBlank = 128;
constexpr std::uint8_t kStopsAll = kStopsText | kStopsValue | kStopsComment | kStopsInstruction | kStopsCData;

constexpr std::array<std::uint8_t, 256> MakeClasses()
{
    std::array<std::uint8_t, 256> classes{};
    for (int b = 0; b < 256; ++b) {
        std::uint8_t c = 0;
        const bool blank = b == ' ' || b == '\t' || b == '\n' || b == '\r';
        if ((b < 0x20 && !blank) || b >= 0x80)
            c |= kStopsAll;
        if (blank)
            c |= kBlank;
        const bool letter = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
        if (letter || b == '_' || b == ':')
            c |= kNameStart | kNameChar;
        if ((b >= '0' && b <= '9') || b == '-' || b == '.')
            c |= kNameChar;
        if (b == '<' || b == '&' || b == ']')
            c |= kStopsText;
        if (b == '<' || b == '&' || b == '"' || b == '\'' || b == '\t' || b == '\n' || b == '\r')
            c |= kStopsValue;
        if (b == '-')
            c |= kStopsComment;
        if (b == '?')
            c |= kStopsInstruction;
        if (b == ']')
            c |= kStopsCData;
        classes[static_cast<std::size_t>(b)] = c;
    }
    return classes;
}

constexpr std::array<std::uint8_t, 256> kClasses = MakeClasses();

inline std::uint8_t ClassOf(char c)
{
    return kClasses[static_cast<unsigned char>(c)];
}

inline bool IsBlank(char c)
{
    return (ClassOf(c) & kBlank) != 0;
}

inline bool IsAscii(char c)
{
    return static_cast<unsigned char>(c) < 0x80;
}

// A start tag or a comment longer than this is left to expat rather than carried from
// block to block, which would read it again with every block.
constexpr std::size_t kLongestCarried = std::size_t{1} << 20;
// More attributes than this are left to expat, whose check for repeats is hashed.
constexpr std::size_t kMostAttributes = 32;

// The bytes of the character beyond ASCII at `p` when expat takes it as XML text: 0 when it
// does not (a byte that starts no character, an overlong form, a surrogate, U+FFFE and
// U+FFFF, anything past U+10FFFF), -1 when the character runs past `end`.
int CharacterLength(const char* p, const char* end)
{
    const auto at = [p](int i) { return static_cast<unsigned char>(p[i]); };
    const auto tail = [&](int i) { return (at(i) & 0xC0) == 0x80; };
    const unsigned lead = at(0);
    const std::ptrdiff_t available = end - p;
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (available < 2)
            return -1;
        return tail(1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (available < 3)
            return -1;
        if (!tail(1) || !tail(2))
            return 0;
        if (lead == 0xE0 && at(1) < 0xA0)
            return 0;
        if (lead == 0xED && at(1) > 0x9F)
            return 0;
        if (lead == 0xEF && at(1) == 0xBF && at(2) >= 0xBE)
            return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (available < 4)
            return -1;
        if (!tail(1) || !tail(2) || !tail(3))
            return 0;
        if (lead == 0xF0 && at(1) < 0x90)
            return 0;
        if (lead == 0xF4 && at(1) > 0x8F)
            return 0;
        return 4;
    }
    return 0;
}

bool IsXmlCharacter(std::uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

char* SkipName(char* p, char* end)
{
    while (p < end && (ClassOf(*p) & kNameChar) != 0)
        ++p;
    return p;
}

char* SkipBlanks(char* p, char* end)
{
    while (p < end && IsBlank(*p))
        ++p;
    return p;
}

// A reference at `p` ('&'): the predefined entities and character references to XML
// characters. Gives the character it stands for and moves `p` past the ';'. A reference
// to anything else (an entity no DTD declares here, a character XML refuses, a number
// spelled at length) is left to expat.
enum class RefStep { Done, More, Quit };
RefStep Reference(char*& p, char* end, std::uint32_t& character)
{
    constexpr std::ptrdiff_t kLongest = 16;
    char* q = p + 1;
    if (q == end)
        return RefStep::More;
    if (*q == '#') {
        ++q;
        if (q == end)
            return RefStep::More;
        const bool hex = *q == 'x';
        if (hex)
            ++q;
        std::uint32_t value = 0;
        char* digits = q;
        for (;; ++q) {
            if (q == end)
                return q - p > kLongest ? RefStep::Quit : RefStep::More;
            const char c = *q;
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9')
                digit = static_cast<std::uint32_t>(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F')
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            else if (c == ';')
                break;
            else
                return RefStep::Quit;
            value = value * (hex ? 16 : 10) + digit;
            if (value > 0x10FFFF || q - p > kLongest)
                return RefStep::Quit;
        }
        if (q == digits || !IsXmlCharacter(value))
            return RefStep::Quit;
        character = value;
        p = q + 1;
        return RefStep::Done;
    }
    if ((ClassOf(*q) & kNameStart) == 0)
        return RefStep::Quit;
    char* nameEnd = SkipName(q, end);
    if (nameEnd == end)
        return nameEnd - p > kLongest ? RefStep::Quit : RefStep::More;
    if (*nameEnd != ';')
        return RefStep::Quit;
    const std::string_view name(q, static_cast<std::size_t>(nameEnd - q));
    if (name == "lt")
        character = '<';
    else if (name == "gt")
        character = '>';
    else if (name == "amp")
        character = '&';
    else if (name == "apos")
        character = '\'';
    else if (name == "quot")
        character = '"';
    else
        return RefStep::Quit;
    p = nameEnd + 1;
    return RefStep::Done;
}

char* PutUtf8(char* out, std::uint32_t cp)
{
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

// An attribute value as XML normalises it, written over itself (it only shrinks): each
// blank a space, CR LF one space, references resolved, and the characters that character
// references give kept as they are. Ends it with a NUL.
void NormaliseValueInPlace(char* value, char* end)
{
    char* out = value;
    for (char* in = value; in < end;) {
        const char c = *in;
        if (c == '\r') {
            *out++ = ' ';
            in += in + 1 < end && in[1] == '\n' ? 2 : 1;
        } else if (c == '\t' || c == '\n') {
            *out++ = ' ';
            ++in;
        } else if (c == '&') {
            std::uint32_t character = 0;
            Reference(in, end, character);  // checked already when the tag was read
            out = PutUtf8(out, character);
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
}

// A comment's or an instruction's text as expat gives it: CR LF and CR become LF.
std::string WithLineFeeds(const char* from, const char* to)
{
    std::string text;
    text.reserve(static_cast<std::size_t>(to - from));
    for (const char* p = from; p < to; ++p) {
        if (*p == '\r') {
            text += '\n';
            if (p + 1 < to && p[1] == '\n')
                ++p;
        } else {
            text += *p;
        }
    }
    return text;
}

bool StartsWith(const char* p, const char* end, std::string_view prefix)
{
    return static_cast<std::size_t>(end - p) >= prefix.size() &&
           std::memcmp(p, prefix.data(), prefix.size()) == 0;
}

}  // namespace

FastUtf8Scanner::FastUtf8Scanner(XmlElementHandler& handler, std::size_t markSize)
    : handler_(handler), skip_(markSize)
{
}

char* FastUtf8Scanner::Room(std::size_t size)
{
    buffer_.resize(carried_ + size);
    return buffer_.data() + carried_;
}

bool FastUtf8Scanner::Scan(std::size_t size, bool last)
{
    char* p = buffer_.data();
    char* end = p + carried_ + size;
    const std::size_t skip = std::min(skip_, static_cast<std::size_t>(end - p));
    p += skip;
    skip_ -= skip;
    const Step step = Run(p, end, last);
    if (step == Step::Quit)
        return false;
    const auto left = static_cast<std::size_t>(end - p);
    if (last)
        return left == 0 && (place_ == Place::Epilog || place_ == Place::Padding);
    if (left > kLongestCarried)
        return false;
    std::memmove(buffer_.data(), p, left);
    carried_ = left;
    return true;
}

// Reads tokens until the bytes run out (Done), a token runs past them (More: it is read
// again with the next block) or the scanner gives up (Quit). `p` stays at the start of
// the first token not read.
FastUtf8Scanner::Step FastUtf8Scanner::Run(char*& p, char* end, bool last)
{
    while (p < end) {
        Step step = Step::Done;
        switch (place_) {
        case Place::Start:
            if (end - p < 6 && !last)
                return Step::More;
            if (StartsWith(p, end, "<?xml") && end - p > 5 && IsBlank(p[5])) {
                step = Declaration(p, end);
                if (step == Step::Done)
                    place_ = Place::Prolog;
            } else {
                place_ = Place::Prolog;
            }
            break;
        case Place::Prolog:
        case Place::Epilog:
            p = SkipBlanks(p, end);
            if (p == end)
                return Step::Done;
            if (*p == '\0' && place_ == Place::Epilog) {
                place_ = Place::Padding;
                break;
            }
            if (*p != '<')
                return Step::Quit;
            step = Markup(p, end, true);
            break;
        case Place::Content:
            step = Text(p, end);
            if (step == Step::Done && p < end)
                step = Markup(p, end, false);
            break;
        case Place::Padding:
            // Nothing but NULs and blanks after the first NUL, or expat is to say why.
            for (; p < end; ++p)
                if (*p != '\0' && !IsBlank(*p))
                    return Step::Quit;
            break;
        }
        if (step == Step::More)
            return last ? Step::Quit : Step::More;
        if (step == Step::Quit)
            return Step::Quit;
    }
    return Step::Done;
}

// The XML declaration in the one form DASTENO writes, give or take blanks and quotes:
// version 1.0, encoding UTF-8 in any case or none, standalone or not. Another version or
// encoding, or a declaration expat would refuse, is left to expat.
FastUtf8Scanner::Step FastUtf8Scanner::Declaration(char*& p, char* end)
{
    const char* close = nullptr;
    for (const char* q = p + 5; q + 1 < end; ++q) {
        if (q[0] == '?' && q[1] == '>') {
            close = q;
            break;
        }
    }
    if (close == nullptr)
        return Step::More;
    const char* q = p + 5;
    // A pseudo-attribute: blanks before it, its name, '=', a quoted value.
    const auto pseudo = [&](std::string_view name, std::string_view& value) {
        const char* at = q;
        while (at < close && IsBlank(*at))
            ++at;
        if (at == q || static_cast<std::size_t>(close - at) < name.size() ||
            std::memcmp(at, name.data(), name.size()) != 0)
            return false;
        at += name.size();
        while (at < close && IsBlank(*at))
            ++at;
        if (at == close || *at != '=')
            return false;
        ++at;
        while (at < close && IsBlank(*at))
            ++at;
        if (at == close || (*at != '"' && *at != '\''))
            return false;
        const char quote = *at++;
        const char* from = at;
        while (at < close && *at != quote)
            ++at;
        if (at == close)
            return false;
        value = std::string_view(from, static_cast<std::size_t>(at - from));
        q = at + 1;
        return true;
    };
    std::string_view version;
    std::string_view encoding;
    std::string_view standalone;
    if (!pseudo("version", version) || version != "1.0")
        return Step::Quit;
    const bool hasEncoding = pseudo("encoding", encoding);
    if (hasEncoding) {
        const bool utf8 = encoding.size() == 5 && (encoding[0] | 0x20) == 'u' &&
                          (encoding[1] | 0x20) == 't' && (encoding[2] | 0x20) == 'f' &&
                          encoding[3] == '-' && encoding[4] == '8';
        if (!utf8)
            return Step::Quit;
    }
    const bool hasStandalone = pseudo("standalone", standalone);
    if (hasStandalone && standalone != "yes" && standalone != "no")
        return Step::Quit;
    while (q < close && IsBlank(*q))
        ++q;
    if (q != close)
        return Step::Quit;
    std::string text = "<?xml version=\"" + std::string(version) + "\"";
    if (hasEncoding)
        text += " encoding=\"" + std::string(encoding) + "\"";
    if (hasStandalone)
        text += " standalone=\"" + std::string(standalone) + "\"";
    topLevel_.push_back({TopLevelNode::Kind::Declaration, text + "?>", {}, false});
    p = const_cast<char*>(close) + 2;
    return Step::Done;
}

// At a '<': the kind of markup the next bytes make. Before and after the root only
// comments and instructions come, and the root itself.
FastUtf8Scanner::Step FastUtf8Scanner::Markup(char*& p, char* end, bool topLevel)
{
    if (end - p < 2)
        return Step::More;
    const char c = p[1];
    if (c == '?')
        return Instruction(p, end, topLevel);
    if (c == '!') {
        if (end - p < 4)
            return Step::More;
        if (p[2] == '-' && p[3] == '-')
            return Comment(p, end, topLevel);
        if (topLevel)
            return Step::Quit;  // a DOCTYPE, or a fault
        if (end - p < 9)
            return Step::More;
        if (StartsWith(p, end, "<![CDATA["))
            return CData(p, end);
        return Step::Quit;
    }
    if (c == '/')
        return topLevel ? Step::Quit : EndTag(p, end);
    if ((ClassOf(c) & kNameStart) == 0)
        return Step::Quit;
    if (topLevel && place_ != Place::Prolog)
        return Step::Quit;  // a second root
    return StartTag(p, end);
}

FastUtf8Scanner::Step FastUtf8Scanner::Name(char* start, char* end, char*& after)
{
    if (start == end)
        return Step::More;
    if ((ClassOf(*start) & kNameStart) == 0)
        return Step::Quit;
    after = SkipName(start + 1, end);
    if (after == end)
        return Step::More;
    return IsAscii(*after) ? Step::Done : Step::Quit;
}

FastUtf8Scanner::Step FastUtf8Scanner::StartTag(char*& at, char* end)
{
    char* p = nullptr;
    if (const Step step = Name(at + 1, end, p); step != Step::Done)
        return step;
    char* const name = at + 1;
    char* const nameEnd = p;
    attributes_.clear();
    bool empty = false;
    for (;;) {
        if (p == end)
            return Step::More;
        char c = *p;
        if (c == '>') {
            ++p;
            break;
        }
        if (c == '/') {
            if (p + 1 == end)
                return Step::More;
            if (p[1] != '>')
                return Step::Quit;
            p += 2;
            empty = true;
            break;
        }
        if (!IsBlank(c))
            return Step::Quit;
        p = SkipBlanks(p + 1, end);
        if (p == end)
            return Step::More;
        c = *p;
        if (c == '>' || c == '/')
            continue;
        Attribute attribute{};
        attribute.name = p;
        if (const Step step = Name(attribute.name, end, p); step != Step::Done)
            return step;
        attribute.nameEnd = p;
        p = SkipBlanks(p, end);
        if (p == end)
            return Step::More;
        if (*p != '=')
            return Step::Quit;
        p = SkipBlanks(p + 1, end);
        if (p == end)
            return Step::More;
        const char quote = *p;
        if (quote != '"' && quote != '\'')
            return Step::Quit;
        attribute.value = ++p;
        attribute.plain = true;
        for (;;) {
            while (p < end && (ClassOf(*p) & kStopsValue) == 0)
                ++p;
            if (p == end)
                return Step::More;
            c = *p;
            if (c == quote)
                break;
            if (c == '"' || c == '\'') {
                ++p;
            } else if (c == '\t' || c == '\n' || c == '\r') {
                attribute.plain = false;
                ++p;
            } else if (c == '&') {
                std::uint32_t character = 0;
                const RefStep step = Reference(p, end, character);
                if (step != RefStep::Done)
                    return step == RefStep::More ? Step::More : Step::Quit;
                attribute.plain = false;
            } else if (!IsAscii(c)) {
                const int length = CharacterLength(p, end);
                if (length <= 0)
                    return length < 0 ? Step::More : Step::Quit;
                p += length;
            } else {
                return Step::Quit;  // '<', or a character XML refuses
            }
        }
        attribute.valueEnd = p++;
        if (attributes_.size() == kMostAttributes)
            return Step::Quit;
        attributes_.push_back(attribute);
    }
    for (std::size_t i = 0; i < attributes_.size(); ++i) {
        const Attribute& a = attributes_[i];
        const auto size = static_cast<std::size_t>(a.nameEnd - a.name);
        for (std::size_t j = 0; j < i; ++j) {
            const Attribute& b = attributes_[j];
            if (static_cast<std::size_t>(b.nameEnd - b.name) == size && std::memcmp(a.name, b.name, size) == 0)
                return Step::Quit;
        }
    }

    // The tag is whole and well-formed: its names and values are ended in place.
    attributeRefs_.clear();
    for (Attribute& a : attributes_) {
        *a.nameEnd = '\0';
        if (a.plain)
            *a.valueEnd = '\0';
        else
            NormaliseValueInPlace(a.value, a.valueEnd);
        attributeRefs_.push_back({a.name, a.value});
    }
    const std::string_view elementName(name, static_cast<std::size_t>(nameEnd - name));
    openStarts_.push_back(openNames_.size());
    openNames_.append(elementName);
    place_ = Place::Content;
    at = p;
    const std::size_t depth = openStarts_.size();
    handler_.StartElement(elementName, depth, attributeRefs_);
    ++eventsGiven_;
    if (empty) {
        handler_.EndElement(depth);
        ++eventsGiven_;
        openNames_.resize(openStarts_.back());
        openStarts_.pop_back();
        if (openStarts_.empty())
            place_ = Place::Epilog;
    }
    return Step::Done;
}

FastUtf8Scanner::Step FastUtf8Scanner::EndTag(char*& at, char* end)
{
    char* const name = at + 2;
    char* p = nullptr;
    if (const Step step = Name(name, end, p); step != Step::Done)
        return step;
    const std::string_view written(name, static_cast<std::size_t>(p - name));
    p = SkipBlanks(p, end);
    if (p == end)
        return Step::More;
    if (*p != '>')
        return Step::Quit;
    if (std::string_view(openNames_).substr(openStarts_.back()) != written)
        return Step::Quit;
    at = p + 1;
    handler_.EndElement(openStarts_.size());
    ++eventsGiven_;
    openNames_.resize(openStarts_.back());
    openStarts_.pop_back();
    if (openStarts_.empty())
        place_ = Place::Epilog;
    return Step::Done;
}

FastUtf8Scanner::Step FastUtf8Scanner::Comment(char*& at, char* end, bool keep)
{
    char* p = at + 4;
    for (;;) {
        while (p < end && (ClassOf(*p) & kStopsComment) == 0)
            ++p;
        if (p == end)
            return Step::More;
        if (*p == '-') {
            if (end - p < 3)
                return Step::More;
            if (p[1] != '-') {
                ++p;
                continue;
            }
            if (p[2] != '>')
                return Step::Quit;  // "--" inside a comment
            break;
        }
        if (IsAscii(*p))
            return Step::Quit;
        const int length = CharacterLength(p, end);
        if (length <= 0)
            return length < 0 ? Step::More : Step::Quit;
        p += length;
    }
    if (keep)
        topLevel_.push_back({TopLevelNode::Kind::Comment, WithLineFeeds(at + 4, p), {}, false});
    at = p + 3;
    return Step::Done;
}

FastUtf8Scanner::Step FastUtf8Scanner::Instruction(char*& at, char* end, bool keep)
{
    char* const target = at + 2;
    char* p = nullptr;
    if (const Step step = Name(target, end, p); step != Step::Done)
        return step;
    const std::string_view name(target, static_cast<std::size_t>(p - target));
    // "xml" in any case is reserved: a declaration out of place, or a fault.
    if (name.size() == 3 && (name[0] | 0x20) == 'x' && (name[1] | 0x20) == 'm' && (name[2] | 0x20) == 'l')
        return Step::Quit;
    if (*p == '?') {
        if (p + 1 == end)
            return Step::More;
        if (p[1] != '>')
            return Step::Quit;
        if (keep)
            topLevel_.push_back({TopLevelNode::Kind::Instruction, {}, std::string(name), true});
        at = p + 2;
        return Step::Done;
    }
    if (!IsBlank(*p))
        return Step::Quit;
    p = SkipBlanks(p, end);
    char* const data = p;
    for (;;) {
        while (p < end && (ClassOf(*p) & kStopsInstruction) == 0)
            ++p;
        if (p == end)
            return Step::More;
        if (*p == '?') {
            if (p + 1 == end)
                return Step::More;
            if (p[1] == '>')
                break;
            ++p;
            continue;
        }
        if (IsAscii(*p))
            return Step::Quit;
        const int length = CharacterLength(p, end);
        if (length <= 0)
            return length < 0 ? Step::More : Step::Quit;
        p += length;
    }
    if (keep)
        topLevel_.push_back({TopLevelNode::Kind::Instruction, WithLineFeeds(data, p), std::string(name), false});
    at = p + 2;
    return Step::Done;
}

FastUtf8Scanner::Step FastUtf8Scanner::CData(char*& at, char* end)
{
    char* p = at + 9;
    for (;;) {
        while (p < end && (ClassOf(*p) & kStopsCData) == 0)
            ++p;
        if (p == end)
            return Step::More;
        if (*p == ']') {
            if (end - p < 3)
                return Step::More;
            if (p[1] == ']' && p[2] == '>')
                break;
            ++p;
            continue;
        }
        if (IsAscii(*p))
            return Step::Quit;
        const int length = CharacterLength(p, end);
        if (length <= 0)
            return length < 0 ? Step::More : Step::Quit;
        p += length;
    }
    at = p + 3;
    return Step::Done;
}

// Character data up to the next markup: not handed on, but checked as expat checks it.
FastUtf8Scanner::Step FastUtf8Scanner::Text(char*& p, char* end)
{
    for (;;) {
        while (p < end && (ClassOf(*p) & kStopsText) == 0)
            ++p;
        if (p == end)
            return Step::Done;
        const char c = *p;
        if (c == '<')
            return Step::Done;
        if (c == '&') {
            std::uint32_t character = 0;
            const RefStep step = Reference(p, end, character);
            if (step != RefStep::Done)
                return step == RefStep::More ? Step::More : Step::Quit;
            continue;
        }
        if (c == ']') {
            if (end - p < 3)
                return Step::More;
            if (p[1] == ']' && p[2] == '>')
                return Step::Quit;
            ++p;
            continue;
        }
        if (IsAscii(c))
            return Step::Quit;
        const int length = CharacterLength(p, end);
        if (length <= 0)
            return length < 0 ? Step::More : Step::Quit;
        p += length;
    }
}

}  // namespace pasarela::xml_detail
