#include "import/table_steps.h"

#include "import/code_list.h"

namespace pasarela {
namespace {

constexpr std::string_view kPath = "/centro/materias/dmateria";

enum Field : std::size_t { kCod, kCodLargo, kNombre, kCodTarea, kEsTarea, kIdAsig };

// Subjects and activities share the section: an entry whose code equals its activity
// code (case included) is an activity, any other a subject.
enum class Pass { Subjects, Activities };

void WriteRows(ImportContext& context, std::string_view tableName, DbfTable& table, Pass pass)
{
    const std::vector<XmlElement> entries = context.document.SelectElements(kPath);
    if (pass == Pass::Subjects)
        NoteSingleEntry(context, tableName, "materia", entries.size());
    const std::string_view kind = pass == Pass::Subjects ? "materia" : "actividad";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry entry(entries[i], i + 1);
        const std::string_view code = entry.Read("codigo");
        const std::string_view name = entry.Read("nombre");
        const std::string_view activity = entry.Read("codigo_actividad");
        if ((code == activity) != (pass == Pass::Activities))
            continue;
        const std::string_view id = entry.Read("idmateria");
        // Also for an entry that gets no row, so that its assignments' notices can say why.
        context.names.subjects.try_emplace(std::string(id), NamedInFile{std::string(code), std::string(name)});
        if (!SectionIsWritten(entries.size()))
            continue;
        const auto label = [&] { return NoticeLabel(kind, entry.Number(), code, name, id); };

        std::string orlaviCode = Utf8Prefix(code, 10);
        const bool taken = context.usedCodes.Find(StoredForm(orlaviCode)).has_value();
        // A long code is cut to its first 8 and last 2 characters only for the first
        // entry with its name: DASTENO numbers courses at the end (HISTORIA2024), and the
        // ending is what tells them apart.
        if (context.usedNames.Insert(name, 0) && !taken && Utf8Length(code) > 10)
            orlaviCode = Utf8Prefix(code, 8) + Utf8Suffix(code, 2);
        if (taken || context.usedCodes.Find(StoredForm(orlaviCode))) {
            context.report.Note(std::string(tableName), "código ya usado por otra materia: entrada sin fila",
                                label() + " -> '" + orlaviCode + "'");
            continue;
        }
        context.usedCodes.Insert(StoredForm(orlaviCode), 0);

        table.Append();
        StoreText(context, table, kCod, orlaviCode, label);
        StoreText(context, table, kCodLargo, Utf8Prefix(name, 10), label);
        StoreText(context, table, kNombre, name, label);
        StoreText(context, table, kCodTarea, pass == Pass::Subjects ? activity : orlaviCode, label);
        table.SetLogical(kEsTarea, pass == Pass::Activities);
        StoreText(context, table, kIdAsig, id, label, Cut::Key);
        table.Post();
    }
}

}  // namespace

// The activities go in after all the subjects, so a subject keeps its code when an
// activity has the same one.
void BuildSubjectsTable(ImportContext& context, const ImportedTable& spec)
{
    context.usedCodes = {};
    context.usedNames = {};
    DbfTable subjects = CreateStepTable(context, spec);
    WriteRows(context, spec.name, subjects, Pass::Subjects);
    subjects.Close();

    std::filesystem::path path = context.tableDir / (std::string(spec.name) + ".DBF");
    DbfTable table = DbfTable::Open(path, {.access = DbfTable::Access::ReadWrite, .codePage = {},
                                           .decimalSeparator = context.decimalSeparator});
    WriteRows(context, spec.name, table, Pass::Activities);
    context.report.SetRows(std::string(spec.name), table.RecordCount());
    table.Close();
}

}  // namespace pasarela
