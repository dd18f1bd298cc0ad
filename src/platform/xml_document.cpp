#include "platform/xml_document.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <new>
#include <system_error>
#include <utility>

#include <pugixml.hpp>

#include "platform/atomic_file.h"
#include "platform/file.h"
#include "platform/text.h"

namespace pasarela {
namespace {

namespace fs = std::filesystem;
using TextEncoding = XmlDocument::TextEncoding;
using ByteSink = std::function<void(std::string_view)>;

// Top-level comments, PIs and the DOCTYPE are kept so that saving gives them back to
// DASTENO unchanged. pugixml never expands custom entities nor opens what a DOCTYPE names.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration |
                                   pugi::parse_comments | pugi::parse_pi | pugi::parse_doctype;
// The declaration node, when the file had one, is written as a node like any other.
constexpr unsigned kFormatOptions = pugi::format_raw | pugi::format_no_declaration;

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeByteOrderMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeByteOrderMark = "\xFE\xFF";
constexpr char32_t kReplacementCharacter = 0xFFFD;

// A buffer that pugixml may own: it frees such buffers with its own deallocator.
struct PugiFree {
    void operator()(char* memory) const noexcept
    {
        pugi::get_memory_deallocation_function()(memory);
    }
};
using PugiBuffer = std::unique_ptr<char, PugiFree>;

// A file's text, first as read and then as UTF-8.
struct TextBuffer {
    PugiBuffer bytes;
    std::size_t size = 0;

    std::string_view View() const { return {bytes.get(), size}; }
};

TextBuffer AllocateText(std::size_t size)
{
    void* memory = pugi::get_memory_allocation_function()(size == 0 ? 1 : size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return {PugiBuffer(static_cast<char*>(memory)), size};
}

TextBuffer CopyText(std::string_view text)
{
    TextBuffer copy = AllocateText(text.size());
    std::memcpy(copy.bytes.get(), text.data(), text.size());
    return copy;
}

std::string Quoted(const fs::path& path)
{
    return "'" + DisplayPath(path) + "'";
}

TextBuffer ReadWholeFile(const fs::path& path)
{
    std::error_code statusError;
    const fs::file_status status = fs::status(path, statusError);
    if (!fs::exists(status)) {
        throw Error("No existe el archivo " + Quoted(path));
    }
    if (fs::is_directory(status)) {
        throw Error(Quoted(path) + " es una carpeta, no un archivo XML");
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int reason = errno;
        if (reason == EACCES || reason == EPERM) {
            throw Error("No se puede leer el archivo " + Quoted(path) +
                        ": no hay permiso o está en uso por otro programa");
        }
        throw Error("No se puede abrir el archivo " + Quoted(path) +
                    (reason != 0 ? ": " + std::generic_category().message(reason) : ""));
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || !in) {
        throw Error("No se puede leer el archivo " + Quoted(path));
    }
    TextBuffer text = AllocateText(static_cast<std::size_t>(size));
    in.read(text.bytes.get(), static_cast<std::streamsize>(size));
    if (in.gcount() != static_cast<std::streamsize>(size)) {
        throw Error("No se puede leer el archivo " + Quoted(path) + " entero");
    }
    return text;
}

void AppendUtf8(char32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes the character at the start of `text` into `cp` and returns its length in bytes,
// or 0 when `text` ends inside it. A malformed byte gives U+FFFD and length 1.
std::size_t DecodeUtf8(std::string_view text, char32_t& cp)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07u;
    } else {
        cp = kReplacementCharacter;
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (i == text.size()) {
            return 0;
        }
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            cp = kReplacementCharacter;
            return 1;
        }
        cp = (cp << 6) | (next & 0x3Fu);
    }
    const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
    if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        cp = kReplacementCharacter;
        return 1;
    }
    return length;
}

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
        AppendUtf8(cp >= 0xD800 && cp <= 0xDFFF ? kReplacementCharacter : cp, out);
    }
    if (i < bytes.size()) {
        AppendUtf8(kReplacementCharacter, out);
    }
    return out;
}

bool IsXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.' || c == ':';
}

// The encoding that the XML declaration names, if it names one. Only ASCII is looked at,
// so the raw bytes of any encoding that agrees with ASCII can be given.
std::optional<std::string> DeclaredEncoding(std::string_view text)
{
    constexpr std::string_view kStart = "<?xml";
    if (!text.starts_with(kStart) || text.size() == kStart.size() ||
        !IsXmlSpace(text[kStart.size()])) {
        return std::nullopt;
    }
    std::size_t pos = kStart.size();
    const auto skipSpace = [&] {
        while (pos < text.size() && IsXmlSpace(text[pos])) {
            ++pos;
        }
    };
    for (;;) {
        skipSpace();
        const std::size_t nameStart = pos;
        while (pos < text.size() && IsNameChar(text[pos])) {
            ++pos;
        }
        const std::string_view name = text.substr(nameStart, pos - nameStart);
        skipSpace();
        if (name.empty() || pos == text.size() || text[pos] != '=') {
            return std::nullopt;
        }
        ++pos;
        skipSpace();
        if (pos == text.size() || (text[pos] != '"' && text[pos] != '\'')) {
            return std::nullopt;
        }
        const std::size_t close = text.find(text[pos], pos + 1);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view value = text.substr(pos + 1, close - pos - 1);
        pos = close + 1;
        if (name == "encoding") {
            return std::string(value);
        }
    }
}

// Encoding names are compared without case and without the separators that their many
// spellings disagree on ("ISO_8859-1", "iso-8859-1", "latin1").
std::optional<TextEncoding> EncodingByName(std::string_view name)
{
    std::string key;
    for (const char c : name) {
        if (c == '-' || c == '_' || c == ' ' || c == ':') {
            continue;
        }
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    struct Alias {
        std::string_view key;
        TextEncoding encoding;
    };
    static constexpr Alias kAliases[] = {
        {"utf8", TextEncoding::Utf8},
        {"utf16", TextEncoding::Utf16},
        {"iso88591", TextEncoding::Iso8859_1},
        {"iso885911987", TextEncoding::Iso8859_1},
        {"latin1", TextEncoding::Iso8859_1},
        {"isolatin1", TextEncoding::Iso8859_1},
        {"l1", TextEncoding::Iso8859_1},
        {"isoir100", TextEncoding::Iso8859_1},
        {"ibm819", TextEncoding::Iso8859_1},
        {"cp819", TextEncoding::Iso8859_1},
        {"csisolatin1", TextEncoding::Iso8859_1},
        {"windows1252", TextEncoding::Windows1252},
        {"cp1252", TextEncoding::Windows1252},
        {"xcp1252", TextEncoding::Windows1252},
    };
    for (const Alias& alias : kAliases) {
        if (alias.key == key) {
            return alias.encoding;
        }
    }
    return std::nullopt;
}

CodePage SingleByteCodePage(TextEncoding encoding)
{
    return encoding == TextEncoding::Iso8859_1 ? CodePage::Iso8859_1 : CodePage::Windows1252;
}

struct DecodedFile {
    TextBuffer text;
    TextEncoding encoding;
    bool byteOrderMark;
};

struct ByteOrder {
    bool utf8Mark = false;
    bool utf16 = false;
    bool bigEndian = false;
    std::size_t markSize = 0;
};

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
    // Without a mark, the zero bytes around "<?" still give UTF-16 away.
    if (raw.starts_with(std::string_view("<\0?\0", 4))) {
        return {false, true, false, 0};
    }
    if (raw.starts_with(std::string_view("\0<\0?", 4))) {
        return {false, true, true, 0};
    }
    return {};
}

// The file as UTF-8 without BOM, and the encoding to save it in: the one its declaration
// names, else the one it was read in.
DecodedFile ReadAsUtf8(const fs::path& path)
{
    TextBuffer text = ReadWholeFile(path);
    const ByteOrder order = DetectByteOrder(text.View());
    if (order.utf16) {
        text = CopyText(Utf16ToUtf8(text.View().substr(order.markSize), order.bigEndian));
    } else if (order.utf8Mark) {
        // pugixml would skip the mark too, but error offsets must count from the text.
        std::memmove(text.bytes.get(), text.bytes.get() + order.markSize,
                     text.size - order.markSize);
        text.size -= order.markSize;
    }

    const std::optional<std::string> declared = DeclaredEncoding(text.View());
    if (!declared) {
        return {std::move(text), order.utf16 ? TextEncoding::Utf16 : TextEncoding::Utf8,
                order.utf8Mark};
    }
    const std::optional<TextEncoding> encoding = EncodingByName(*declared);
    if (!encoding) {
        throw Error("El archivo " + Quoted(path) + " usa la codificación '" + *declared +
                    "', que no se admite");
    }
    // A byte order mark outweighs the declaration, as XML parsers agree.
    const bool singleByte =
        *encoding == TextEncoding::Iso8859_1 || *encoding == TextEncoding::Windows1252;
    if (singleByte && !order.utf16 && !order.utf8Mark) {
        text = CopyText(DecodeToUtf8(text.View(), SingleByteCodePage(*encoding)));
    }
    return {std::move(text), *encoding, order.utf8Mark && *encoding == TextEncoding::Utf8};
}

struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 1;
};

TextPosition Locate(std::string_view text, std::size_t offset)
{
    TextPosition at;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        if (c == '\n' || c == '\r') {
            ++at.line;
            at.column = 1;
        } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++at.column;
        }
    }
    return at;
}

[[noreturn]] void ThrowParseError(const fs::path& path, std::ptrdiff_t offset,
                                  std::string_view reason)
{
    // Parsing in place overwrites the text, so the position is counted on a fresh read:
    // cheaper than keeping a second copy of every document for the rare faulty one.
    const DecodedFile again = ReadAsUtf8(path);
    const TextPosition at =
        Locate(again.text.View(), offset < 0 ? 0 : static_cast<std::size_t>(offset));
    throw XmlParseError("El archivo " + Quoted(path) + " no es un XML válido (línea " +
                            std::to_string(at.line) + ", columna " + std::to_string(at.column) +
                            "): " + std::string(reason),
                        at.line, at.column);
}

// pugixml accepts a second top-level element; XML does not, and the export would write a
// document with two roots.
std::optional<pugi::xml_node> SecondRoot(const pugi::xml_document& document)
{
    bool seenRoot = false;
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element) {
            continue;
        }
        if (seenRoot) {
            return node;
        }
        seenRoot = true;
    }
    return std::nullopt;
}

// The characters of bytes 0x80 to 0xFF, taken from the decoder so that reading and
// writing agree on every byte.
std::array<char32_t, 128> UpperHalf(CodePage codePage)
{
    std::string bytes;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        bytes += static_cast<char>(byte);
    }
    const std::string utf8 = DecodeToUtf8(bytes, codePage);
    std::array<char32_t, 128> table{};
    table.fill(kReplacementCharacter);
    std::string_view rest = utf8;
    for (char32_t& entry : table) {
        if (rest.empty()) {
            break;
        }
        const std::size_t length = DecodeUtf8(rest, entry);
        rest.remove_prefix(length == 0 ? rest.size() : length);
    }
    return table;
}

const std::array<char32_t, 128>& UpperHalf(TextEncoding encoding)
{
    static const std::array<char32_t, 128> kIso8859_1 = UpperHalf(CodePage::Iso8859_1);
    static const std::array<char32_t, 128> kWindows1252 = UpperHalf(CodePage::Windows1252);
    return encoding == TextEncoding::Iso8859_1 ? kIso8859_1 : kWindows1252;
}

// Turns pugixml's UTF-8 output into the target encoding as it comes. A chunk may end inside
// a character, whose first bytes wait for the next chunk. What the sink throws is kept and
// rethrown by Finish, so that no exception has to cross the library.
class TranscodingWriter final : public pugi::xml_writer {
public:
    TranscodingWriter(TextEncoding encoding, const ByteSink& sink)
        : encoding_(encoding), sink_(sink)
    {
        if (encoding_ == TextEncoding::Iso8859_1 || encoding_ == TextEncoding::Windows1252) {
            upperHalf_ = &UpperHalf(encoding_);
        }
    }

    void write(const void* data, std::size_t size) override
    {
        if (error_) {
            return;
        }
        try {
            Transcode({static_cast<const char*>(data), size});
        } catch (...) {
            error_ = std::current_exception();
        }
    }

    void Finish()
    {
        if (!error_ && !pending_.empty()) {
            std::string out;
            Encode(kReplacementCharacter, out);
            pending_.clear();
            sink_(out);
        }
        if (error_) {
            std::rethrow_exception(error_);
        }
    }

private:
    void Transcode(std::string_view chunk)
    {
        if (encoding_ == TextEncoding::Utf8) {
            sink_(chunk);
            return;
        }
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
            char32_t cp = 0;
            const std::size_t length = DecodeUtf8(chunk, cp);
            if (length == 0) {
                pending_ = chunk;
                break;
            }
            Encode(cp, out);
            chunk.remove_prefix(length);
        }
        sink_(out);
    }

    void Encode(char32_t cp, std::string& out) const
    {
        if (encoding_ == TextEncoding::Utf16) {
            const auto appendUnit = [&out](char32_t unit) {
                out += static_cast<char>(unit & 0xFF);
                out += static_cast<char>(unit >> 8);
            };
            if (cp < 0x10000) {
                appendUnit(cp);
                return;
            }
            appendUnit(0xD800 + ((cp - 0x10000) >> 10));
            appendUnit(0xDC00 + ((cp - 0x10000) & 0x3FF));
            return;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            return;
        }
        const std::array<char32_t, 128>& upper = *upperHalf_;
        if (cp < 0x100 && upper[cp - 0x80] == cp) {
            out += static_cast<char>(cp);
            return;
        }
        // U+FFFD marks the bytes the code page leaves undefined, so it is never one of them.
        for (std::size_t i = 0; i < upper.size() && cp != kReplacementCharacter; ++i) {
            if (upper[i] == cp) {
                out += static_cast<char>(0x80 + i);
                return;
            }
        }
        out += "&#" + std::to_string(static_cast<std::uint32_t>(cp)) + ";";
    }

    TextEncoding encoding_;
    const ByteSink& sink_;
    const std::array<char32_t, 128>* upperHalf_ = nullptr;
    std::string pending_;
    std::exception_ptr error_;
};

// `tail`, when given, writes UTF-8 text after the document's own nodes, through the same
// transcoding.
void WriteDocument(const pugi::xml_document& document, TextEncoding encoding, bool byteOrderMark,
                   const ByteSink& sink, const std::function<void(const ByteSink&)>* tail = nullptr)
{
    if (encoding == TextEncoding::Utf16) {
        sink(kUtf16LeByteOrderMark);
    } else if (encoding == TextEncoding::Utf8 && byteOrderMark) {
        sink(kUtf8ByteOrderMark);
    }
    TranscodingWriter writer(encoding, sink);
    document.save(writer, "", kFormatOptions, pugi::encoding_utf8);
    if (tail != nullptr) {
        const ByteSink throughWriter = [&writer](std::string_view text) {
            writer.write(text.data(), text.size());
        };
        (*tail)(throughWriter);
    }
    writer.Finish();
}

// Absolute paths of element names only: "/centro/materias/dmateria".
std::vector<std::string_view> SplitPath(std::string_view absolutePath)
{
    if (!absolutePath.starts_with('/')) {
        throw Error("La ruta XML '" + std::string(absolutePath) + "' no empieza por '/'");
    }
    std::vector<std::string_view> names;
    std::string_view rest = absolutePath.substr(1);
    for (;;) {
        const std::size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        if (name.empty()) {
            throw Error("La ruta XML '" + std::string(absolutePath) +
                        "' tiene un nombre de elemento vacío");
        }
        names.push_back(name);
        if (slash == std::string_view::npos) {
            return names;
        }
        rest.remove_prefix(slash + 1);
    }
}

void CheckAllocated(bool succeeded)
{
    if (!succeeded) {
        throw std::bad_alloc();
    }
}

pugi::xml_node AppendNamedElement(pugi::xml_node parent, std::string_view name)
{
    pugi::xml_node element = parent.append_child(pugi::node_element);
    CheckAllocated(element && element.set_name(std::string(name).c_str()));
    return element;
}

}  // namespace

std::string_view XmlElement::Name() const
{
    return pugi::xml_node(node_).name();
}

std::optional<std::string_view> XmlElement::Attribute(std::string_view name) const
{
    for (pugi::xml_attribute attribute = pugi::xml_node(node_).first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        if (NameIs(attribute.name(), name))
            return std::string_view(attribute.value());
    }
    return std::nullopt;
}

std::size_t XmlElement::Attributes(std::span<XmlAttributeRef> out) const
{
    std::size_t count = 0;
    for (pugi::xml_attribute attribute = pugi::xml_node(node_).first_attribute(); attribute;
         attribute = attribute.next_attribute(), ++count) {
        if (count < out.size())
            out[count] = {attribute.name(), attribute.value()};
    }
    return count;
}

XmlElement XmlElement::AppendElement(std::string_view name)
{
    return XmlElement(AppendNamedElement(pugi::xml_node(node_), name).internal_object());
}

void XmlElement::SetAttribute(std::string_view name, std::string_view value)
{
    pugi::xml_node node(node_);
    pugi::xml_attribute attribute = node.first_attribute();
    while (attribute && name != attribute.name()) {
        attribute = attribute.next_attribute();
    }
    if (!attribute) {
        attribute = node.append_attribute(std::string(name).c_str());
        CheckAllocated(static_cast<bool>(attribute));
    }
    CheckAllocated(attribute.set_value(value.data(), value.size()));
}

void XmlElement::SetAttribute(std::string_view name, int value)
{
    SetAttribute(name, std::to_string(value));
}

// The parser's reasons in the user's language.
static const char* ParseProblem(pugi::xml_parse_status status)
{
    switch (status) {
    case pugi::status_file_not_found: return "no se encuentra el archivo";
    case pugi::status_io_error: return "no se pudo leer el archivo";
    case pugi::status_unrecognized_tag: return "etiqueta no reconocida";
    case pugi::status_bad_pi: return "instrucción de proceso o declaración XML mal formada";
    case pugi::status_bad_comment: return "comentario mal formado";
    case pugi::status_bad_cdata: return "sección CDATA mal formada";
    case pugi::status_bad_doctype: return "declaración DOCTYPE mal formada";
    case pugi::status_bad_pcdata: return "texto mal formado";
    case pugi::status_bad_start_element: return "etiqueta de apertura mal formada";
    case pugi::status_bad_attribute: return "atributo mal formado";
    case pugi::status_bad_end_element: return "etiqueta de cierre mal formada";
    case pugi::status_end_element_mismatch: return "la etiqueta de cierre no corresponde a la de apertura";
    case pugi::status_append_invalid_root: return "el documento no puede tener ese nodo raíz";
    case pugi::status_no_document_element: return "el documento no tiene ningún elemento";
    default: return "el archivo no es XML válido";
    }
}

XmlDocument::XmlDocument() : document_(std::make_unique<pugi::xml_document>()) {}

XmlDocument::XmlDocument(XmlDocument&& other) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&& other) noexcept = default;
XmlDocument::~XmlDocument() = default;

XmlDocument XmlDocument::Load(const fs::path& path)
{
    DecodedFile file = ReadAsUtf8(path);
    // XML allows no NUL character, and pugixml takes the first one for the end of the text:
    // what follows would be dropped unseen, or the parser would blame the wrong place. Only
    // padding of NULs and blanks after the document is let through, as before.
    const std::string_view text = file.text.View();
    if (const std::size_t nul = text.find('\0');
        nul != std::string_view::npos &&
        text.find_first_not_of(std::string_view("\0 \t\r\n", 5), nul) != std::string_view::npos) {
        ThrowParseError(path, static_cast<std::ptrdiff_t>(nul),
                        "contiene un carácter nulo (byte 0), que XML no admite");
    }
    XmlDocument loaded;
    loaded.encoding_ = file.encoding;
    loaded.byteOrderMark_ = file.byteOrderMark;
    const std::size_t size = file.text.size;
    // The document takes the buffer whether or not parsing succeeds.
    const pugi::xml_parse_result result = loaded.document_->load_buffer_inplace_own(
        file.text.bytes.release(), size, kParseOptions, pugi::encoding_utf8);
    if (result.status == pugi::status_out_of_memory) {
        throw Error("No hay memoria suficiente para leer el archivo " + Quoted(path));
    }
    if (!result) {
        ThrowParseError(path, result.offset, ParseProblem(result.status));
    }
    if (const std::optional<pugi::xml_node> second = SecondRoot(*loaded.document_)) {
        // offset_debug() points at the name, one past the '<'.
        ThrowParseError(path, second->offset_debug() - 1, "hay más de un elemento raíz");
    }
    return loaded;
}

std::string_view XmlDocument::Encoding() const
{
    switch (encoding_) {
    case TextEncoding::Utf8:
        return "UTF-8";
    case TextEncoding::Utf16:
        return "UTF-16";
    case TextEncoding::Iso8859_1:
        return "ISO-8859-1";
    case TextEncoding::Windows1252:
        return "windows-1252";
    }
    return "UTF-8";
}

std::optional<XmlElement> XmlDocument::Root() const
{
    const pugi::xml_node root = document_->document_element();
    if (!root) {
        return std::nullopt;
    }
    return XmlElement(root.internal_object());
}

std::vector<XmlElement> XmlDocument::SelectElements(std::string_view absolutePath) const
{
    const std::vector<std::string_view> names = SplitPath(absolutePath);
    // Walking level by level keeps document order: the parents are in order and their
    // subtrees do not overlap.
    std::vector<pugi::xml_node> level;
    const pugi::xml_node root = document_->document_element();
    if (root && names.front() == root.name()) {
        level.push_back(root);
    }
    for (std::size_t depth = 1; depth < names.size() && !level.empty(); ++depth) {
        std::vector<pugi::xml_node> next;
        for (const pugi::xml_node parent : level) {
            for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
                if (child.type() == pugi::node_element && names[depth] == child.name()) {
                    next.push_back(child);
                }
            }
        }
        level = std::move(next);
    }
    std::vector<XmlElement> elements;
    elements.reserve(level.size());
    for (const pugi::xml_node node : level) {
        elements.push_back(XmlElement(node.internal_object()));
    }
    return elements;
}

std::optional<XmlElement> XmlDocument::SelectFirst(std::string_view absolutePath) const
{
    std::vector<XmlElement> elements = SelectElements(absolutePath);
    if (elements.empty()) {
        return std::nullopt;
    }
    return elements.front();
}

void XmlDocument::RemoveRoot()
{
    if (!document_->document_element()) {
        return;
    }
    // pugixml frees a removed subtree recursively, one stack frame per level: a file nested
    // a million deep would overflow the stack. The other top-level nodes (declaration,
    // comments, DOCTYPE) have no children, so they move to a fresh document instead, and
    // the old one is freed whole, page by page.
    auto rest = std::make_unique<pugi::xml_document>();
    for (pugi::xml_node node = document_->first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element) {
            CheckAllocated(static_cast<bool>(rest->append_copy(node)));
        }
    }
    document_ = std::move(rest);
}

XmlElement XmlDocument::AppendRoot(std::string_view name)
{
    if (const pugi::xml_node root = document_->document_element()) {
        throw Error("No se puede añadir el elemento raíz '" + std::string(name) +
                    "': el documento XML ya tiene el elemento raíz '" + root.name() + "'");
    }
    return XmlElement(AppendNamedElement(*document_, name).internal_object());
}

void XmlDocument::Save(const fs::path& path) const
{
    AtomicFile file(path);
    WriteDocument(*document_, encoding_, byteOrderMark_,
                  [&file](std::string_view bytes) { file.Write(bytes); });
    file.Commit();
}

void XmlStreamWriter::Flush()
{
    if (!buffer_.empty()) {
        out_(buffer_);
        buffer_.clear();
    }
}

void XmlStreamWriter::StartElement(std::string_view name)
{
    if (startTagOpen_) {
        Put(">");
    }
    Put("<");
    Put(name);
    open_.emplace_back(name);
    startTagOpen_ = true;
}

void XmlStreamWriter::Attribute(std::string_view name, std::string_view value)
{
    if (!startTagOpen_) {
        throw Error("Atributo '" + std::string(name) + "' fuera de una etiqueta de apertura");
    }
    Put(" ");
    Put(name);
    Put("=\"");
    // As pugixml escapes attribute values: & < " and control characters; a NUL ends the
    // value there, as it does for a value stored in a tree.
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c >= 32 && c != '&' && c != '<' && c != '"') {
            continue;
        }
        Put(value.substr(start, i - start));
        start = i + 1;
        if (c == 0) {
            start = value.size();
            break;
        }
        if (c == '&') {
            Put("&amp;");
        } else if (c == '<') {
            Put("&lt;");
        } else if (c == '"') {
            Put("&quot;");
        } else {
            const char reference[] = {'&', '#', static_cast<char>('0' + c / 10), static_cast<char>('0' + c % 10), ';'};
            Put(std::string_view(reference, sizeof reference));
        }
    }
    if (start < value.size()) {
        Put(value.substr(start));
    }
    Put("\"");
}

void XmlStreamWriter::Attribute(std::string_view name, int value)
{
    Attribute(name, std::to_string(value));
}

void XmlStreamWriter::EndElement()
{
    if (open_.empty()) {
        throw Error("No hay ningún elemento abierto que cerrar");
    }
    if (startTagOpen_) {
        Put("/>");
    } else {
        Put("</");
        Put(open_.back());
        Put(">");
    }
    open_.pop_back();
    startTagOpen_ = false;
}

void XmlDocument::SaveWithStreamedRoot(const fs::path& path,
                                       const std::function<void(XmlStreamWriter&)>& writeRoot) const
{
    if (document_->document_element()) {
        throw Error("El documento XML ya tiene elemento raíz");
    }
    AtomicFile file(path);
    const std::function<void(const ByteSink&)> tail = [&writeRoot](const ByteSink& out) {
        XmlStreamWriter writer(out);
        writeRoot(writer);
        if (!writer.open_.empty()) {
            throw Error("El elemento '" + writer.open_.back() + "' quedó sin cerrar");
        }
        writer.Flush();
    };
    WriteDocument(*document_, encoding_, byteOrderMark_, [&file](std::string_view bytes) { file.Write(bytes); },
                  &tail);
    file.Commit();
}

std::string XmlDocument::SaveToString() const
{
    std::string bytes;
    WriteDocument(*document_, encoding_, byteOrderMark_,
                  [&bytes](std::string_view chunk) { bytes += chunk; });
    return bytes;
}

}  // namespace pasarela
