#include "import/import_context.h"

#include <algorithm>

#include "text/text.h"

namespace pasarela {

std::string_view Entry::Read(std::string_view attribute) const
{
    const std::size_t held = std::min(count_, attributes_.size());
    for (std::size_t a = 0; a < held; ++a)
        if (NameIs(attributes_[a].name, attribute))
            return Trim(attributes_[a].value);
    if (count_ > held) {
        auto value = element_.Attribute(attribute);
        return value ? Trim(*value) : std::string_view();
    }
    return {};
}

std::string Entry::Label(std::initializer_list<std::string_view> keys) const
{
    // Built in place: a file of merged schools can give tens of thousands of notices.
    std::string label;
    label.reserve(80);
    label.append(element_.Name()).append(" nº ").append(std::to_string(number_));
    bool first = true;
    for (std::string_view key : keys) {
        label.append(first ? " (" : ", ").append(key).append("='").append(Read(key)).append("'");
        first = false;
    }
    if (!first)
        label += ")";
    return label;
}

DbfTable CreateStepTable(const ImportContext& context, const ImportedTable& table)
{
    std::filesystem::path path = context.tableDir / (std::string(table.name) + ".DBF");
    DbfTable::Create(path, table.fields);
    return DbfTable::Open(path, {.access = DbfTable::Access::ReadWrite, .codePage = {},
                                 .decimalSeparator = context.decimalSeparator});
}

void StoreText(ImportContext& context, DbfTable& table, std::size_t field, std::string_view text, const Entry& entry,
               std::initializer_list<std::string_view> keys, Cut cut)
{
    StoreNote note = table.SetString(field, text);
    if (!note.truncated && note.replaced == 0)
        return;
    const std::string& fieldName = table.Fields()[field].name;
    std::string tableName = table.Path().stem().string();
    if (note.truncated && cut == Cut::Identifier)
        context.report.Note(tableName, "identificador más largo que el campo " + fieldName + ": no se encontrará",
                            entry.Label(keys));
    else if (note.truncated)
        context.report.Note(tableName, "texto recortado al ancho del campo " + fieldName,
                            entry.Label(keys) + ": '" + std::string(text) + "'");
    if (note.replaced > 0)
        context.report.Note(tableName, "caracteres que Windows-1252 no admite guardados como '?' en " + fieldName,
                            entry.Label(keys) + ": '" + std::string(text) + "'");
}

void NoteSingleEntry(ImportContext& context, std::string_view table, std::string_view element, std::size_t count)
{
    if (count == 1)
        context.report.Note(std::string(table), "sección con una sola entrada: la tabla queda vacía",
                            std::string(element) + " nº 1");
}

}  // namespace pasarela
