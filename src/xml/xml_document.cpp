#include "xml/xml_document.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>

#include <expat.h>
#include <pugixml.hpp>

#include "os/atomic_file.h"
#include "os/file.h"
#include "text/text.h"
#include "xml/xml_encoding.h"
#include "xml/xml_well_formed.h"

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
    if (memory == nullptr)
        throw std::bad_alloc();
    return {PugiBuffer(static_cast<char*>(memory)), size};
}

TextBuffer CopyText(std::string_view text)
{
    TextBuffer copy = AllocateText(text.size());
    std::memcpy(copy.bytes.get(), text.data(), text.size());
    return copy;
}

TextBuffer ReadWholeFile(const fs::path& path)
{
    std::error_code statusError;
    const fs::file_status status = fs::status(path, statusError);
    if (!fs::exists(status))
        throw Error("No existe el archivo " + QuotedPath(path));
    if (fs::is_directory(status))
        throw Error(QuotedPath(path) + " es una carpeta, no un archivo XML");
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int reason = errno;
        if (reason == EACCES || reason == EPERM)
            throw Error("No se puede leer el archivo " + QuotedPath(path) +
                        ": no hay permiso o está en uso por otro programa");
        throw Error("No se puede abrir el archivo " + QuotedPath(path) +
                    (reason != 0 ? ": " + std::generic_category().message(reason) : ""));
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || !in)
        throw Error("No se puede leer el archivo " + QuotedPath(path));
    TextBuffer text = AllocateText(static_cast<std::size_t>(size));
    in.read(text.bytes.get(), static_cast<std::streamsize>(size));
    if (in.gcount() != static_cast<std::streamsize>(size))
        throw Error("No se puede leer el archivo " + QuotedPath(path) + " entero");
    return text;
}

struct DecodedFile {
    TextBuffer text;
    TextEncoding encoding;
    bool byteOrderMark;
    std::size_t documentSize;  // bytes of the file, as it is, that the document takes
    bool utf8AsRead;           // the text is the file's own bytes (but a BOM), as UTF-8
};

// The file as UTF-8 without BOM, and the encoding to save it in: the one its declaration
// names, else the one it was read in. Whether the bytes are right for that encoding is
// left to the well-formedness check, which reads the file as it is.
DecodedFile ReadAsUtf8(const fs::path& path)
{
    TextBuffer text = ReadWholeFile(path);
    const std::size_t documentSize = DocumentSize(text.View());
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
                order.utf8Mark, documentSize, !order.utf16};
    }
    const std::optional<TextEncoding> encoding = EncodingByName(*declared);
    if (!encoding)
        throw Error("El archivo " + QuotedPath(path) + " usa la codificación '" + *declared +
                    "', que no se admite (se admiten " + SupportedEncodings() + ")");
    // A byte order mark outweighs the declaration, as XML parsers agree.
    const std::optional<CodePage> codePage = CodePageOf(*encoding);
    if (codePage && *codePage != CodePage::UsAscii && !order.utf16 && !order.utf8Mark)
        text = CopyText(DecodeToUtf8(text.View(), *codePage));
    return {std::move(text), *encoding, order.utf8Mark && *encoding == TextEncoding::Utf8,
            documentSize, !order.utf16 && *encoding == TextEncoding::Utf8};
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
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
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
    throw XmlParseError("El archivo " + QuotedPath(path) + " no es un XML válido (línea " +
                            std::to_string(at.line) + ", columna " + std::to_string(at.column) +
                            "): " + std::string(reason),
                        at.line, at.column);
}

// Turns pugixml's UTF-8 output into the target encoding as it comes. What the sink throws
// is kept and rethrown by Finish, so that no exception has to cross the library.
class TranscodingWriter final : public pugi::xml_writer {
public:
    TranscodingWriter(TextEncoding encoding, const ByteSink& sink)
        : encoding_(encoding), sink_(sink), transcoder_(encoding)
    {
    }

    void write(const void* data, std::size_t size) override
    {
        if (error_)
            return;
        try {
            Transcode({static_cast<const char*>(data), size});
        } catch (...) {
            error_ = std::current_exception();
        }
    }

    void Finish()
    {
        if (!error_) {
            if (const std::string rest = transcoder_.Finish(); !rest.empty())
                sink_(rest);
        }
        if (error_)
            std::rethrow_exception(error_);
    }

private:
    void Transcode(std::string_view chunk)
    {
        if (encoding_ == TextEncoding::Utf8) {
            sink_(chunk);
            return;
        }
        sink_(transcoder_.Transcode(chunk));
    }

    TextEncoding encoding_;
    const ByteSink& sink_;
    Utf8Transcoder transcoder_;
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

// The reasons of the conformant reader, in the user's language.
const char* ExpatProblem(XML_Error code)
{
    switch (code) {
    case XML_ERROR_NO_MEMORY: return "no hay memoria suficiente";
    case XML_ERROR_SYNTAX: return "error de sintaxis";
    case XML_ERROR_NO_ELEMENTS: return "el documento no tiene ningún elemento";
    case XML_ERROR_INVALID_TOKEN: return "carácter o marca no válidos";
    case XML_ERROR_UNCLOSED_TOKEN: return "marca sin cerrar";
    case XML_ERROR_PARTIAL_CHAR: return "carácter incompleto";
    case XML_ERROR_TAG_MISMATCH: return "la etiqueta de cierre no corresponde a la de apertura";
    case XML_ERROR_DUPLICATE_ATTRIBUTE: return "atributo repetido en el mismo elemento";
    case XML_ERROR_JUNK_AFTER_DOC_ELEMENT: return "hay contenido después del elemento raíz";
    case XML_ERROR_PARAM_ENTITY_REF: return "referencia a una entidad de parámetro fuera de la DTD";
    case XML_ERROR_UNDEFINED_ENTITY: return "referencia a una entidad no declarada";
    case XML_ERROR_RECURSIVE_ENTITY_REF: return "una entidad se contiene a sí misma";
    case XML_ERROR_ASYNC_ENTITY: return "una entidad no cierra lo que abre";
    case XML_ERROR_BAD_CHAR_REF: return "referencia a un carácter que XML no admite";
    case XML_ERROR_BINARY_ENTITY_REF: return "referencia a una entidad no analizable";
    case XML_ERROR_ATTRIBUTE_EXTERNAL_ENTITY_REF:
        return "un atributo hace referencia a una entidad externa";
    case XML_ERROR_MISPLACED_XML_PI:
        return "la declaración XML no está al principio del archivo";
    case XML_ERROR_UNKNOWN_ENCODING: return "codificación que no se admite";
    case XML_ERROR_INCORRECT_ENCODING:
        return "la codificación declarada no corresponde a la del archivo";
    case XML_ERROR_UNCLOSED_CDATA_SECTION: return "sección CDATA sin cerrar";
    case XML_ERROR_EXTERNAL_ENTITY_HANDLING:
        return "hace referencia a una entidad externa, que no se lee";
    case XML_ERROR_ENTITY_DECLARED_IN_PE:
        return "entidad declarada dentro de una entidad de parámetro";
    case XML_ERROR_INCOMPLETE_PE: return "entidad de parámetro incompleta";
    case XML_ERROR_XML_DECL: return "declaración XML mal formada";
    case XML_ERROR_TEXT_DECL: return "declaración de texto mal formada";
    case XML_ERROR_PUBLICID: return "identificador público con caracteres no válidos";
    case XML_ERROR_RESERVED_PREFIX_XML:
    case XML_ERROR_RESERVED_PREFIX_XMLNS:
    case XML_ERROR_RESERVED_NAMESPACE_URI: return "uso no válido de un prefijo reservado";
    case XML_ERROR_AMPLIFICATION_LIMIT_BREACH:
        return "las entidades declaradas en el archivo se expanden a un texto desmesurado";
    default: return "el archivo no es XML válido";
    }
}

// Where and why a file is not well-formed XML.
struct XmlFault {
    std::size_t line = 1;
    std::size_t column = 1;
    std::string reason;
};

XmlParseError FaultError(const fs::path& path, const XmlFault& fault)
{
    return XmlParseError("El archivo " + QuotedPath(path) + " no es un XML válido (línea " +
                             std::to_string(fault.line) + ", columna " +
                             std::to_string(fault.column) + "): " + fault.reason,
                         fault.line, fault.column);
}

// Expat's view of an encoding it does not know by itself: single-byte pages through their
// table, UTF-8 under another spelling ("utf8") through its decoder.
int ConvertUtf8(void*, const char* bytes)
{
    const auto lead = static_cast<unsigned char>(bytes[0]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    const Utf8Char read = ReadUtf8Char(std::string_view(bytes, length));
    return read.length == length ? static_cast<int>(read.codePoint) : -1;
}

int XMLCALL OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info)
{
    const std::optional<TextEncoding> encoding = EncodingByName(name);
    if (!encoding || IsUtf16(*encoding))
        return XML_STATUS_ERROR;
    for (int byte = 0; byte < 0x80; ++byte)
        info->map[byte] = byte;
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    if (*encoding == TextEncoding::Utf8) {
        for (int byte = 0x80; byte <= 0xFF; ++byte)
            info->map[byte] = byte >= 0xC2 && byte <= 0xDF   ? -2
                              : byte >= 0xE0 && byte <= 0xEF ? -3
                              : byte >= 0xF0 && byte <= 0xF4 ? -4
                                                             : -1;
        info->convert = ConvertUtf8;
        return XML_STATUS_OK;
    }
    // A byte that the page leaves undefined is not a character: the file is refused there.
    const CodePage codePage = *CodePageOf(*encoding);
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const char32_t cp = DecodeByte(static_cast<unsigned char>(byte), codePage);
        info->map[byte] = cp == kReplacementCharacter ? -1 : static_cast<int>(cp);
    }
    return XML_STATUS_OK;
}

// Reads a file with expat, a conformant parser: it refuses whatever is not well-formed,
// expands the entities that the file declares itself (within a fixed budget, so that a
// file of nested entities fails at once) and reads no external entity. Given a tree, it
// builds the document there as pugixml would have parsed it: elements, attributes, text
// that is not only blanks, comments, processing instructions, the declaration and the
// DOCTYPE (`doctype`, as the file spells it).
class ExpatReader {
public:
    ExpatReader(pugi::xml_document* tree, std::string doctype)
        : parser_(XML_ParserCreate(nullptr)), tree_(tree), doctype_(std::move(doctype))
    {
        if (parser_ == nullptr)
            throw std::bad_alloc();
        if (tree_ != nullptr)
            open_.push_back(*tree_);
        XML_SetUserData(parser_, this);
        XML_SetUnknownEncodingHandler(parser_, OnUnknownEncoding, nullptr);
        XML_SetElementHandler(parser_, OnStart, OnEnd);
        XML_SetCharacterDataHandler(parser_, OnText);
        XML_SetCdataSectionHandler(parser_, OnStartCdata, OnEndCdata);
        XML_SetCommentHandler(parser_, OnComment);
        XML_SetProcessingInstructionHandler(parser_, OnInstruction);
        XML_SetXmlDeclHandler(parser_, OnDeclaration);
        XML_SetDoctypeDeclHandler(parser_, OnDoctype, OnDoctypeEnd);
        // An entity that is not declared in the file itself (the DTD it names is never
        // read) or that is external would leave a hole in the data: the file is refused.
        XML_SetSkippedEntityHandler(parser_, OnSkippedEntity);
        XML_SetEntityDeclHandler(parser_, OnEntityDeclaration);
        XML_SetExternalEntityRefHandler(parser_, OnExternalEntity);
        XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser_, 100.0f);
        XML_SetBillionLaughsAttackProtectionActivationThreshold(parser_, 8ull << 20);
    }
    ExpatReader(const ExpatReader&) = delete;
    ExpatReader& operator=(const ExpatReader&) = delete;
    ~ExpatReader() { XML_ParserFree(parser_); }

    // Hands the next bytes to the parser; false once the file proves not well-formed.
    bool Feed(std::string_view bytes, bool last)
    {
        if (!started_) {
            started_ = true;
            const ByteOrder order = DetectByteOrder(bytes);
            byteOrderMark_ = order.utf8Mark || order.markSize > 0;
            utf16_ = order.utf16;
            bigEndian_ = order.bigEndian;
        }
        constexpr std::size_t kPiece = std::size_t{1} << 20;
        do {
            const std::size_t size = std::min(bytes.size(), kPiece);
            const bool final = last && size == bytes.size();
            if (XML_Parse(parser_, bytes.data(), static_cast<int>(size), final) !=
                XML_STATUS_OK) {
                if (error_)
                    std::rethrow_exception(error_);
                if (!fault_)
                    fault_ = FaultHere(ExpatProblem(XML_GetErrorCode(parser_)));
                return false;
            }
            bytes.remove_prefix(size);
        } while (!bytes.empty());
        return true;
    }

    const std::optional<XmlFault>& Fault() const { return fault_; }

private:
    static ExpatReader& Self(void* data) { return *static_cast<ExpatReader*>(data); }

    XmlFault FaultHere(std::string reason) const
    {
        const auto line = static_cast<std::size_t>(XML_GetCurrentLineNumber(parser_));
        auto column = static_cast<std::size_t>(XML_GetCurrentColumnNumber(parser_)) + 1;
        // Expat counts a byte order mark as a character of the first line; it is none.
        if (byteOrderMark_ && line == 1 && column > 1)
            --column;
        return {line, column, std::move(reason)};
    }

    void Stop(std::string reason)
    {
        if (!fault_)
            fault_ = FaultHere(std::move(reason));
        XML_StopParser(parser_, XML_FALSE);
    }

    // Runs a handler's work so that no exception (memory running out) unwinds through the
    // parser, which is C: the parser stops, and Feed throws the exception instead.
    template <typename Work>
    void Guarded(Work work) noexcept
    {
        try {
            work();
        } catch (...) {
            if (!error_)
                error_ = std::current_exception();
            XML_StopParser(parser_, XML_FALSE);
        }
    }

    // Runs a step of building the tree; pugixml tells of memory running out by failing.
    template <typename Step>
    void Build(Step step)
    {
        Guarded([&] {
            if (tree_ != nullptr && !fault_ && !step())
                throw std::bad_alloc();
        });
    }

    bool FlushText()
    {
        if (text_.empty())
            return true;
        const bool blank = text_.find_first_not_of(" \t\r\n") == std::string::npos;
        bool stored = true;
        if (!blank && open_.size() > 1) {
            pugi::xml_node node = open_.back().append_child(pugi::node_pcdata);
            stored = node && node.set_value(text_.c_str());
        }
        text_.clear();
        return stored;
    }

    // The entity references in the start tag being read, as the file spells them. Expat
    // leaves out of an attribute value, unsaid, a reference to an entity that a DTD it does
    // not read might declare; this finds them.
    std::vector<std::string> EntityReferencesInTag() const
    {
        int offset = 0;
        int size = 0;
        const char* buffer = XML_GetInputContext(parser_, &offset, &size);
        const int count = XML_GetCurrentByteCount(parser_);
        std::vector<std::string> names;
        if (buffer == nullptr || offset < 0 || count <= 0 || offset + count > size)
            return names;
        const std::string_view tag(buffer + offset, static_cast<std::size_t>(count));
        const std::size_t unit = utf16_ ? 2 : 1;
        const auto at = [&](std::size_t i) -> char32_t {
            if (!utf16_)
                return static_cast<unsigned char>(tag[i]);
            const auto first = static_cast<unsigned char>(tag[i]);
            const auto second = static_cast<unsigned char>(tag[i + 1]);
            return bigEndian_ ? char32_t{first} << 8 | second : char32_t{second} << 8 | first;
        };
        for (std::size_t i = 0; i + unit <= tag.size(); i += unit) {
            if (at(i) != '&')
                continue;
            std::string name;
            std::size_t j = i + unit;
            for (; j + unit <= tag.size() && at(j) != ';'; j += unit) {
                const char32_t c = at(j);
                // A name beyond ASCII in a 16-bit file is kept as a mark that matches no
                // declared name, so the file is refused rather than read with a gap.
                name += c < 0x80 ? static_cast<char>(c) : (utf16_ ? '\x01' : static_cast<char>(c));
            }
            if (!name.empty() && name[0] != '#')
                names.push_back(std::move(name));
            i = j;
        }
        return names;
    }

    static void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes)
    {
        ExpatReader& self = Self(data);
        if (self.declarationsUnseen_) {
            self.Guarded([&] {
                for (const std::string& reference : self.EntityReferencesInTag()) {
                    static constexpr std::string_view kPredefined[] = {"lt", "gt", "amp", "apos",
                                                                       "quot"};
                    if (std::find(std::begin(kPredefined), std::end(kPredefined), reference) ==
                            std::end(kPredefined) &&
                        !self.declared_.contains(reference)) {
                        self.Stop("usa la entidad '" + reference +
                                  "', que no está declarada en el propio archivo");
                        return;  // Build then does nothing: the fault is set
                    }
                }
            });
        }
        self.Build([&] {
            if (!self.FlushText())
                return false;
            pugi::xml_node element = self.open_.back().append_child(pugi::node_element);
            if (!element || !element.set_name(name))
                return false;
            for (const XML_Char** at = attributes; *at != nullptr; at += 2) {
                pugi::xml_attribute attribute = element.append_attribute(at[0]);
                if (!attribute || !attribute.set_value(at[1]))
                    return false;
            }
            self.open_.push_back(element);
            return true;
        });
    }

    static void XMLCALL OnEnd(void* data, const XML_Char*)
    {
        ExpatReader& self = Self(data);
        self.Build([&] {
            const bool flushed = self.FlushText();
            self.open_.pop_back();
            return flushed;
        });
    }

    static void XMLCALL OnText(void* data, const XML_Char* text, int length)
    {
        ExpatReader& self = Self(data);
        if (self.tree_ != nullptr) {
            self.Guarded([&] { self.text_.append(text, static_cast<std::size_t>(length)); });
        }
    }

    static void XMLCALL OnStartCdata(void* data)
    {
        ExpatReader& self = Self(data);
        self.Build([&] { return self.FlushText(); });
    }

    static void XMLCALL OnEndCdata(void* data)
    {
        ExpatReader& self = Self(data);
        self.Build([&] {
            pugi::xml_node node = self.open_.back().append_child(pugi::node_cdata);
            const bool stored = node && node.set_value(self.text_.c_str());
            self.text_.clear();
            return stored;
        });
    }

    static void XMLCALL OnComment(void* data, const XML_Char* text)
    {
        ExpatReader& self = Self(data);
        if (self.inDoctype_) {
            return;  // part of the DOCTYPE's text, kept with it
        }
        self.Build([&] {
            pugi::xml_node node = self.FlushText()
                                      ? self.open_.back().append_child(pugi::node_comment)
                                      : pugi::xml_node();
            return node && node.set_value(text);
        });
    }

    static void XMLCALL OnInstruction(void* data, const XML_Char* target, const XML_Char* text)
    {
        ExpatReader& self = Self(data);
        if (self.inDoctype_)
            return;
        self.Build([&] {
            pugi::xml_node node = self.FlushText()
                                      ? self.open_.back().append_child(pugi::node_pi)
                                      : pugi::xml_node();
            return node && node.set_name(target) && node.set_value(text);
        });
    }

    static void XMLCALL OnDeclaration(void* data, const XML_Char* version,
                                      const XML_Char* encoding, int standalone)
    {
        ExpatReader& self = Self(data);
        if (version == nullptr) {
            return;  // the text declaration of an external entity, never read
        }
        self.Build([&] {
            pugi::xml_node node = self.tree_->append_child(pugi::node_declaration);
            bool stored = node && node.append_attribute("version").set_value(version);
            if (stored && encoding != nullptr)
                stored = node.append_attribute("encoding").set_value(encoding);
            if (stored && standalone != -1)
                stored = node.append_attribute("standalone").set_value(standalone == 1 ? "yes" : "no");
            return stored;
        });
    }

    static void XMLCALL OnDoctype(void* data, const XML_Char* name, const XML_Char* systemId,
                                  const XML_Char* publicId, int)
    {
        ExpatReader& self = Self(data);
        self.inDoctype_ = true;
        if (systemId != nullptr)
            self.declarationsUnseen_ = true;
        self.Build([&] {
            std::string value = self.doctype_;
            if (value.empty()) {
                // Spelled again from its parts when the file's own text was not at hand.
                value = name;
                if (publicId != nullptr) {
                    value += " PUBLIC \"" + std::string(publicId) + "\" \"" +
                             std::string(systemId != nullptr ? systemId : "") + "\"";
                } else if (systemId != nullptr) {
                    value += " SYSTEM \"" + std::string(systemId) + "\"";
                }
            }
            pugi::xml_node node = self.tree_->append_child(pugi::node_doctype);
            return node && node.set_value(value.c_str());
        });
    }

    static void XMLCALL OnDoctypeEnd(void* data) { Self(data).inDoctype_ = false; }

    // A parameter entity or a DTD outside the file may declare entities that are never read.
    static void XMLCALL OnEntityDeclaration(void* data, const XML_Char* name, int parameter,
                                            const XML_Char*, int, const XML_Char*,
                                            const XML_Char*, const XML_Char*, const XML_Char*)
    {
        ExpatReader& self = Self(data);
        if (parameter != 0) {
            self.declarationsUnseen_ = true;
            return;
        }
        self.Guarded([&] { self.declared_.emplace(name); });
    }

    static void XMLCALL OnSkippedEntity(void* data, const XML_Char* name, int parameter)
    {
        if (parameter != 0) {
            return;  // a reference inside the DTD, which declares nothing we then miss
        }
        ExpatReader& self = Self(data);
        self.Guarded([&] {
            self.Stop("usa la entidad '" + std::string(name) +
                      "', que no está declarada en el propio archivo");
        });
    }

    static int XMLCALL OnExternalEntity(XML_Parser, const XML_Char*, const XML_Char*,
                                        const XML_Char*, const XML_Char*)
    {
        return XML_STATUS_ERROR;
    }

    XML_Parser parser_;
    pugi::xml_document* tree_;
    std::string doctype_;
    std::vector<pugi::xml_node> open_;
    std::string text_;
    std::optional<XmlFault> fault_;
    std::exception_ptr error_;
    bool started_ = false;
    bool byteOrderMark_ = false;
    bool utf16_ = false;
    bool bigEndian_ = false;
    bool inDoctype_ = false;
    bool declarationsUnseen_ = false;
    std::unordered_set<std::string> declared_;  // the general entities the file declares
};

// Checks the file as it is on disk, a piece at a time, so that checking beside pugixml's
// reading of the same file costs almost no memory. `stop` ends the check early.
std::optional<XmlFault> CheckFile(const fs::path& path, std::size_t size,
                                  const std::atomic<bool>& stop)
{
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            return XmlFault{1, 1, "no se pudo leer el archivo"};
        }
        ExpatReader reader(nullptr, "");
        std::vector<char> piece(std::size_t{1} << 16);
        std::size_t left = size;
        do {
            if (stop.load(std::memory_order_relaxed))
                return std::nullopt;
            const std::size_t want = std::min(left, piece.size());
            in.read(piece.data(), static_cast<std::streamsize>(want));
            if (static_cast<std::size_t>(in.gcount()) != want) {
                return XmlFault{1, 1, "no se pudo leer el archivo entero"};
            }
            left -= want;
            if (!reader.Feed(std::string_view(piece.data(), want), left == 0))
                return reader.Fault();
        } while (left > 0);
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return XmlFault{1, 1, "no hay memoria suficiente para comprobarlo"};
    }
}

// Where the DOCTYPE's text ends: the '>' that closes it, after quoted literals, comments,
// processing instructions, its internal subset and the declarations in it.
std::optional<std::size_t> DoctypeEnd(std::string_view text, std::size_t pos)
{
    int brackets = 0;
    int angles = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        std::size_t next = pos + 1;
        if (c == '"' || c == '\'') {
            next = text.find(c, pos + 1);
            if (next == std::string_view::npos)
                return std::nullopt;
            ++next;
        } else if (text.substr(pos).starts_with("<!--")) {
            next = text.find("-->", pos + 4);
            if (next == std::string_view::npos)
                return std::nullopt;
            next += 3;
        } else if (text.substr(pos).starts_with("<?")) {
            next = text.find("?>", pos + 2);
            if (next == std::string_view::npos)
                return std::nullopt;
            next += 2;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '<') {
            ++angles;
        } else if (c == '>') {
            if (angles == 0 && brackets == 0)
                return pos;
            --angles;
        }
        pos = next;
    }
    return std::nullopt;
}

struct Prolog {
    bool hasDoctype = false;
    std::string doctype;  // the DOCTYPE's text as pugixml keeps it; empty when not found
};

// Looks through what may come before the root (declaration, comments, processing
// instructions, blanks) for a DOCTYPE. A file whose start makes no sense is left for the
// check to refuse.
Prolog ScanProlog(std::string_view text)
{
    std::size_t pos = 0;
    for (;;) {
        while (pos < text.size() && IsXmlSpace(text[pos]))
            ++pos;
        const std::string_view rest = text.substr(pos);
        std::size_t end = std::string_view::npos;
        if (rest.starts_with("<?")) {
            end = text.find("?>", pos + 2);
            end = end == std::string_view::npos ? end : end + 2;
        } else if (rest.starts_with("<!--")) {
            end = text.find("-->", pos + 4);
            end = end == std::string_view::npos ? end : end + 3;
        } else if (rest.starts_with("<!DOCTYPE")) {
            Prolog prolog{true, {}};
            std::size_t start = pos + 9;
            while (start < text.size() && IsXmlSpace(text[start]))
                ++start;
            if (const std::optional<std::size_t> close = DoctypeEnd(text, start))
                prolog.doctype = std::string(text.substr(start, *close - start));
            return prolog;
        }
        if (end == std::string_view::npos) {
            return {};
        }
        pos = end;
    }
}

// Absolute paths of element names only: "/centro/materias/dmateria".
std::vector<std::string_view> SplitPath(std::string_view absolutePath)
{
    if (!absolutePath.starts_with('/'))
        throw Error("La ruta XML '" + std::string(absolutePath) + "' no empieza por '/'");
    std::vector<std::string_view> names;
    std::string_view rest = absolutePath.substr(1);
    for (;;) {
        const std::size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        if (name.empty())
            throw Error("La ruta XML '" + std::string(absolutePath) +
                        "' tiene un nombre de elemento vacío");
        names.push_back(name);
        if (slash == std::string_view::npos)
            return names;
        rest.remove_prefix(slash + 1);
    }
}

void CheckAllocated(bool succeeded)
{
    if (!succeeded)
        throw std::bad_alloc();
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
    while (attribute && name != attribute.name())
        attribute = attribute.next_attribute();
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

// A check of the file going on beside the caller's work.
class XmlCheck {
public:
    XmlCheck(fs::path path, std::size_t size) : path_(std::move(path))
    {
        thread_ = std::thread([this, size] { fault_ = CheckFile(path_, size, stop_); });
    }
    XmlCheck(const XmlCheck&) = delete;
    XmlCheck& operator=(const XmlCheck&) = delete;
    ~XmlCheck()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    std::optional<XmlFault> Wait()
    {
        if (thread_.joinable())
            thread_.join();
        return fault_;
    }

    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
    std::atomic<bool> stop_{false};
    std::optional<XmlFault> fault_;
    std::thread thread_;
};


XmlDocument::XmlDocument() : document_(std::make_unique<pugi::xml_document>()) {}

XmlDocument::XmlDocument(XmlDocument&& other) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&& other) noexcept = default;
XmlDocument::~XmlDocument() = default;

namespace {

// The whole file read by expat into a tree, for the files pugixml cannot take as they are.
std::unique_ptr<pugi::xml_document> ReadThroughExpat(const fs::path& path, std::string doctype)
{
    const TextBuffer raw = ReadWholeFile(path);
    auto tree = std::make_unique<pugi::xml_document>();
    ExpatReader reader(tree.get(), std::move(doctype));
    if (!reader.Feed(raw.View().substr(0, DocumentSize(raw.View())), true))
        throw FaultError(path, *reader.Fault());
    return tree;
}

}  // namespace

XmlDocument XmlDocument::Load(const fs::path& path, Check check)
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

    // pugixml reads fast but leniently: it neither expands the entities that a DOCTYPE
    // declares nor refuses all that is not XML. A file with a DOCTYPE is rare and small, and
    // goes through expat alone; any other is read by pugixml and checked by expat.
    const Prolog prolog = ScanProlog(text);
    if (prolog.hasDoctype) {
        loaded.document_ = ReadThroughExpat(path, prolog.doctype);
        return loaded;
    }
    // A plain UTF-8 file, as DASTENO writes them, is checked here in one quick pass. Any
    // other goes to expat, started first, so that its check and pugixml's reading share
    // the time.
    const std::size_t markSize = file.byteOrderMark ? kUtf8ByteOrderMark.size() : 0;
    if (!file.utf8AsRead || !PlainlyWellFormed(text.substr(0, file.documentSize - markSize)))
        loaded.check_ = std::make_unique<XmlCheck>(path, file.documentSize);
    const std::size_t size = file.text.size;
    // The document takes the buffer whether or not parsing succeeds.
    const pugi::xml_parse_result result = loaded.document_->load_buffer_inplace_own(
        file.text.bytes.release(), size, kParseOptions, pugi::encoding_utf8);
    if (result.status == pugi::status_out_of_memory)
        throw Error("No hay memoria suficiente para leer el archivo " + QuotedPath(path));
    if (!result) {
        // Expat says where and why; a file that it finds well-formed after all is read by it.
        loaded.check_.reset();
        loaded.document_ = ReadThroughExpat(path, "");
        return loaded;
    }
    if (check == Check::Now)
        loaded.ConfirmWellFormed();
    return loaded;
}

void XmlDocument::ConfirmWellFormed()
{
    if (!check_)
        return;
    if (const std::optional<XmlFault> fault = check_->Wait())
        throw FaultError(check_->Path(), *fault);
}

std::string_view XmlDocument::Encoding() const
{
    return EncodingName(encoding_);
}

std::optional<XmlElement> XmlDocument::Root() const
{
    const pugi::xml_node root = document_->document_element();
    if (!root)
        return std::nullopt;
    return XmlElement(root.internal_object());
}

std::vector<XmlElement> XmlDocument::SelectElements(std::string_view absolutePath) const
{
    const std::vector<std::string_view> names = SplitPath(absolutePath);
    // Walking level by level keeps document order: the parents are in order and their
    // subtrees do not overlap.
    std::vector<pugi::xml_node> level;
    const pugi::xml_node root = document_->document_element();
    if (root && names.front() == root.name())
        level.push_back(root);
    for (std::size_t depth = 1; depth < names.size() && !level.empty(); ++depth) {
        std::vector<pugi::xml_node> next;
        for (const pugi::xml_node parent : level) {
            for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
                if (child.type() == pugi::node_element && names[depth] == child.name())
                    next.push_back(child);
            }
        }
        level = std::move(next);
    }
    std::vector<XmlElement> elements;
    elements.reserve(level.size());
    for (const pugi::xml_node node : level)
        elements.push_back(XmlElement(node.internal_object()));
    return elements;
}

std::optional<XmlElement> XmlDocument::SelectFirst(std::string_view absolutePath) const
{
    std::vector<XmlElement> elements = SelectElements(absolutePath);
    if (elements.empty())
        return std::nullopt;
    return elements.front();
}

void XmlDocument::RemoveRoot()
{
    if (!document_->document_element())
        return;
    // pugixml frees a removed subtree recursively, one stack frame per level: a file nested
    // a million deep would overflow the stack. The other top-level nodes (declaration,
    // comments, DOCTYPE) have no children, so they move to a fresh document instead, and
    // the old one is freed whole, page by page.
    auto rest = std::make_unique<pugi::xml_document>();
    for (pugi::xml_node node = document_->first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element)
            CheckAllocated(static_cast<bool>(rest->append_copy(node)));
    }
    document_ = std::move(rest);
}

XmlElement XmlDocument::AppendRoot(std::string_view name)
{
    if (const pugi::xml_node root = document_->document_element())
        throw Error("No se puede añadir el elemento raíz '" + std::string(name) +
                    "': el documento XML ya tiene el elemento raíz '" + root.name() + "'");
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
    if (startTagOpen_)
        Put(">");
    Put("<");
    Put(name);
    open_.emplace_back(name);
    startTagOpen_ = true;
}

void XmlStreamWriter::Attribute(std::string_view name, std::string_view value)
{
    if (!startTagOpen_)
        throw Error("Atributo '" + std::string(name) + "' fuera de una etiqueta de apertura");
    Put(" ");
    Put(name);
    Put("=\"");
    // As pugixml escapes attribute values: & < " and control characters; a NUL ends the
    // value there, as it does for a value stored in a tree.
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c >= 32 && c != '&' && c != '<' && c != '"')
            continue;
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
    if (start < value.size())
        Put(value.substr(start));
    Put("\"");
}

void XmlStreamWriter::Attribute(std::string_view name, int value)
{
    Attribute(name, std::to_string(value));
}

void XmlStreamWriter::EndElement()
{
    if (open_.empty())
        throw Error("No hay ningún elemento abierto que cerrar");
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
    if (document_->document_element())
        throw Error("El documento XML ya tiene elemento raíz");
    AtomicFile file(path);
    const std::function<void(const ByteSink&)> tail = [&writeRoot](const ByteSink& out) {
        XmlStreamWriter writer(out);
        writeRoot(writer);
        if (!writer.open_.empty())
            throw Error("El elemento '" + writer.open_.back() + "' quedó sin cerrar");
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

void RequireSchoolRoot(const XmlDocument& document, const fs::path& path)
{
    const std::optional<XmlElement> root = document.Root();
    if (!root || root->Name() != "centro")
        throw Error("El archivo " + QuotedPath(path) + " no es un archivo de DASTENO: su elemento raíz es '" +
                    std::string(root ? root->Name() : "") + "' y debería ser 'centro'");
}

}  // namespace pasarela
