#include "xml/xml_writer.h"

#include "os/atomic_file.h"
#include "os/error.h"
#include "xml/xml_encoding.h"

namespace pasarela {

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
    // & < " and control characters are escaped; a NUL ends the value there, as DASTENO's
    // own files never hold one.
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

void SaveXmlFile(const std::filesystem::path& path, const XmlFileFacts& facts,
                 const std::function<void(XmlStreamWriter&)>& writeRoot)
{
    AtomicFile file(path);
    if (facts.encoding == TextEncoding::Utf16)
        file.Write(kUtf16LeByteOrderMark);
    else if (facts.encoding == TextEncoding::Utf8 && facts.byteOrderMark)
        file.Write(kUtf8ByteOrderMark);
    Utf8Transcoder transcoder(facts.encoding);
    const std::function<void(std::string_view)> out = [&](std::string_view utf8) {
        if (facts.encoding == TextEncoding::Utf8)
            file.Write(utf8);
        else
            file.Write(transcoder.Transcode(utf8));
    };
    out(facts.topLevelNodes);
    XmlStreamWriter writer(out);
    writeRoot(writer);
    if (!writer.open_.empty())
        throw Error("El elemento '" + writer.open_.back() + "' quedó sin cerrar");
    writer.Flush();
    if (const std::string rest = transcoder.Finish(); !rest.empty())
        file.Write(rest);
    file.Commit();
}

}  // namespace pasarela
