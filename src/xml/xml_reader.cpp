#include "xml/xml_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include <expat.h>

#include "os/file.h"
#include "text/text.h"
#include "xml/xml_encoding.h"
#include "xml/xml_fast_reader.h"

namespace pasarela {
namespace {

namespace fs = std::filesystem;

// Where a fault stands is counted in blocks of this size, and the file's form is read
// from its first bytes up to this size.
constexpr std::size_t kBlockSize = std::size_t{1} << 18;

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

// Expat's view of an encoding it does not know by itself: a single-byte page through its
// table. UTF-8 and UTF-16 under other spellings are named to expat by the reader
// (StandardUnicodeName), never read here: a map of bytes cannot hold their characters
// beyond U+FFFF.
int XMLCALL OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info)
{
    const std::optional<TextEncoding> encoding = EncodingByName(name);
    if (!encoding || !CodePageOf(*encoding))
        return XML_STATUS_ERROR;
    for (int byte = 0; byte < 0x80; ++byte)
        info->map[byte] = byte;
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    // A byte that the page leaves undefined is not a character: the file is refused there.
    const CodePage codePage = *CodePageOf(*encoding);
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const char32_t cp = DecodeByte(static_cast<unsigned char>(byte), codePage);
        info->map[byte] = cp == kReplacementCharacter ? -1 : static_cast<int>(cp);
    }
    return XML_STATUS_OK;
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
    std::string doctype;  // the DOCTYPE's text between its keyword and its '>'; empty when not found
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


// How the file's bytes become characters, for counting lines and columns the way the
// user's editor shows them.
enum class TextForm { Utf8, SingleByte, Utf16 };

struct FileForm {
    TextForm form = TextForm::Utf8;
    bool bigEndian = false;
    CodePage codePage = CodePage::Windows1252;
    std::size_t markSize = 0;  // bytes of a byte order mark, which are no character
    // A UTF-8 mark before a declaration of a single-byte encoding: the mark wins.
    bool utf8ByMark = false;
    // The encoding expat is told in place of the declaration's (UTF-8 by its mark, or
    // StandardUnicodeName); null when expat reads the declaration itself.
    const char* parserEncoding = nullptr;
};

// Counts lines and columns over a text that comes in pieces; CR, LF and CR LF each end a
// line, and columns count characters.
class PositionCounter {
public:
    void Count(std::string_view utf8)
    {
        for (const char c : utf8) {
            if (pendingCr_) {
                pendingCr_ = false;
                if (c == '\n')
                    continue;
            }
            if (c == '\r' || c == '\n') {
                ++line_;
                column_ = 1;
                pendingCr_ = c == '\r';
            } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
                ++column_;
            }
        }
    }
    std::size_t Line() const { return line_; }
    std::size_t Column() const { return column_; }

private:
    std::size_t line_ = 1;
    std::size_t column_ = 1;
    bool pendingCr_ = false;
};

// The bytes of a piece of the file as UTF-8, as the file's form reads them. A UTF-16
// piece must hold whole code units.
std::string AsUtf8(std::string_view bytes, const FileForm& form)
{
    switch (form.form) {
    case TextForm::Utf16: return Utf16ToUtf8(bytes, form.bigEndian);
    case TextForm::SingleByte: return DecodeToUtf8(bytes, form.codePage);
    case TextForm::Utf8: break;
    }
    return std::string(bytes);
}

bool IsPaddingByte(char c)
{
    return c == '\0' || IsXmlSpace(c);
}

// Watches the file for a NUL character with anything but NULs and blanks after it: XML
// allows none, and a file that has one is refused as such before anything else is said of
// it. NULs and blanks at the very end are padding that some tools add, and are let be.
class NulWatch {
public:
    explicit NulWatch(const FileForm& form) : form_(form) {}

    // `offset` is where `bytes` start in the file; pieces of UTF-16 hold whole units.
    void Scan(std::string_view bytes, std::uint64_t offset)
    {
        if (form_.form != TextForm::Utf16) {
            if (!seen_) {
                const void* nul = std::memchr(bytes.data(), 0, bytes.size());
                if (nul == nullptr)
                    return;
                first_ = offset + static_cast<std::uint64_t>(static_cast<const char*>(nul) - bytes.data());
                seen_ = true;
            }
            if (!refused_) {
                const std::uint64_t from = first_ > offset ? first_ - offset : 0;
                for (std::size_t i = bytes.size(); i > from; --i) {
                    if (!IsPaddingByte(bytes[i - 1])) {
                        refused_ = true;
                        break;
                    }
                }
            }
            return;
        }
        for (std::size_t i = 0; i + 1 < bytes.size() && !refused_; i += 2) {
            const auto first = static_cast<unsigned char>(bytes[i]);
            const auto second = static_cast<unsigned char>(bytes[i + 1]);
            const unsigned unit = form_.bigEndian ? first << 8 | second : second << 8 | first;
            if (unit == 0) {
                if (!seen_)
                    first_ = offset + i;
                seen_ = true;
            } else if (seen_ && unit != ' ' && unit != '\t' && unit != '\r' && unit != '\n') {
                refused_ = true;
            }
        }
        // An odd last byte of a UTF-16 file reads as a replacement character.
        if (bytes.size() % 2 != 0 && seen_)
            refused_ = true;
    }

    bool Refused() const { return refused_; }
    std::uint64_t Offset() const { return first_; }

private:
    FileForm form_;
    std::uint64_t first_ = 0;  // where the first NUL is, once seen
    bool seen_ = false;
    bool refused_ = false;
};

// A UTF-16 surrogate without its partner is no character at all. Older builds of expat
// (the one compiled for Windows among them) read past it, so the reader stops expat there
// itself: every build then refuses such a file at the same place, for the same reason.
class SurrogateWatch {
public:
    explicit SurrogateWatch(const FileForm& form) : form_(form) {}

    // `offset` is where `bytes` start in the file; pieces of UTF-16 hold whole units. Gives
    // where the first lone surrogate starts when these bytes hold it.
    std::optional<std::uint64_t> Scan(std::string_view bytes, std::uint64_t offset)
    {
        if (form_.form != TextForm::Utf16 || foundLone_)
            return std::nullopt;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const auto first = static_cast<unsigned char>(bytes[i]);
            const auto second = static_cast<unsigned char>(bytes[i + 1]);
            const unsigned unit = form_.bigEndian ? first << 8 | second : second << 8 | first;
            const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
            if (waitingHigh_) {
                waitingHigh_ = false;
                if (!low)
                    return Found(high_);
            } else if (low) {
                return Found(offset + i);
            } else if (unit >= 0xD800 && unit <= 0xDBFF) {
                waitingHigh_ = true;
                high_ = offset + i;
            }
        }
        return std::nullopt;
    }

    std::optional<std::uint64_t> Lone() const
    {
        return foundLone_ ? std::optional<std::uint64_t>(lone_) : std::nullopt;
    }

private:
    std::uint64_t Found(std::uint64_t at)
    {
        foundLone_ = true;
        lone_ = at;
        return at;
    }

    FileForm form_;
    bool waitingHigh_ = false;  // a high surrogate at high_ waits for its partner
    std::uint64_t high_ = 0;
    bool foundLone_ = false;
    std::uint64_t lone_ = 0;
};

// The file as opened for reading, with the reasons a person can act on when it cannot be.
class InputFile {
public:
    explicit InputFile(const fs::path& path) : path_(path)
    {
        std::error_code statusError;
        const fs::file_status status = fs::status(path, statusError);
        if (!fs::exists(status))
            throw Error("No existe el archivo " + QuotedPath(path));
        if (fs::is_directory(status))
            throw Error(QuotedPath(path) + " es una carpeta, no un archivo XML");
        // A FIFO would keep the program waiting for a writer; a device holds no document.
        if (!fs::is_regular_file(status))
            throw Error(QuotedPath(path) + " es una tubería con nombre o un dispositivo, no un archivo XML");
        errno = 0;
        in_.open(path, std::ios::binary);
        if (!in_) {
            const int reason = errno;
            if (reason == EACCES || reason == EPERM)
                throw Error("No se puede leer el archivo " + QuotedPath(path) +
                            ": no hay permiso o está en uso por otro programa");
            throw Error("No se puede abrir el archivo " + QuotedPath(path) +
                        (reason != 0 ? ": " + std::generic_category().message(reason) : ""));
        }
        in_.seekg(0, std::ios::end);
        const std::streamoff size = in_.tellg();
        in_.seekg(0, std::ios::beg);
        if (size < 0 || !in_)
            throw Error("No se puede leer el archivo " + QuotedPath(path));
        size_ = static_cast<std::uint64_t>(size);
    }

    std::uint64_t Size() const { return size_; }

    // The next `want` bytes (fewer only at the end of what the size promised).
    std::string_view Read(std::vector<char>& buffer, std::size_t want)
    {
        buffer.resize(want);
        in_.read(buffer.data(), static_cast<std::streamsize>(want));
        if (in_.gcount() != static_cast<std::streamsize>(want))
            throw Error("No se puede leer el archivo " + QuotedPath(path_) + " entero");
        return {buffer.data(), want};
    }

    // The next `want` bytes, into `into`.
    void ReadInto(char* into, std::size_t want)
    {
        in_.read(into, static_cast<std::streamsize>(want));
        if (in_.gcount() != static_cast<std::streamsize>(want))
            throw Error("No se puede leer el archivo " + QuotedPath(path_) + " entero");
    }

    void Rewind()
    {
        in_.clear();
        in_.seekg(0, std::ios::beg);
    }

private:
    const fs::path& path_;
    std::ifstream in_;
    std::uint64_t size_ = 0;
};

using xml_detail::TopLevelNode;

// Reads a file with expat, a conformant parser: it refuses whatever is not well-formed,
// expands the entities that the file declares itself (within a fixed budget, so that a
// file of nested entities fails at once) and reads no external entity. Elements go to the
// handler; the top-level nodes are kept for a file written from this one.
class ExpatReader {
public:
    ExpatReader(XmlElementHandler& handler, const ByteOrder& order, const char* encoding)
        : parser_(XML_ParserCreate(encoding)), handler_(handler),
          byteOrderMark_(order.utf8Mark || order.markSize > 0), utf16_(order.utf16),
          bigEndian_(order.bigEndian)
    {
        if (parser_ == nullptr)
            throw std::bad_alloc();
        XML_SetUserData(parser_, this);
        XML_SetUnknownEncodingHandler(parser_, OnUnknownEncoding, nullptr);
        XML_SetElementHandler(parser_, OnStart, OnEnd);
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
        if (fault_)
            return false;
        constexpr std::size_t kPiece = std::size_t{1} << 20;
        do {
            const std::size_t size = std::min(bytes.size(), kPiece);
            const bool final = last && size == bytes.size();
            if (XML_Parse(parser_, bytes.data(), static_cast<int>(size), final) != XML_STATUS_OK) {
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
    // Where the root's start tag begins in the file; nothing until it has been read.
    std::optional<std::uint64_t> RootStart() const { return rootStart_; }
    bool SawDoctype() const { return sawDoctype_; }
    const std::vector<TopLevelNode>& TopLevelNodes() const { return topLevel_; }

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

    // Runs a handler's work so that no exception unwinds through the parser, which is C:
    // the parser stops, and Feed throws the exception instead.
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

    // The code units the event being read takes in the file.
    std::size_t EventUnits() const
    {
        const int count = XML_GetCurrentByteCount(parser_);
        return count <= 0 ? 0 : static_cast<std::size_t>(count) / (utf16_ ? 2 : 1);
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
                        return;
                    }
                }
            });
        }
        if (self.fault_ || self.error_)
            return;
        if (++self.depth_ == 1 && !self.rootStart_)
            self.rootStart_ = static_cast<std::uint64_t>(XML_GetCurrentByteIndex(self.parser_));
        self.Guarded([&] {
            self.attributes_.clear();
            for (const XML_Char** at = attributes; *at != nullptr; at += 2)
                self.attributes_.push_back({at[0], at[1]});
            self.handler_.StartElement(name, self.depth_, self.attributes_);
        });
    }

    static void XMLCALL OnEnd(void* data, const XML_Char*)
    {
        ExpatReader& self = Self(data);
        if (self.fault_ || self.error_)
            return;
        self.Guarded([&] { self.handler_.EndElement(self.depth_); });
        --self.depth_;
    }

    void KeepTopLevel(TopLevelNode node)
    {
        Guarded([&] { topLevel_.push_back(std::move(node)); });
    }

    static void XMLCALL OnComment(void* data, const XML_Char* text)
    {
        ExpatReader& self = Self(data);
        // Inside the DOCTYPE a comment is part of its text, kept with it.
        if (self.inDoctype_ || self.depth_ > 0)
            return;
        self.KeepTopLevel({TopLevelNode::Kind::Comment, text, {}, false});
    }

    static void XMLCALL OnInstruction(void* data, const XML_Char* target, const XML_Char* text)
    {
        ExpatReader& self = Self(data);
        if (self.inDoctype_ || self.depth_ > 0)
            return;
        // "<?target?>": nothing after the target, not even a blank.
        const std::size_t targetUnits =
            self.utf16_ ? Utf8ToUtf16Units(target) : std::strlen(target);
        const bool empty = *text == '\0' && self.EventUnits() == targetUnits + 4;
        self.KeepTopLevel({TopLevelNode::Kind::Instruction, text, target, empty});
    }

    static std::size_t Utf8ToUtf16Units(std::string_view utf8)
    {
        std::size_t units = 0;
        for (const char c : utf8) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte & 0xC0) != 0x80)
                units += byte >= 0xF0 ? 2 : 1;
        }
        return units;
    }

    static void XMLCALL OnDeclaration(void* data, const XML_Char* version,
                                      const XML_Char* encoding, int standalone)
    {
        ExpatReader& self = Self(data);
        if (version == nullptr)
            return;  // the text declaration of an external entity, never read
        std::string text = "<?xml version=\"" + std::string(version) + "\"";
        if (encoding != nullptr)
            text += " encoding=\"" + std::string(encoding) + "\"";
        if (standalone != -1)
            text += std::string(" standalone=\"") + (standalone == 1 ? "yes" : "no") + "\"";
        self.KeepTopLevel({TopLevelNode::Kind::Declaration, text + "?>", {}, false});
    }

    static void XMLCALL OnDoctype(void* data, const XML_Char* name, const XML_Char* systemId,
                                  const XML_Char* publicId, int)
    {
        ExpatReader& self = Self(data);
        self.inDoctype_ = true;
        self.sawDoctype_ = true;
        if (systemId != nullptr)
            self.declarationsUnseen_ = true;
        // Spelled from its parts, for when the file's own text cannot be found.
        std::string value = name;
        if (publicId != nullptr) {
            value += " PUBLIC \"" + std::string(publicId) + "\" \"" +
                     std::string(systemId != nullptr ? systemId : "") + "\"";
        } else if (systemId != nullptr) {
            value += " SYSTEM \"" + std::string(systemId) + "\"";
        }
        self.KeepTopLevel({TopLevelNode::Kind::Doctype, {}, value, false});
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
        if (parameter != 0)
            return;  // a reference inside the DTD, which declares nothing we then miss
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
    XmlElementHandler& handler_;
    std::vector<XmlAttributeRef> attributes_;
    std::size_t depth_ = 0;
    std::optional<std::uint64_t> rootStart_;
    std::vector<TopLevelNode> topLevel_;
    std::optional<XmlFault> fault_;
    std::exception_ptr error_;
    bool byteOrderMark_ = false;
    bool utf16_ = false;
    bool bigEndian_ = false;
    bool inDoctype_ = false;
    bool sawDoctype_ = false;
    bool declarationsUnseen_ = false;
    std::unordered_set<std::string> declared_;  // the general entities the file declares
};

// The top-level nodes as a file written from this one gives them back: a comment and a
// processing instruction as they were, the declaration with its attributes in double
// quotes, the DOCTYPE as the file spells it.
std::string WriteTopLevelNodes(const std::vector<TopLevelNode>& nodes, std::string_view doctype, bool sawDoctype)
{
    std::string out;
    for (const TopLevelNode& node : nodes) {
        switch (node.kind) {
        case TopLevelNode::Kind::Declaration: out += node.text; break;
        case TopLevelNode::Kind::Comment: out += "<!--" + node.text + "-->"; break;
        case TopLevelNode::Kind::Instruction:
            out += "<?" + node.target;
            // A file with a DOCTYPE has always been written back without the blank of an
            // instruction with no data.
            if (!(sawDoctype ? node.text.empty() : node.emptyInstruction))
                out += " " + node.text;
            out += "?>";
            break;
        case TopLevelNode::Kind::Doctype:
            out += "<!DOCTYPE " + (doctype.empty() ? node.target : std::string(doctype)) + ">";
            break;
        }
    }
    return out;
}

// What the first bytes of the file say of how it is to be read and saved. Throws Error
// for an encoding that is not read here.
FileForm FormOf(std::string_view first, const fs::path& path, XmlFileFacts& facts)
{
    const ByteOrder order = DetectByteOrder(first);
    FileForm form;
    form.markSize = order.markSize;
    std::string head;
    if (order.utf16) {
        form.form = TextForm::Utf16;
        form.bigEndian = order.bigEndian;
        std::string_view units = first.substr(order.markSize);
        head = Utf16ToUtf8(units.substr(0, units.size() - units.size() % 2), order.bigEndian);
    } else {
        head = std::string(first.substr(order.markSize));
    }
    const std::optional<std::string> declared = DeclaredEncoding(head);
    if (!declared) {
        facts.encoding = order.utf16 ? TextEncoding::Utf16 : TextEncoding::Utf8;
        facts.byteOrderMark = order.utf8Mark;
        return form;
    }
    const std::optional<TextEncoding> encoding = EncodingByName(*declared);
    if (!encoding)
        throw Error("El archivo " + QuotedPath(path) + " usa la codificación '" + *declared +
                    "', que no se admite (se admiten " + SupportedEncodings() + ")");
    facts.encoding = *encoding;
    facts.byteOrderMark = order.utf8Mark && *encoding == TextEncoding::Utf8;
    // A byte order mark outweighs the declaration, as XML parsers agree.
    const std::optional<CodePage> codePage = CodePageOf(*encoding);
    form.utf8ByMark = codePage && order.utf8Mark;
    const std::optional<std::string_view> standard = StandardUnicodeName(*declared, order);
    if (form.utf8ByMark)
        form.parserEncoding = "UTF-8";
    else if (standard)
        form.parserEncoding = standard->data();  // a name of kEncodings: a literal, ended by NUL
    if (codePage && *codePage != CodePage::UsAscii && !order.utf16 && !order.utf8Mark) {
        form.form = TextForm::SingleByte;
        form.codePage = *codePage;
    }
    return form;
}

// Where the byte at `offset` stands, counted again from the start of the file, with why
// the file stops there.
XmlFault FaultAt(InputFile& file, const FileForm& form, std::uint64_t offset, std::string reason)
{
    file.Rewind();
    std::vector<char> buffer;
    PositionCounter at;
    std::uint64_t done = 0;
    std::string carry;  // a high surrogate waiting for its pair
    while (done < offset) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, offset - done));
        std::string_view bytes = file.Read(buffer, want);
        if (done < form.markSize) {
            const std::size_t skip = std::min<std::size_t>(form.markSize - static_cast<std::size_t>(done), bytes.size());
            done += skip;
            bytes.remove_prefix(skip);
        }
        done += bytes.size();
        if (form.form == TextForm::Utf16) {
            std::string units = carry + std::string(bytes);
            carry.clear();
            if (units.size() >= 2) {
                const std::size_t last = units.size() - 2;
                const unsigned high = static_cast<unsigned char>(units[last + (form.bigEndian ? 0 : 1)]);
                if (high >= 0xD8 && high <= 0xDB && done < offset) {
                    carry = units.substr(last);
                    units.resize(last);
                }
            }
            at.Count(AsUtf8(units, form));
        } else {
            at.Count(AsUtf8(bytes, form));
        }
    }
    return {at.Line(), at.Column(), std::move(reason)};
}

// The DOCTYPE's text as the file spells it, found in the text before the root.
std::string DoctypeText(InputFile& file, const FileForm& form, std::uint64_t prologEnd)
{
    file.Rewind();
    std::vector<char> buffer;
    const std::string_view raw = file.Read(buffer, static_cast<std::size_t>(prologEnd));
    std::string_view body = raw.substr(std::min<std::size_t>(form.markSize, raw.size()));
    if (form.form == TextForm::Utf16)
        body = body.substr(0, body.size() - body.size() % 2);
    return ScanProlog(AsUtf8(body, form)).doctype;
}

// The form of the file as its first kBlockSize bytes give it, however small the blocks it
// is then read in (the tests' are a few bytes): a declaration is never cut.
std::pair<FileForm, ByteOrder> FormOfFile(InputFile& file, std::string_view block, const fs::path& path,
                                          XmlFileFacts& facts)
{
    if (block.size() >= kBlockSize || block.size() == file.Size())
        return {FormOf(block, path, facts), DetectByteOrder(block)};
    std::vector<char> head;
    file.Rewind();
    const std::string_view first =
        file.Read(head, static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), kBlockSize)));
    file.Rewind();
    std::vector<char> skipped;
    file.Read(skipped, block.size());
    return {FormOf(first, path, facts), DetectByteOrder(first)};
}

// The handler behind a reading that starts again from the top after the scanner handed
// on the first `skip` events: those are passed over, having been given already.
class SkippingHandler final : public XmlElementHandler {
public:
    SkippingHandler(XmlElementHandler& handler, std::size_t skip) : handler_(handler), skip_(skip) {}

    void StartElement(std::string_view name, std::size_t depth, std::span<const XmlAttributeRef> attributes) override
    {
        if (skip_ > 0) {
            --skip_;
            return;
        }
        handler_.StartElement(name, depth, attributes);
    }

    void EndElement(std::size_t depth) override
    {
        if (skip_ > 0) {
            --skip_;
            return;
        }
        handler_.EndElement(depth);
    }

private:
    XmlElementHandler& handler_;
    std::size_t skip_;
};

XmlFileFacts ReadWithExpat(InputFile& file, const fs::path& path, XmlElementHandler& handler,
                           const XmlReadOptions& options, std::size_t blockSize)
{
    const std::uint64_t size = file.Size();
    std::vector<char> buffer;
    buffer.reserve(blockSize);
    XmlFileFacts facts;

    std::uint64_t offset = 0;
    std::string_view block = file.Read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(size, blockSize)));
    const auto [form, order] = FormOfFile(file, block, path, facts);
    if (form.form == TextForm::Utf16 && blockSize % 2 == 1) {
        // Blocks of UTF-16 hold whole code units (only the tests' small blocks are odd).
        ++blockSize;
        file.Rewind();
        block = file.Read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(size, blockSize)));
    }
    ExpatReader reader(handler, order, form.parserEncoding);
    NulWatch nul(form);
    SurrogateWatch surrogates(form);
    // NULs and blanks at the end of the file wait here: padding when a NUL is among them
    // and nothing else follows (then expat never sees them), text otherwise.
    std::string held;
    const bool utf16 = form.form == TextForm::Utf16;
    for (;;) {
        nul.Scan(block, offset);
        if (!reader.Fault() && !surrogates.Lone()) {
            std::string_view piece = block;
            if (utf16) {
                // Up to a lone surrogate, so what comes before it is judged first.
                const std::optional<std::uint64_t> lone = surrogates.Scan(block, offset);
                if (lone)
                    piece = block.substr(0, static_cast<std::size_t>(*lone - offset));
            }
            const std::size_t last = TrailingPaddingStart(piece, utf16, form.bigEndian);
            if (last > 0) {
                if (!held.empty()) {
                    reader.Feed(held, false);
                    held.clear();
                }
                reader.Feed(piece.substr(0, last), false);
            }
            held.append(piece.substr(last));
        }
        offset += block.size();
        if (options.progress && size > 0)
            options.progress(static_cast<double>(offset) / static_cast<double>(size));
        if (offset >= size)
            break;
        block = file.Read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, blockSize)));
    }
    if (!reader.Fault() && !surrogates.Lone()) {
        if (HoldsNul(held, utf16, form.bigEndian))
            held.clear();
        reader.Feed(held, true);
    }

    if (nul.Refused())
        throw FaultError(path, FaultAt(file, form, nul.Offset(), "contiene un carácter nulo (byte 0), que XML no admite"));
    if (reader.Fault())
        throw FaultError(path, *reader.Fault());
    if (surrogates.Lone())
        throw FaultError(path, FaultAt(file, form, *surrogates.Lone(), ExpatProblem(XML_ERROR_INVALID_TOKEN)));
    const std::string doctype =
        reader.SawDoctype() && reader.RootStart() ? DoctypeText(file, form, *reader.RootStart()) : std::string();
    facts.topLevelNodes = WriteTopLevelNodes(reader.TopLevelNodes(), doctype, reader.SawDoctype());
    return facts;
}

}  // namespace

namespace xml_detail {

// Nearly every DASTENO file is plain UTF-8, and for those expat's generality costs a
// third of an import: the scanner reads them. Whatever it does not take is read by expat
// from the start of the file, with the events the scanner handed on already counted off.
// Restarting expat where the scanner stopped (reopening the open elements in a made-up
// prefix) was the other way; it was not taken because expat's line and column, its
// verdict on what comes later and the top-level nodes would all have to be mapped back
// from a document that is not the file, while a reading from the top gives, by
// construction, exactly the events, facts and message of a reading by expat alone. The
// price, reading the file twice, is paid only by files outside the scanner's reach (a
// DOCTYPE, another encoding, a name beyond ASCII, a fault), never by a plain one.
XmlFileFacts ReadXmlFileTuned(const fs::path& path, XmlElementHandler& handler, const XmlReadOptions& options,
                              const XmlReaderTuning& tuning)
{
    const std::size_t blockSize = std::max<std::size_t>(tuning.blockSize, 1);
    InputFile file(path);
    if (tuning.trace != nullptr)
        *tuning.trace = {};
    if (tuning.path == XmlReaderPath::ExpatOnly)
        return ReadWithExpat(file, path, handler, options, blockSize);

    const std::uint64_t size = file.Size();
    std::vector<char> buffer;
    std::string_view block = file.Read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(size, blockSize)));
    XmlFileFacts facts;
    const auto [form, order] = FormOfFile(file, block, path, facts);
    double shown = -1.0;  // the share of the file the progress callback was last told
    std::size_t eventsGiven = 0;
    if (form.form == TextForm::Utf8 && !order.utf16 && !form.utf8ByMark && facts.encoding == TextEncoding::Utf8) {
        FastUtf8Scanner scanner(handler, form.markSize);
        std::uint64_t offset = 0;
        std::size_t want = block.size();
        if (want > 0)
            std::memcpy(scanner.Room(want), block.data(), want);
        bool read = true;
        for (;;) {
            offset += want;
            const bool last = offset >= size;
            if (!scanner.Scan(want, last)) {
                read = false;
                break;
            }
            if (options.progress && size > 0) {
                shown = static_cast<double>(offset) / static_cast<double>(size);
                options.progress(shown);
            }
            if (last)
                break;
            want = static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, blockSize));
            file.ReadInto(scanner.Room(want), want);
        }
        if (read) {
            facts.topLevelNodes = WriteTopLevelNodes(scanner.TopLevelNodes(), {}, false);
            return facts;
        }
        eventsGiven = scanner.EventsGiven();
    }
    if (tuning.trace != nullptr)
        *tuning.trace = {true, eventsGiven};
    file.Rewind();
    XmlReadOptions again;
    if (options.progress) {
        again.progress = [&options, shown](double share) {
            if (share > shown)
                options.progress(share);
        };
    }
    if (eventsGiven == 0)
        return ReadWithExpat(file, path, handler, again, blockSize);
    SkippingHandler skipping(handler, eventsGiven);
    return ReadWithExpat(file, path, skipping, again, blockSize);
}

}  // namespace xml_detail

XmlFileFacts ReadXmlFile(const fs::path& path, XmlElementHandler& handler, const XmlReadOptions& options)
{
    return xml_detail::ReadXmlFileTuned(path, handler, options, {});
}

Error NotSchoolFileError(const fs::path& path, std::string_view rootName)
{
    return Error("El archivo " + QuotedPath(path) + " no es un archivo de DASTENO: su elemento raíz es '" +
                 std::string(rootName) + "' y debería ser 'centro'");
}

}  // namespace pasarela
