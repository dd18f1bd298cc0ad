#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_reader.h"

namespace pasarela {

// One DASTENO entry being read: its attributes come trimmed, an absent one as empty text.
class Entry {
public:
    Entry(std::string_view element, std::size_t number, std::span<const XmlAttributeRef> attributes)
        : element_(element), number_(number), attributes_(attributes)
    {
    }

    // A view into what the reader handed on, valid during the call that gives the entry.
    std::string_view Read(std::string_view attribute) const;
    // "profesor nº 3 (codigo='MAT', idprofesor='503')": how an error names the entry.
    std::string Label(std::initializer_list<std::string_view> keys) const;
    // Its place in its section, from 1, in document order.
    std::size_t Number() const { return number_; }

    std::string_view Element() const { return element_; }
    std::span<const XmlAttributeRef> Attributes() const { return attributes_; }

private:
    std::string_view element_;
    std::size_t number_;
    std::span<const XmlAttributeRef> attributes_;
};

// An entry kept after the reader has moved on.
class HeldEntry {
public:
    explicit HeldEntry(const Entry& entry);
    // Its views lead into its own texts.
    HeldEntry(const HeldEntry&) = delete;
    HeldEntry& operator=(const HeldEntry&) = delete;
    Entry View() const { return Entry(element_, number_, refs_); }

private:
    std::string element_;
    std::size_t number_;
    std::vector<std::string> texts_;  // name, value, name, value...
    std::vector<XmlAttributeRef> refs_;
};

}  // namespace pasarela
