#include "import/code_list.h"

#include "os/error.h"
#include "text/text.h"

namespace pasarela {

std::string_view CodeList::Key(std::string_view code) const
{
    // ASCII is stored as it is, so only other texts need their stored form worked out.
    FoldCaseInto(IsAsciiText(code) ? code : std::string_view(StoredForm(code)), key_);
    return key_;
}

bool CodeList::Contains(std::string_view code) const { return folded_.Find(Key(code)).has_value(); }

void CodeList::Add(std::string_view code) { folded_.Insert(Key(code), 0); }

std::string CodeList::FirstFreeWithCounter(std::string_view stem, std::string_view tail, std::size_t maxLength) const
{
    const std::size_t tailLength = Utf8Length(tail);
    // Codes are never taken back, so a counter found taken stays taken: the next search
    // for the same stem starts where this one ended. Without this, a code repeated by
    // hundreds of merged schools would cost a search as long as its repeats each time.
    unsigned long& next = nextCounter_[FoldCase(stem) + '\0' + FoldCase(tail) + '\0' + std::to_string(maxLength)];
    if (next == 0)
        next = 1;
    // The list is finite, so some counter is free; the bound only guards a maxLength
    // too small to hold any counter at all.
    for (unsigned long& counter = next; counter < 1'000'000'000ul; ++counter) {
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

std::string StoredForm(std::string_view text)
{
    return DecodeToUtf8(Utf8ToWindows1252(text).bytes, CodePage::Windows1252);
}

}  // namespace pasarela
