#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

#include "dbf/text_index.h"
#include "text/text.h"

namespace pasarela {

// The short codes a table step has given out, compared as the table stores them and
// without regard to letter case (MAT and mat are the same code to Orlavi's users; Ω1 and
// Ψ1 are both stored as ?1). Hashed on the folded text, so each test costs the same
// however many codes a school has.
class CodeList {
public:
    bool Contains(std::string_view code) const;
    void Add(std::string_view code);

    // The first of stem+1+tail, stem+2+tail, ... (decimal counter, no leading zeros) that
    // is not in the list. With a `maxLength`, the stem loses characters from its end as
    // the counter grows, so every candidate fits.
    std::string FirstFreeWithCounter(std::string_view stem, std::string_view tail = {},
                                     std::size_t maxLength = std::string::npos) const;

private:
    // The text a code is kept under: folded, as stored. Built in a buffer reused from
    // search to search.
    std::string_view Key(std::string_view code) const;

    TextIndex folded_;
    mutable std::string key_;
    // Per stem, tail and length: the counter the next search starts from.
    mutable std::unordered_map<std::string, unsigned long> nextCounter_;
};

// The text a Windows-1252 character field gives back for `text`: characters it cannot
// hold read as '?', so two codes that differ only in those are the same code in a table.
std::string StoredForm(std::string_view text);

}  // namespace pasarela
