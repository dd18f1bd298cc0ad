#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

// A file read through ReadXmlFile into a small tree of elements and attributes, so the tests
// can ask what the reader handed on, and write it back through SaveXmlFile.
namespace pasarela::test {

class TestXmlElement {
public:
    std::string_view Name() const { return name_; }
    // The value as the reader gave it; nullopt when absent.
    std::optional<std::string_view> Attribute(std::string_view name) const
    {
        for (const auto& [key, value] : attributes_)
            if (key == name)
                return std::string_view(value);
        return std::nullopt;
    }

private:
    friend class TestXmlFile;
    std::string name_;
    std::size_t parent_ = 0;  // index of the parent element; the root's is its own
    std::size_t depth_ = 0;
    std::size_t end_ = 0;  // index of the first element after this one's descendants
    std::vector<std::pair<std::string, std::string>> attributes_;
};

class TestXmlFile {
public:
    static TestXmlFile Load(const std::filesystem::path& path)
    {
        TestXmlFile file;
        Collector collector(file.elements_);
        file.facts_ = ReadXmlFile(path, collector);
        return file;
    }

    std::string_view Encoding() const { return EncodingName(facts_.encoding); }
    const XmlFileFacts& Facts() const { return facts_; }

    std::optional<TestXmlElement> Root() const
    {
        if (elements_.empty() || rootRemoved_)
            return std::nullopt;
        return elements_.front();
    }

    // Every element on an absolute path of element names, in document order.
    std::vector<TestXmlElement> SelectElements(std::string_view absolutePath) const
    {
        std::vector<TestXmlElement> found;
        if (rootRemoved_)
            return found;
        std::vector<std::string_view> names;
        for (std::size_t at = 0; at < absolutePath.size();) {
            const std::size_t next = absolutePath.find('/', at + 1);
            names.push_back(absolutePath.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
            at = next == std::string_view::npos ? absolutePath.size() : next;
        }
        for (const TestXmlElement& element : elements_) {
            if (element.depth_ != names.size())
                continue;
            const TestXmlElement* up = &element;
            bool matches = true;
            for (std::size_t level = names.size(); level-- > 0; up = &elements_[up->parent_])
                matches = matches && up->name_ == names[level];
            if (matches)
                found.push_back(element);
        }
        return found;
    }

    void RemoveRoot() { rootRemoved_ = true; }

    // The bytes SaveXmlFile writes for the file read, its elements written back as read.
    std::string SaveToString(const std::filesystem::path& scratch) const
    {
        SaveXmlFile(scratch, facts_, [this](XmlStreamWriter& out) {
            if (rootRemoved_)
                return;
            std::vector<std::size_t> open;
            for (std::size_t i = 0; i < elements_.size(); ++i) {
                while (!open.empty() && elements_[open.back()].end_ <= i) {
                    out.EndElement();
                    open.pop_back();
                }
                out.StartElement(elements_[i].name_);
                for (const auto& [name, value] : elements_[i].attributes_)
                    out.Attribute(name, value);
                open.push_back(i);
            }
            for (std::size_t i = 0; i < open.size(); ++i)
                out.EndElement();
        });
        std::ifstream in(scratch, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return bytes;
    }

private:
    class Collector final : public XmlElementHandler {
    public:
        explicit Collector(std::vector<TestXmlElement>& elements) : elements_(elements) {}
        void StartElement(std::string_view name, std::size_t depth, std::span<const XmlAttributeRef> attributes) override
        {
            TestXmlElement element;
            element.name_ = std::string(name);
            element.depth_ = depth;
            element.parent_ = open_.empty() ? elements_.size() : open_.back();
            for (const XmlAttributeRef& attribute : attributes)
                element.attributes_.emplace_back(attribute.name, attribute.value);
            open_.push_back(elements_.size());
            elements_.push_back(std::move(element));
        }
        void EndElement(std::size_t) override
        {
            elements_[open_.back()].end_ = elements_.size();
            open_.pop_back();
        }

    private:
        std::vector<TestXmlElement>& elements_;
        std::vector<std::size_t> open_;
    };

    XmlFileFacts facts_;
    std::vector<TestXmlElement> elements_;
    bool rootRemoved_ = false;
};

}  // namespace pasarela::test
