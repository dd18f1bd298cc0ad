#include "import/table_changes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "dbf/dbf_table.h"
#include "import/table_registry.h"
#include "os/error.h"

namespace pasarela {
namespace {

// For each code, how many rows the earlier table had with it less how many the new one has.
// Codes repeat in tables that Orlavi or another program wrote, so rows are counted, not codes.
// An assignments table of a large school holds hundreds of thousands of codes, scattered far
// beyond the processor's caches: codes are added a batch at a time, and the slots, then the
// texts, that a batch will look at are asked for together, so that their waits overlap.
class CodeBalance {
public:
    static constexpr std::size_t kBatch = 16;

    // Adds `step` for each code of the batch (at most kBatch).
    void Add(std::span<const std::string_view> codes, std::int64_t step)
    {
        if ((used_ + codes.size()) * 2 > slots_.size())
            Grow(std::max<std::size_t>(64, std::bit_ceil((used_ + codes.size()) * 2)));
        const std::size_t mask = slots_.size() - 1;
        std::array<std::size_t, kBatch> hashes{};
        for (std::size_t n = 0; n < codes.size(); ++n) {
            hashes[n] = std::hash<std::string_view>{}(codes[n]);
            __builtin_prefetch(&slots_[hashes[n] & mask]);
        }
        for (std::size_t n = 0; n < codes.size(); ++n)
            if (const Slot& home = slots_[hashes[n] & mask]; home.length != kFree)
                __builtin_prefetch(texts_.data() + home.offset);
        for (std::size_t n = 0; n < codes.size(); ++n)
            Add(codes[n], hashes[n], step);
    }

    // Rows whose code only the new table has, and rows whose code only the earlier one had.
    std::pair<std::size_t, std::size_t> AddedAndGone() const
    {
        std::size_t added = 0;
        std::size_t gone = 0;
        for (const Slot& slot : slots_) {
            if (slot.balance > 0)
                gone += static_cast<std::size_t>(slot.balance);
            else
                added += static_cast<std::size_t>(-slot.balance);
        }
        return {added, gone};
    }

private:
    static constexpr std::uint32_t kFree = 0xFFFFFFFF;
    struct Slot {
        std::uint32_t tag = 0;  // the hash's high bits: the low ones chose the slot
        std::uint32_t length = kFree;
        std::size_t offset = 0;  // in texts_
        std::int64_t balance = 0;
    };

    static std::uint32_t Tag(std::size_t hash) { return static_cast<std::uint32_t>(hash >> (sizeof hash * 4)); }

    void Add(std::string_view code, std::size_t hash, std::int64_t step)
    {
        const std::uint32_t tag = Tag(hash);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.length == kFree) {
                if (code.size() >= kFree)
                    throw Error("Código demasiado largo para compararlo");
                slot = {tag, static_cast<std::uint32_t>(code.size()), texts_.size(), step};
                texts_.append(code);
                ++used_;
                return;
            }
            if (slot.tag == tag && std::string_view(texts_).substr(slot.offset, slot.length) == code) {
                slot.balance += step;
                return;
            }
        }
    }

    void Grow(std::size_t capacity)
    {
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(capacity));
        const std::size_t mask = capacity - 1;
        for (const Slot& slot : old) {
            if (slot.length == kFree)
                continue;
            const std::size_t hash =
                std::hash<std::string_view>{}(std::string_view(texts_).substr(slot.offset, slot.length));
            std::size_t i = hash & mask;
            while (slots_[i].length != kFree)
                i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;  // a power of two long, at most half full
    std::size_t used_ = 0;
    std::string texts_;
};

// Adds `step` to the balance of the code of every row of the table.
void Tally(const std::filesystem::path& path, const ImportedTable& imported, std::int64_t step, CodeBalance& balance)
{
    DbfTable table = DbfTable::Open(path);
    std::vector<std::size_t> fields;
    for (std::string_view name : imported.codeFields)
        fields.push_back(table.FieldIndex(name));
    // A batch's codes, one after another, with a separator no code holds between the
    // fields of one, so "AB"+"C" differs from "A"+"BC".
    std::string texts;
    std::array<std::size_t, CodeBalance::kBatch + 1> ends{};
    std::array<std::string_view, CodeBalance::kBatch> codes;
    std::size_t count = 0;
    std::string buffer;
    const auto flush = [&] {
        for (std::size_t n = 0; n < count; ++n)
            codes[n] = std::string_view(texts).substr(ends[n], ends[n + 1] - ends[n]);
        balance.Add(std::span(codes.data(), count), step);
        texts.clear();
        count = 0;
    };
    for (table.First(); !table.Eof(); table.Next()) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0)
                texts += '\x1F';
            texts += table.Text(fields[i], buffer);
        }
        ends[++count] = texts.size();
        if (count == CodeBalance::kBatch)
            flush();
    }
    flush();
    table.Close();
}

RunReport::Comparison Compare(const std::filesystem::path& earlier, const std::filesystem::path& built,
                              const ImportedTable& imported)
{
    RunReport::Comparison comparison;
    std::error_code ec;
    if (!std::filesystem::exists(earlier, ec) && !ec) {
        comparison.earlier = RunReport::Comparison::Earlier::Missing;
        return comparison;
    }
    CodeBalance balance;
    Tally(earlier, imported, 1, balance);
    Tally(built, imported, -1, balance);
    std::tie(comparison.added, comparison.gone) = balance.AddedAndGone();
    return comparison;
}

}  // namespace

void CompareWithEarlierTables(const std::filesystem::path& earlierDir, const std::filesystem::path& builtDir,
                              RunReport& report)
{
    for (const ImportedTable& imported : kImportedTables) {
        const std::string file = std::string(imported.name) + ".DBF";
        RunReport::Comparison comparison;
        try {
            comparison = Compare(earlierDir / file, builtDir / file, imported);
        } catch (const std::exception& e) {
            // Most often the earlier table: damaged, another program's, or held open.
            comparison.earlier = RunReport::Comparison::Earlier::Unreadable;
            comparison.problem = e.what();
        }
        report.SetComparison(std::string(imported.name), std::move(comparison));
    }
}

}  // namespace pasarela
