#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "os/error.h"
#include "xml/xml_encoding.h"

namespace pasarela {

// A DASTENO file that is not well-formed XML, with the place where reading stopped.
class XmlParseError : public Error {
public:
    XmlParseError(const std::string& message, std::size_t line, std::size_t column)
        : Error(message), line_(line), column_(column)
    {
    }

    [[noreturn]] void ThrowReworded(const std::string& message) const override
    {
        throw XmlParseError(message, line_, column_);
    }

    // 1-based line of the fault; CR, LF and CR LF each end a line.
    std::size_t Line() const { return line_; }
    // 1-based position in the line, counted in characters rather than bytes.
    std::size_t Column() const { return column_; }

private:
    std::size_t line_;
    std::size_t column_;
};

// An attribute of an element as the reader hands it on: both texts NUL-terminated UTF-8,
// references resolved and the value normalised as XML says.
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

// What the reader hands on, in document order. The texts are valid during the call only.
// A handler may throw only what should end the reading at once (memory running out): a
// fault in the data it is given is better kept and raised once the whole file has proved
// to be XML, since a file that is not explains whatever else failed.
class XmlElementHandler {
public:
    virtual ~XmlElementHandler() = default;
    // An element starts; the root is at depth 1.
    virtual void StartElement(std::string_view name, std::size_t depth,
                              std::span<const XmlAttributeRef> attributes) = 0;
    // The element started last at `depth` ends.
    virtual void EndElement(std::size_t depth) = 0;
};

struct XmlReadOptions {
    // Told after each block read the share of the file read so far (0 to 1).
    std::function<void(double share)> progress;
};

// What a file says of itself beyond its elements: how to save a file that DASTENO reads
// back as it wrote it.
struct XmlFileFacts {
    // The encoding its declaration names, else the one it was read in: what a file written
    // from it is saved in.
    TextEncoding encoding = TextEncoding::Utf8;
    bool byteOrderMark = false;  // a UTF-8 file that began with the mark
    // Every top-level node but the root (the declaration, comments, processing
    // instructions, the DOCTYPE), in file order, written out as UTF-8 XML.
    std::string topLevelNodes;
};

// Reads a file once, in blocks through one open handle, with expat: every encoding above
// (UTF-16 with or without a byte order mark), the entities that the file declares itself
// expanded within a fixed budget, never an external one fetched. XmlParseError, with line
// and column, once the whole file has been read, for a file that is not well-formed;
// Error for a file that cannot be read or names an encoding not read here.
XmlFileFacts ReadXmlFile(const std::filesystem::path& path, XmlElementHandler& handler,
                         const XmlReadOptions& options = {});

// The error both directions give for a well-formed file whose root is not `centro`.
Error NotSchoolFileError(const std::filesystem::path& path, std::string_view rootName);

}  // namespace pasarela
