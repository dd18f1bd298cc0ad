#pragma once

#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/text_index.h"

namespace pasarela {

// Some fields of a table's records, found by the text of one key field. Read whole when
// made: the runs search the same few thousand codes hundreds of thousands of times, and
// the texts are then ready to write instead of being read again from the record.
class TableLookup {
public:
    // For each text of `keyField`, the first record with it in stored order (deleted
    // records left out), exactly as stored (letter case included); `fields` as AsString
    // reads them.
    // Scans the table, so its current record is past the end afterwards.
    TableLookup(DbfTable& table, std::size_t keyField, std::span<const std::size_t> fields);
    TableLookup(DbfTable& table, std::string_view keyField, std::span<const std::string_view> fields);
    TableLookup(DbfTable& table, std::string_view keyField, std::initializer_list<std::string_view> fields);
    // Its views lead into itself.
    TableLookup(const TableLookup&) = delete;
    TableLookup& operator=(const TableLookup&) = delete;

    // The fields of the record whose key is exactly `key` (letter case included), in the
    // order asked for; nothing when there is none.
    std::optional<std::span<const std::string_view>> Find(std::string_view key) const
    {
        const auto row = index_.Find(key);
        if (!row)
            return std::nullopt;
        return std::span<const std::string_view>(values_).subspan(*row * width_, width_);
    }
    bool Contains(std::string_view key) const { return index_.Find(key).has_value(); }
    // See TextIndex::Prefetch.
    void Prefetch(std::string_view key) const { index_.Prefetch(key); }

private:
    TextIndex index_;
    std::size_t width_;
    // width_ per distinct key, in stored order: views into texts_, where they are packed
    // one after another (a string each would cost twice the memory for texts this short).
    std::vector<std::string_view> values_;
    std::string texts_;
};

// A table opened for exclusive use and searched through a TableLookup: a run holds the
// tables it reads until it ends, so Orlavi cannot rewrite them under it.
class HeldTableLookup {
public:
    HeldTableLookup(const std::filesystem::path& path, std::string_view keyField,
                    std::span<const std::string_view> fields)
        : table_(DbfTable::Open(path)), rows_(table_, keyField, fields)
    {
    }

    std::optional<std::span<const std::string_view>> Find(std::string_view key) const { return rows_.Find(key); }
    void Prefetch(std::string_view key) const { rows_.Prefetch(key); }
    void Close() { table_.Close(); }

private:
    DbfTable table_;
    TableLookup rows_;
};

}  // namespace pasarela
