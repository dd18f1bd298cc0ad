#include "import/table_changes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbf/dbf_bytes.h"
#include "dbf/dbf_table.h"
#include "import/table_registry.h"
#include "os/error.h"
#include "os/file.h"
#include "text/text.h"

namespace pasarela {
namespace {

// Codes are read, then hashed and counted, this many at a time.
constexpr std::size_t kBatch = 16;
// The buffers of the codes written aside, one per part, take at most this memory together,
// and each writes at least kMinSpillBlock bytes at a time.
constexpr std::size_t kSpillBuffers = std::size_t{2} << 20;
constexpr std::size_t kMinSpillBlock = std::size_t{4} << 10;
constexpr unsigned kMaxSpillBits = 9;

std::uint64_t Load(const char* bytes, std::size_t count)
{
    std::uint64_t value = 0;
    std::memcpy(&value, bytes, count);
    return value;
}

// A 64-bit hash of a short text, eight bytes at a time; in 64-bit arithmetic on every build,
// the 32-bit one too. The low 32 bits choose a code's slot, the high ones its part.
std::uint64_t HashCode(std::string_view code)
{
    constexpr std::uint64_t kOdd1 = 0x9E3779B97F4A7C15ULL;
    constexpr std::uint64_t kOdd2 = 0xC2B2AE3D27D4EB4FULL;
    std::uint64_t hash = kOdd1 ^ (code.size() * kOdd2);
    std::size_t at = 0;
    for (; at + 8 <= code.size(); at += 8)
        hash = std::rotl(hash ^ (Load(code.data() + at, 8) * kOdd2), 31) * kOdd1;
    if (at < code.size())
        hash = std::rotl(hash ^ (Load(code.data() + at, code.size() - at) * kOdd2), 31) * kOdd1;
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDULL;
    hash ^= hash >> 33;
    hash *= 0xC4CEB9FE1A85EC53ULL;
    hash ^= hash >> 33;
    return hash;
}

std::int32_t AddBalance(std::int32_t balance, std::int64_t step)
{
    std::int64_t sum = balance + step;
    if (sum < std::numeric_limits<std::int32_t>::min() || sum > std::numeric_limits<std::int32_t>::max())
        throw Error("La tabla tiene demasiadas filas con el mismo código para compararla");
    return static_cast<std::int32_t>(sum);
}

// For each code, how many rows the earlier table had with it less how many the new one has.
// Codes repeat in tables that Orlavi or another program wrote, so rows are counted, not codes.
// A code whose balance comes back to zero is forgotten at once: the two tables are read side
// by side, and a table rebuilt from much the same file holds its codes in much the same
// order, so the codes held at once are the few on which the two differ.
class CodeBalance {
public:
    std::size_t Size() const { return used_; }
    std::size_t TextBytes() const { return texts_.size() - garbage_; }
    // Whether `more` codes could make it hold more than `limit` codes.
    bool MayExceed(std::size_t more, std::size_t limit) const { return used_ + more > limit; }

    // `step` is never 0.
    void Add(std::string_view code, std::uint64_t hash, std::int64_t step)
    {
        if (NeedsGrowth(1))
            Grow(std::max<std::size_t>(64, slots_.size() * 2));
        const auto tag = static_cast<std::uint32_t>(hash);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = tag & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.balance == 0) {
                if (code.size() > kMaxText - texts_.size())
                    throw Error("Demasiados códigos distintos para compararlos");
                slot = {tag, static_cast<std::uint32_t>(texts_.size()), static_cast<std::uint32_t>(code.size()),
                        AddBalance(0, step)};
                texts_.append(code);
                ++used_;
                return;
            }
            if (slot.tag == tag && slot.length == code.size() &&
                std::memcmp(texts_.data() + slot.offset, code.data(), code.size()) == 0) {
                slot.balance = AddBalance(slot.balance, step);
                if (slot.balance == 0)
                    Remove(i);
                return;
            }
        }
    }

    // Every code held, with its balance.
    template <typename Use>
    void ForEach(Use use) const
    {
        for (const Slot& slot : slots_)
            if (slot.balance != 0)
                use(std::string_view(texts_).substr(slot.offset, slot.length), slot.balance);
    }

    // Adds the rows whose code only the new table has to `added`, and those whose code only
    // the earlier one had to `gone`.
    void Total(std::uint64_t& added, std::uint64_t& gone) const
    {
        for (const Slot& slot : slots_) {
            if (slot.balance > 0)
                gone += static_cast<std::uint64_t>(slot.balance);
            else
                added += static_cast<std::uint64_t>(-static_cast<std::int64_t>(slot.balance));
        }
    }

    // Forgets every code, keeping the memory for as many.
    void Empty()
    {
        std::fill(slots_.begin(), slots_.end(), Slot{});
        texts_.clear();
        used_ = 0;
        garbage_ = 0;
    }

    // Forgets every code and gives back the memory.
    void Clear()
    {
        slots_ = {};
        texts_ = {};
        used_ = 0;
        garbage_ = 0;
    }

private:
    static constexpr std::size_t kMaxText = std::numeric_limits<std::uint32_t>::max();
    struct Slot {
        std::uint32_t tag = 0;  // the hash's low bits, the first of which chose the slot
        std::uint32_t offset = 0;  // in texts_
        std::uint32_t length = 0;
        std::int32_t balance = 0;  // 0: a free slot
    };

    bool NeedsGrowth(std::size_t more) const { return (used_ + more) * 2 > slots_.size(); }

    // Linear probing lets a slot be emptied without a mark: the codes after it that would
    // have been found in it move back.
    void Remove(std::size_t hole)
    {
        const std::size_t mask = slots_.size() - 1;
        garbage_ += slots_[hole].length;
        for (std::size_t i = (hole + 1) & mask; slots_[i].balance != 0; i = (i + 1) & mask) {
            const std::size_t home = slots_[i].tag & mask;
            if (((i - home) & mask) >= ((i - hole) & mask)) {
                slots_[hole] = slots_[i];
                hole = i;
            }
        }
        slots_[hole] = Slot{};
        --used_;
        // Texts of forgotten codes are left where they were until they are half the texts.
        if (garbage_ > 4096 && garbage_ * 2 > texts_.size())
            Compact();
    }

    void Compact()
    {
        std::string texts;
        texts.reserve(texts_.size() - garbage_);
        for (Slot& slot : slots_) {
            if (slot.balance == 0)
                continue;
            const auto offset = static_cast<std::uint32_t>(texts.size());
            texts.append(texts_, slot.offset, slot.length);
            slot.offset = offset;
        }
        texts_ = std::move(texts);
        garbage_ = 0;
    }

    void Grow(std::size_t capacity)
    {
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(capacity));
        const std::size_t mask = capacity - 1;
        for (const Slot& slot : old) {
            if (slot.balance == 0)
                continue;
            std::size_t i = slot.tag & mask;
            while (slots_[i].balance != 0)
                i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;  // a power of two long, at most half full
    std::size_t used_ = 0;
    std::string texts_;
    std::size_t garbage_ = 0;  // bytes of texts_ no slot uses
};

// The codes of one table's rows, in stored order. The code of a row is its code fields'
// texts as the table reads them (decoded, without the fill), each but the last preceded by
// its length, so "AB"+"C" differs from "A"+"BC" whatever the texts hold.
class CodeRows {
public:
    CodeRows(const std::filesystem::path& path, const ImportedTable& imported) : table_(DbfTable::Open(path))
    {
        for (std::string_view name : imported.codeFields) {
            const std::size_t index = table_.FieldIndex(name);
            const DbfField& field = table_.Fields()[index];
            fields_.push_back({index, field.offset, field.length, field.type == 'C'});
        }
        for (const FieldSpec& spec : imported.fields) {
            const auto& fields = table_.Fields();
            std::size_t index = 0;
            while (index < fields.size() && !EqualsIgnoreCase(fields[index].name, spec.name))
                ++index;
            valueFields_.push_back(index);
        }
        table_.First();
    }

    // Whether this table and `other` store every value alike (the same fields at the same
    // places, in the same code page), so equal record bytes are equal values.
    bool StoresRowsAs(const CodeRows& other) const
    {
        const auto& mine = table_.Fields();
        const auto& theirs = other.table_.Fields();
        if (table_.TextCodePage() != other.table_.TextCodePage() || mine.size() != theirs.size())
            return false;
        for (std::size_t i = 0; i < mine.size(); ++i)
            if (mine[i].name != theirs[i].name || mine[i].type != theirs[i].type ||
                mine[i].length != theirs[i].length || mine[i].decimals != theirs[i].decimals ||
                mine[i].offset != theirs[i].offset)
                return false;
        return true;
    }

    // A hash of the values `record`, the current row, stores: its bytes when `asBytes`
    // (tables that store rows alike), else the text of each of the table's fields, so
    // tables laid out apart compare by what they hold.
    std::uint64_t ValueHash(std::string_view record, bool asBytes)
    {
        if (asBytes)
            return HashCode(record);
        values_.clear();
        for (const std::size_t index : valueFields_) {
            const std::string_view text =
                index < table_.Fields().size() ? table_.Text(index, buffer_) : std::string_view();
            const auto length = static_cast<std::uint32_t>(text.size());
            values_.append(reinterpret_cast<const char*>(&length), sizeof length);
            values_.append(text);
        }
        return HashCode(values_);
    }

    bool Done() const { return table_.Eof(); }
    // The current row's stored bytes (DbfTable::RecordBytes).
    std::string_view Record() const { return table_.RecordBytes(); }
    void Next()
    {
        table_.Next();
        ++read_;
    }

    // Appends the code of `record`, the current row, to `codes`.
    void AppendCode(std::string_view record, std::string& codes)
    {
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            const CodeField& field = fields_[i];
            std::string_view text;
            // What Text() gives, without its checks on every field of every row: the
            // stored bytes of a character field are its text when they are ASCII.
            if (field.character)
                text = dbf::WithoutFill(record.substr(field.offset, field.length));
            if (!field.character || !IsAsciiText(text))
                text = table_.Text(field.index, buffer_);
            if (i + 1 < fields_.size())
                for (std::size_t length = text.size();; length >>= 7) {
                    codes += static_cast<char>(length < 0x80 ? length : (length & 0x7F) | 0x80);
                    if (length < 0x80)
                        break;
                }
            codes += text;
        }
    }

    // Whether equal bytes in the code fields of this table and `other` are equal codes: the
    // fields are character fields of the same widths in both, read in the same code page.
    bool StoresCodesAs(const CodeRows& other) const
    {
        if (table_.TextCodePage() != other.table_.TextCodePage() || fields_.size() != other.fields_.size())
            return false;
        for (std::size_t i = 0; i < fields_.size(); ++i)
            if (!fields_[i].character || !other.fields_[i].character || fields_[i].length != other.fields_[i].length)
                return false;
        return true;
    }
    // Whether `record` of this table and `theirs` of `other` hold the same bytes in their code
    // fields; only for tables that store codes alike.
    bool SameCodeBytes(std::string_view record, const CodeRows& other, std::string_view theirs) const
    {
        for (std::size_t i = 0; i < fields_.size(); ++i)
            if (record.substr(fields_[i].offset, fields_[i].length) !=
                theirs.substr(other.fields_[i].offset, other.fields_[i].length))
                return false;
        return true;
    }

    // Rows not read yet, as the header counts them.
    std::size_t Left() const { return table_.RecordCount() - std::min(read_, table_.RecordCount()); }
    void Close() { table_.Close(); }

private:
    struct CodeField {
        std::size_t index;
        std::size_t offset;
        std::size_t length;
        bool character;
    };

    DbfTable table_;
    std::vector<CodeField> fields_;
    std::vector<std::size_t> valueFields_;  // of the registry's fields, in its order; past the end when missing
    std::string buffer_;
    std::string values_;
    std::size_t read_ = 0;
};

// Codes and their balances written aside, in parts by their hash, so each part can be
// counted alone: a code's rows all go to one part.
class CodeSpill {
public:
    CodeSpill(std::filesystem::path path, unsigned bits)
        : path_(std::move(path)),
          file_(File::Open(path_, File::Mode::Create, File::Links::Refuse)),
          bits_(bits),
          block_(std::max(kMinSpillBlock, kSpillBuffers >> bits)),
          buffers_(std::size_t{1} << bits),
          blocks_(std::size_t{1} << bits)
    {
    }
    CodeSpill(const CodeSpill&) = delete;
    CodeSpill& operator=(const CodeSpill&) = delete;
    ~CodeSpill()
    {
        file_.Close();
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }

    void Put(std::string_view code, std::uint64_t hash, std::int64_t balance)
    {
        const auto part = static_cast<std::size_t>(hash >> (64 - bits_));
        std::string& buffer = buffers_[part];
        if (buffer.empty())
            buffer.reserve(block_ + 64);
        const auto length = static_cast<std::uint32_t>(code.size());
        const std::int32_t value = AddBalance(0, balance);
        buffer.append(reinterpret_cast<const char*>(&length), sizeof length);
        buffer.append(reinterpret_cast<const char*>(&value), sizeof value);
        buffer.append(code);
        if (buffer.size() >= block_)
            Flush(part);
    }

    // Counts each part in `balance`, which it leaves empty, and adds the totals.
    void Total(CodeBalance& balance, std::uint64_t& added, std::uint64_t& gone)
    {
        for (std::size_t part = 0; part < buffers_.size(); ++part)
            Flush(part);
        buffers_ = {};
        std::string block;
        for (const std::vector<Block>& blocks : blocks_) {
            for (const Block& at : blocks) {
                block.resize(at.size);
                if (file_.ReadAt(at.offset, block.data(), block.size()) != block.size())
                    throw Error("No se pudo leer de nuevo el archivo auxiliar " + QuotedPath(path_));
                for (std::size_t pos = 0; pos < block.size();) {
                    std::uint32_t length = 0;
                    std::int32_t value = 0;
                    std::memcpy(&length, block.data() + pos, sizeof length);
                    std::memcpy(&value, block.data() + pos + sizeof length, sizeof value);
                    pos += sizeof length + sizeof value;
                    const std::string_view code(block.data() + pos, length);
                    pos += length;
                    balance.Add(code, HashCode(code), value);
                }
            }
            balance.Total(added, gone);
            balance.Empty();
        }
        balance.Clear();
    }

private:
    struct Block {
        std::uint64_t offset = 0;
        std::size_t size = 0;
    };

    void Flush(std::size_t part)
    {
        std::string& buffer = buffers_[part];
        if (buffer.empty())
            return;
        file_.WriteAt(written_, buffer.data(), buffer.size());
        blocks_[part].push_back({written_, buffer.size()});
        written_ += buffer.size();
        buffer.clear();
    }

    std::filesystem::path path_;
    File file_;
    unsigned bits_;
    std::size_t block_;
    std::vector<std::string> buffers_;
    std::vector<std::vector<Block>> blocks_;
    std::uint64_t written_ = 0;
};

// How many bits of the hash choose a part, so that a part holds about half the codes that
// memory may: parts vary a little in size, and the header's counts may be wrong.
unsigned SpillBits(std::size_t codes, std::size_t limit)
{
    const std::size_t perPart = std::max<std::size_t>(1, limit / 2);
    const std::size_t parts = std::bit_ceil(std::max<std::size_t>(2, (codes + perPart - 1) / perPart));
    return std::min<unsigned>(kMaxSpillBits, static_cast<unsigned>(std::countr_zero(parts)));
}

// A CodeBalance that, once it would hold more than the limit, goes on in a CodeSpill.
class Tally {
public:
    Tally(std::filesystem::path spillPath, std::size_t limit) : spillPath_(std::move(spillPath)), limit_(limit) {}

    // `left`: how many rows may still come, to size the parts.
    void Add(std::string_view code, std::uint64_t hash, std::int64_t step, std::size_t left)
    {
        if (!spill_ && (balance_.MayExceed(1, limit_) || balance_.TextBytes() > limit_ * 64)) {
            // Too many codes differ to hold them: from here on they are counted a part at a time.
            spill_.emplace(spillPath_, SpillBits(balance_.Size() + left, limit_));
            balance_.ForEach([&](std::string_view held, std::int32_t value) { spill_->Put(held, HashCode(held), value); });
            balance_.Clear();
        }
        if (spill_)
            spill_->Put(code, hash, step);
        else
            balance_.Add(code, hash, step);
    }

    void Total(std::uint64_t& added, std::uint64_t& gone)
    {
        if (spill_)
            spill_->Total(balance_, added, gone);
        else
            balance_.Total(added, gone);
    }

private:
    std::filesystem::path spillPath_;
    std::size_t limit_;
    CodeBalance balance_;
    std::optional<CodeSpill> spill_;
};

RunReport::Comparison Compare(const std::filesystem::path& earlier, const std::filesystem::path& built,
                              const std::filesystem::path& spillPath, const ImportedTable& imported,
                              const ComparisonLimits& limits)
{
    RunReport::Comparison comparison;
    std::error_code ec;
    if (!std::filesystem::exists(earlier, ec) && !ec) {
        comparison.earlier = RunReport::Comparison::Earlier::Missing;
        return comparison;
    }
    CodeRows earlierRows(earlier, imported);
    CodeRows builtRows(built, imported);
    const std::size_t limit = std::max<std::size_t>(1, limits.codesInMemory);
    // Rows are counted twice: by their code, for the rows new and gone, and by their code
    // with their values, for the rows whose values changed under the same code.
    Tally codes(spillPath, limit);
    std::filesystem::path rowsSpillPath = spillPath;
    rowsSpillPath += "-filas";
    Tally rows(rowsSpillPath, limit);
    // A table rebuilt from much the same file holds much the same rows in the same order:
    // two rows side by side whose code fields hold the same bytes balance at once.
    const bool sameBytesSameCode = earlierRows.StoresCodesAs(builtRows);
    const bool valuesAsBytes = earlierRows.StoresRowsAs(builtRows);
    std::string text;
    std::array<std::size_t, kBatch + 1> ends{};
    std::array<std::uint64_t, kBatch> hashes{};
    std::array<std::uint64_t, kBatch> valueHashes{};
    std::array<int, kBatch> steps{};
    std::string rowKey;
    // A row by its code and its values' hash.
    const auto countRow = [&](std::string_view code, std::uint64_t valueHash, int step) {
        rowKey.assign(code);
        rowKey.append(reinterpret_cast<const char*>(&valueHash), sizeof valueHash);
        rows.Add(rowKey, HashCode(rowKey), step, earlierRows.Left() + builtRows.Left());
    };
    std::string sameCode;
    while (!earlierRows.Done() || !builtRows.Done()) {
        text.clear();
        std::size_t count = 0;
        const auto take = [&](CodeRows& table, std::string_view record, int step) {
            table.AppendCode(record, text);
            valueHashes[count] = table.ValueHash(record, valuesAsBytes);
            steps[count] = step;
            ends[++count] = text.size();
            table.Next();
        };
        while (count + 2 <= kBatch && (!earlierRows.Done() || !builtRows.Done())) {
            if (earlierRows.Done()) {
                take(builtRows, builtRows.Record(), -1);
                continue;
            }
            const std::string_view earlierRecord = earlierRows.Record();
            if (builtRows.Done()) {
                take(earlierRows, earlierRecord, 1);
                continue;
            }
            const std::string_view builtRecord = builtRows.Record();
            if (sameBytesSameCode && earlierRows.SameCodeBytes(earlierRecord, builtRows, builtRecord)) {
                // The same code: the rows balance, unless their values differ.
                if (!valuesAsBytes || earlierRecord != builtRecord) {
                    const std::uint64_t earlierValues = earlierRows.ValueHash(earlierRecord, valuesAsBytes);
                    const std::uint64_t builtValues = builtRows.ValueHash(builtRecord, valuesAsBytes);
                    if (earlierValues != builtValues) {
                        sameCode.clear();
                        earlierRows.AppendCode(earlierRecord, sameCode);
                        countRow(sameCode, earlierValues, 1);
                        countRow(sameCode, builtValues, -1);
                    }
                }
                earlierRows.Next();
                builtRows.Next();
                continue;
            }
            take(earlierRows, earlierRecord, 1);
            take(builtRows, builtRecord, -1);
        }
        const auto code = [&](std::size_t n) { return std::string_view(text).substr(ends[n], ends[n + 1] - ends[n]); };
        for (std::size_t n = 0; n < count; ++n)
            hashes[n] = HashCode(code(n));
        const std::size_t left = earlierRows.Left() + builtRows.Left() + count;
        for (std::size_t n = 0; n < count; ++n) {
            codes.Add(code(n), hashes[n], steps[n], left);
            countRow(code(n), valueHashes[n], steps[n]);
        }
    }
    earlierRows.Close();
    builtRows.Close();
    std::uint64_t added = 0;
    std::uint64_t gone = 0;
    codes.Total(added, gone);
    // A row whose values no earlier row of its code held is new, or changed when its code
    // is not.
    std::uint64_t rowsAdded = 0;
    std::uint64_t rowsGone = 0;
    rows.Total(rowsAdded, rowsGone);
    comparison.changed = static_cast<std::size_t>(rowsAdded > added ? rowsAdded - added : 0);
    comparison.added = static_cast<std::size_t>(added);
    comparison.gone = static_cast<std::size_t>(gone);
    return comparison;
}

}  // namespace

void CompareWithEarlierTables(const std::filesystem::path& earlierDir, const std::filesystem::path& builtDir,
                              RunReport& report, const ComparisonLimits& limits)
{
    for (const ImportedTable& imported : kImportedTables) {
        const std::string file = std::string(imported.name) + ".DBF";
        RunReport::Comparison comparison;
        try {
            comparison = Compare(earlierDir / file, builtDir / file,
                                 builtDir / (std::string(imported.name) + "-comparacion.tmp"), imported, limits);
        } catch (const std::exception& e) {
            // Most often the earlier table: damaged, another program's, or held open.
            comparison.earlier = RunReport::Comparison::Earlier::Unreadable;
            comparison.problem = UserMessage(e);
        }
        report.SetComparison(std::string(imported.name), std::move(comparison));
    }
}

}  // namespace pasarela
