#include "import/code_list.h"

#include "platform/error.h"
#include "platform/text.h"

namespace pasarela {

bool CodeList::Contains(std::string_view code) const { return folded_.contains(FoldCase(code)); }

void CodeList::Add(std::string_view code) { folded_.insert(FoldCase(code)); }

std::string CodeList::FirstFreeWithCounter(std::string_view stem, std::string_view tail, std::size_t maxLength) const
{
    const std::size_t tailLength = Utf8Length(tail);
    // The list is finite, so some counter is free; the bound only guards a maxLength
    // too small to hold any counter at all.
    for (unsigned long counter = 1; counter < 1'000'000'000ul; ++counter) {
        std::string digits = std::to_string(counter);
        std::string candidate;
        if (maxLength == std::string::npos) {
            candidate = std::string(stem) + digits + std::string(tail);
        } else {
            if (digits.size() + tailLength > maxLength)
                break;
            candidate = Utf8Prefix(stem, maxLength - digits.size() - tailLength) + digits + std::string(tail);
        }
        if (!Contains(candidate))
            return candidate;
    }
    throw Error("No queda ningún código libre para '" + std::string(stem) + "'");
}

std::string FirstChars(std::string_view text, std::size_t count) { return Utf8Prefix(text, count); }

std::string LastChars(std::string_view text, std::size_t count) { return Utf8Suffix(text, count); }

std::size_t CharCount(std::string_view text) { return Utf8Length(text); }

}  // namespace pasarela
