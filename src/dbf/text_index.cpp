#include "dbf/text_index.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>

#include "os/error.h"

namespace pasarela {

std::size_t TextIndex::Hash(std::string_view text) { return std::hash<std::string_view>{}(text); }

std::string_view TextIndex::TextOf(const Slot& slot) const
{
    if (slot.length == kLong) {
        const LongText& entry = longTexts_[slot.value];
        return std::string_view(texts_).substr(entry.offset, entry.length);
    }
    return std::string_view(slot.text, slot.length);
}

bool TextIndex::Holds(const Slot& slot, std::string_view text) const
{
    if (text.size() <= kInline)
        return slot.length == text.size() && (text.empty() || std::memcmp(slot.text, text.data(), text.size()) == 0);
    return slot.length == kLong && TextOf(slot) == text;
}

// The slot holding `text`, or the free slot where it would go.
std::size_t TextIndex::SlotOf(std::string_view text) const
{
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = Hash(text) & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.length == kFree || Holds(slot, text))
            return i;
    }
}

void TextIndex::Grow(std::size_t capacity)
{
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(capacity, Slot{});
    const std::size_t mask = capacity - 1;
    for (const Slot& slot : old) {
        if (slot.length == kFree)
            continue;
        std::size_t i = Hash(TextOf(slot)) & mask;
        while (slots_[i].length != kFree)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

void TextIndex::Reserve(std::size_t count)
{
    const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(16, count + count / 3 + 1));
    if (wanted > slots_.size())
        Grow(wanted);
}

bool TextIndex::Insert(std::string_view text, std::uint32_t value)
{
    if ((size_ + 1) * 4 > slots_.size() * 3)
        Grow(std::max<std::size_t>(16, slots_.size() * 2));
    const std::size_t i = SlotOf(text);
    Slot& slot = slots_[i];
    if (slot.length != kFree)
        return false;
    if (text.size() <= kInline) {
        slot.length = static_cast<std::uint8_t>(text.size());
        if (!text.empty())  // an empty view may hold no pointer at all
            std::memcpy(slot.text, text.data(), text.size());
        slot.value = value;
    } else {
        if (longTexts_.size() >= std::numeric_limits<std::uint32_t>::max())
            throw Error("Demasiados valores distintos para buscarlos");
        longTexts_.push_back({texts_.size(), text.size(), value});
        texts_.append(text);
        slot.length = kLong;
        slot.value = static_cast<std::uint32_t>(longTexts_.size() - 1);
    }
    ++size_;
    return true;
}

void TextIndex::Prefetch(std::string_view text) const
{
    if (!slots_.empty())
        __builtin_prefetch(&slots_[Hash(text) & (slots_.size() - 1)]);
}

std::optional<std::uint32_t> TextIndex::Find(std::string_view text) const
{
    if (slots_.empty())
        return std::nullopt;
    const Slot& slot = slots_[SlotOf(text)];
    if (slot.length == kFree)
        return std::nullopt;
    return slot.length == kLong ? longTexts_[slot.value].value : slot.value;
}

}  // namespace pasarela
