#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_reader.h"

namespace pasarela {

// Writes elements straight into a file being saved, so that a timetable of a million
// entries is never held whole. Attribute values are escaped as DASTENO reads them back.
class XmlStreamWriter {
public:
    void StartElement(std::string_view name);
    // Only between StartElement and the element's first child.
    void Attribute(std::string_view name, std::string_view value);
    void Attribute(std::string_view name, int value);
    void EndElement();

private:
    friend void SaveXmlFile(const std::filesystem::path&, const XmlFileFacts&,
                            const std::function<void(XmlStreamWriter&)>&);
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

// Saves a file made from one that was read: its top-level nodes as `facts` keeps them,
// then the root that `writeRoot` writes, all in the encoding of the file read (characters
// that encoding cannot hold as &#NNNN;), so DASTENO reads back what it wrote. `path` is
// replaced only once everything is written.
void SaveXmlFile(const std::filesystem::path& path, const XmlFileFacts& facts,
                 const std::function<void(XmlStreamWriter&)>& writeRoot);

}  // namespace pasarela
