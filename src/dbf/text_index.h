#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pasarela {

// Texts found by exact equality (letter case included), each with a number: a school's
// tables are searched by code once per timetable entry, a million times in an export.
// Kept flat, with short texts (Orlavi's codes) inside the slots themselves, because at
// these sizes every further place a search has to look is a cache miss.
class TextIndex {
public:
    // Adds `text` with `value` unless `text` is already there: the first one stays, as a
    // search of a table in stored order finds it. Returns whether it was added.
    bool Insert(std::string_view text, std::uint32_t value);
    std::optional<std::uint32_t> Find(std::string_view text) const;
    // Asks the processor to fetch where `text` would be, so that a Find soon after does
    // not wait for memory: searches for many rows can then overlap instead of queueing.
    void Prefetch(std::string_view text) const;
    std::size_t Size() const { return size_; }
    void Reserve(std::size_t count);

private:
    static constexpr std::size_t kInline = 11;
    static constexpr std::uint8_t kFree = 0xFF;
    static constexpr std::uint8_t kLong = 0xFE;  // the text is in longTexts_

    struct Slot {
        std::uint32_t value = 0;     // for a long text, its place in longTexts_
        std::uint8_t length = kFree;
        char text[kInline] = {};
    };
    struct LongText {
        std::size_t offset;  // in texts_
        std::size_t length;
        std::uint32_t value;
    };

    static std::size_t Hash(std::string_view text);
    bool Holds(const Slot& slot, std::string_view text) const;
    std::size_t SlotOf(std::string_view text) const;
    void Grow(std::size_t capacity);
    std::string_view TextOf(const Slot& slot) const;

    std::vector<Slot> slots_;  // a power of two long, at most three quarters full
    std::size_t size_ = 0;
    std::vector<LongText> longTexts_;
    std::string texts_;
};

}  // namespace pasarela
