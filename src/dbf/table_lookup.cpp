#include "dbf/table_lookup.h"

namespace pasarela {
namespace {

std::vector<std::size_t> FieldIndexes(const DbfTable& table, std::span<const std::string_view> names)
{
    std::vector<std::size_t> indexes;
    for (std::string_view name : names)
        indexes.push_back(table.FieldIndex(name));
    return indexes;
}

}  // namespace

TableLookup::TableLookup(DbfTable& table, std::size_t keyField, std::span<const std::size_t> fields)
    : width_(fields.size())
{
    index_.Reserve(table.RecordCount());
    // Where each text ends in texts_, until texts_ stops growing and views can be taken.
    std::vector<std::size_t> ends;
    ends.reserve(table.RecordCount() * width_);
    std::string buffer;
    for (table.First(); !table.Eof(); table.Next()) {
        const auto row = static_cast<std::uint32_t>(index_.Size());
        if (!index_.Insert(table.Text(keyField, buffer), row))
            continue;
        for (std::size_t field : fields) {
            texts_.append(table.Text(field, buffer));
            ends.push_back(texts_.size());
        }
    }
    texts_.shrink_to_fit();
    values_.reserve(ends.size());
    std::size_t start = 0;
    for (const std::size_t end : ends) {
        values_.push_back(std::string_view(texts_).substr(start, end - start));
        start = end;
    }
}

TableLookup::TableLookup(DbfTable& table, std::string_view keyField, std::span<const std::string_view> fields)
    : TableLookup(table, table.FieldIndex(keyField), FieldIndexes(table, fields))
{
}

TableLookup::TableLookup(DbfTable& table, std::string_view keyField,
                         std::initializer_list<std::string_view> fields)
    : TableLookup(table, keyField, std::span<const std::string_view>(fields.begin(), fields.size()))
{
}

}  // namespace pasarela
