#include "import/section_step.h"

#include "os/error.h"
#include "text/text.h"

namespace pasarela {

DbfTable CreateStepTable(const ImportContext& context, const ImportedTable& table)
{
    std::filesystem::path path = context.tableDir / (std::string(table.name) + ".DBF");
    DbfTable::Create(path, table.fields);
    return DbfTable::Open(path, {.access = DbfTable::Access::ReadWrite, .codePage = {},
                                 .decimalSeparator = context.decimalSeparator});
}

std::string NoticeLabel(std::string_view kind, std::size_t number, std::string_view code, std::string_view name,
                        std::string_view id)
{
    std::string label;
    label.reserve(80);
    label.append(kind).append(" nº ").append(std::to_string(number));
    if (!code.empty() || !name.empty() || !id.empty())
        label += ":";
    if (!code.empty())
        label.append(" ").append(Excerpt(code));
    if (!name.empty())
        label.append(" «").append(Excerpt(name)).append("»");
    if (!id.empty())
        label.append(" (identificador ").append(Excerpt(id)).append(")");
    return label;
}

void StoreText(ImportContext& context, DbfTable& table, std::size_t field, std::string_view text,
               const EntryLabel& label, Cut cut)
{
    StoreNote note = table.SetString(field, text);
    if (!note.truncated && note.replaced == 0)
        return;
    const std::string& fieldName = table.Fields()[field].name;
    std::string tableName = table.Path().stem().string();
    const std::string detail = label() + ": '" + Excerpt(text) + "'";
    if (cut == Cut::Key) {
        // Either fault makes the stored identifier another text, which no assignment
        // names: one notice says what that costs.
        context.report.Note(tableName,
                            note.truncated ? "identificador más largo que el campo " + fieldName +
                                                 ": sus asignaciones no se podrán enlazar"
                                           : "identificador con caracteres que Windows-1252 no admite: " + fieldName +
                                                 " no puede guardarlo y sus asignaciones no se podrán enlazar",
                            detail);
        return;
    }
    if (note.truncated)
        context.report.Note(tableName,
                            cut == Cut::Identifier
                                ? "identificador más largo que el campo " + fieldName + ": se guarda recortado"
                                : "texto recortado al ancho del campo " + fieldName,
                            detail);
    if (note.replaced > 0)
        context.report.Note(tableName, "caracteres que Windows-1252 no admite guardados como '?' en " + fieldName,
                            detail);
}

void NoteSingleEntry(ImportContext& context, std::string_view table, std::string_view kind, std::size_t count)
{
    if (count == 1)
        context.report.Note(std::string(table), "sección con una sola entrada: la tabla queda vacía",
                            std::string(kind) + " nº 1");
}

}  // namespace pasarela
