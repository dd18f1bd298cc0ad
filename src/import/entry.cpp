#include "import/entry.h"

#include "text/text.h"

namespace pasarela {

std::string_view Entry::Read(std::string_view attribute) const
{
    for (const XmlAttributeRef& held : attributes_)
        if (NameIs(held.name, attribute))
            return Trim(held.value);
    return {};
}

std::string Entry::Label(std::initializer_list<std::string_view> keys) const
{
    // Built in place: a file of merged schools can give tens of thousands of notices.
    std::string label;
    label.reserve(80);
    label.append(element_).append(" nº ").append(std::to_string(number_));
    bool first = true;
    for (std::string_view key : keys) {
        label.append(first ? " (" : ", ").append(key).append("='").append(Excerpt(Read(key))).append("'");
        first = false;
    }
    if (!first)
        label += ")";
    return label;
}

HeldEntry::HeldEntry(const Entry& entry) : element_(entry.Element()), number_(entry.Number())
{
    texts_.reserve(entry.Attributes().size() * 2);
    for (const XmlAttributeRef& attribute : entry.Attributes()) {
        texts_.emplace_back(attribute.name);
        texts_.emplace_back(attribute.value);
    }
    for (std::size_t i = 0; i < texts_.size(); i += 2)
        refs_.push_back({texts_[i].c_str(), texts_[i + 1].c_str()});
}

}  // namespace pasarela
