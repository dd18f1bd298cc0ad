#include "dbf/table_lookup.h"

namespace pasarela {
namespace {

std::vector<std::size_t> FieldIndexes(const DbfTable& table, std::initializer_list<std::string_view> names)
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
    values_.reserve(table.RecordCount() * width_);
    std::string buffer;
    for (table.First(); !table.Eof(); table.Next()) {
        const auto row = static_cast<std::uint32_t>(index_.Size());
        if (!index_.Insert(table.Text(keyField, buffer), row))
            continue;
        for (std::size_t field : fields)
            values_.emplace_back(table.Text(field, buffer));
    }
}

TableLookup::TableLookup(DbfTable& table, std::string_view keyField,
                         std::initializer_list<std::string_view> fields)
    : TableLookup(table, table.FieldIndex(keyField), FieldIndexes(table, fields))
{
}

}  // namespace pasarela
