#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/error.h"
#include "xml/xml_encoding.h"

namespace pugi {
struct xml_node_struct;
class xml_document;
}  // namespace pugi

namespace pasarela {

class XmlCheck;

// A DASTENO file that is not well-formed XML, with the place where reading stopped.
class XmlParseError : public Error {
public:
    XmlParseError(const std::string& message, std::size_t line, std::size_t column)
        : Error(message), line_(line), column_(column)
    {
    }

    // 1-based line of the fault; CR, LF and CR LF each end a line.
    std::size_t Line() const { return line_; }
    // 1-based position in the line, counted in characters rather than bytes.
    std::size_t Column() const { return column_; }

private:
    std::size_t line_;
    std::size_t column_;
};

// An attribute of an element as the document holds it: both texts NUL-terminated.
struct XmlAttributeRef {
    const char* name;
    const char* value;
};

// Whether the NUL-terminated `name` is exactly `wanted`. Compared in place, without
// measuring `name` first: entries are read by the hundred thousand.
inline bool NameIs(const char* name, std::string_view wanted)
{
    std::size_t i = 0;
    while (i < wanted.size() && name[i] != '\0' && name[i] == wanted[i])
        ++i;
    return i == wanted.size() && name[i] == '\0';
}

// A handle on an element of an XmlDocument; cheap to copy, valid while the element is in
// its document and the document lives.
class XmlElement {
public:
    // The element's tag name.
    std::string_view Name() const;
    // The value, references resolved; nullopt when absent. Valid until the element changes.
    std::optional<std::string_view> Attribute(std::string_view name) const;
    // The first attributes in document order, as many as fit in `out`; returns how many
    // the element has in all. Reading several attributes of an entry this way walks its
    // list once instead of once per name.
    std::size_t Attributes(std::span<XmlAttributeRef> out) const;

    // Adds an element after the existing children and returns it.
    XmlElement AppendElement(std::string_view name);
    // Replaces the value in place when the attribute exists, else adds it after the others.
    void SetAttribute(std::string_view name, std::string_view value);
    // As above, the value written as its decimal digits.
    void SetAttribute(std::string_view name, int value);

private:
    friend class XmlDocument;
    explicit XmlElement(pugi::xml_node_struct* node) : node_(node) {}

    pugi::xml_node_struct* node_;
};

// Writes elements straight to a document being saved, for a root too large to build in
// memory first (a timetable of a million entries). Attribute values are escaped as the
// document's own nodes are, so the bytes are those a built tree would give.
class XmlStreamWriter {
public:
    void StartElement(std::string_view name);
    // Only between StartElement and the element's first child.
    void Attribute(std::string_view name, std::string_view value);
    void Attribute(std::string_view name, int value);
    void EndElement();

private:
    friend class XmlDocument;
    explicit XmlStreamWriter(const std::function<void(std::string_view)>& out) : out_(out) {}
    // Called several times per attribute of a million rows, hence here, inline.
    void Put(std::string_view text)
    {
        buffer_.append(text);
        if (buffer_.size() >= kFlushSize)
            Flush();
    }
    void Flush();

    static constexpr std::size_t kFlushSize = std::size_t{1} << 16;

    const std::function<void(std::string_view)>& out_;
    std::string buffer_;
    std::vector<std::string> open_;
    bool startTagOpen_ = false;
};

// A DASTENO document, saved in the encoding its declaration names (characters that the
// encoding cannot hold as &#NNNN;), so DASTENO reads back what it wrote.
class XmlDocument {
public:
    // The encodings a document is read and saved in.
    using TextEncoding = pasarela::TextEncoding;
    // When Load makes sure that the file is well-formed XML. A plain UTF-8 file is settled
    // within Load either way; any other is checked by expat on a second thread.
    enum class Check {
        Now,    // before Load returns
        Aside,  // while the caller works; ConfirmWellFormed waits for it
    };

    // An empty document (no declaration, no root) saved as UTF-8.
    XmlDocument();
    // Reads a well-formed file in any of the encodings above (UTF-16 with or without a
    // byte order mark); expands the entities that the file declares, never an external
    // one. XmlParseError, with line and column, for a file that is not well-formed.
    static XmlDocument Load(const std::filesystem::path& path, Check check = Check::Now);
    XmlDocument(XmlDocument&& other) noexcept;
    XmlDocument& operator=(XmlDocument&& other) noexcept;
    ~XmlDocument();

    // After Load with Check::Aside: waits for the check and throws its XmlParseError, every
    // time it is called, if the file is not well-formed. Until then the document holds what
    // a lenient reading found. Otherwise does nothing.
    void ConfirmWellFormed();

    // "UTF-8", "UTF-16", "ISO-8859-15", "windows-1252" and so on: what Save writes.
    std::string_view Encoding() const;

    // The document element, if there is one.
    std::optional<XmlElement> Root() const;
    // Every element on an absolute path of element names ("/centro/aulas/daula"), in order.
    std::vector<XmlElement> SelectElements(std::string_view absolutePath) const;
    // The first element that SelectElements would give.
    std::optional<XmlElement> SelectFirst(std::string_view absolutePath) const;

    // Detaches the document element with all it holds; other top-level nodes stay.
    void RemoveRoot();
    // Adds the document element after the other top-level nodes; Error if one is left.
    XmlElement AppendRoot(std::string_view name);

    // Writes every top-level node, nothing added, replacing `path` only once all is written.
    void Save(const std::filesystem::path& path) const;
    // The bytes that Save writes.
    std::string SaveToString() const;
    // Saves like Save, the document having no root yet: after every top-level node,
    // `writeRoot` writes the document element.
    void SaveWithStreamedRoot(const std::filesystem::path& path,
                              const std::function<void(XmlStreamWriter&)>& writeRoot) const;

private:
    std::unique_ptr<pugi::xml_document> document_;
    TextEncoding encoding_ = TextEncoding::Utf8;
    bool byteOrderMark_ = false;
    std::unique_ptr<XmlCheck> check_;
};

// Throws Error unless the document element is "centro", as in every DASTENO file: what
// both directions say of any other XML file.
void RequireSchoolRoot(const XmlDocument& document, const std::filesystem::path& path);

}  // namespace pasarela
