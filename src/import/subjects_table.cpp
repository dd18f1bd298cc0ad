#include "import/table_steps.h"

#include "import/code_list.h"
#include "import/entry_spool.h"

namespace pasarela {
namespace {

constexpr std::string_view kPath = "/centro/materias/dmateria";

enum Field : std::size_t { kCod, kCodLargo, kNombre, kCodTarea, kEsTarea, kIdAsig };

// Subjects and activities share the section: an entry whose code equals its activity
// code (case included) is an activity, any other a subject.
enum class Pass { Subjects, Activities };

// What the code rule has given out so far, over both passes (case-sensitive).
struct UsedSoFar {
    TextIndex codes;  // Orlavi codes, as COD stores them
    TextIndex names;  // names the rule has been applied to
};

// The code rule and the row of one entry of the pass it belongs to.
void WriteRow(ImportContext& context, UsedSoFar& used, std::string_view tableName, DbfTable& table, const Entry& entry,
              Pass pass)
{
    const std::string_view kind = pass == Pass::Subjects ? "materia" : "actividad";
    const std::string_view code = entry.Read("codigo");
    const std::string_view name = entry.Read("nombre");
    const std::string_view activity = entry.Read("codigo_actividad");
    const std::string_view id = entry.Read("idmateria");
    const auto label = [&] { return NoticeLabel(kind, entry.Number(), code, name, id); };

    std::string orlaviCode = Utf8Prefix(code, 10);
    const bool taken = used.codes.Find(StoredForm(orlaviCode)).has_value();
    // A long code is cut to its first 8 and last 2 characters only for the first
    // entry with its name: DASTENO numbers courses at the end (HISTORIA2024), and the
    // ending is what tells them apart.
    if (used.names.Insert(name, 0) && !taken && Utf8Length(code) > 10)
        orlaviCode = Utf8Prefix(code, 8) + Utf8Suffix(code, 2);
    if (taken || used.codes.Find(StoredForm(orlaviCode))) {
        context.report.Note(std::string(tableName), "código ya usado por otra materia: entrada sin fila",
                            label() + " -> '" + Excerpt(orlaviCode) + "'");
        return;
    }
    used.codes.Insert(StoredForm(orlaviCode), 0);

    table.Append();
    StoreText(context, table, kCod, orlaviCode, label);
    StoreText(context, table, kCodLargo, Utf8Prefix(name, 10), label);
    StoreText(context, table, kNombre, name, label);
    StoreText(context, table, kCodTarea, pass == Pass::Subjects ? activity : orlaviCode, label);
    table.SetLogical(kEsTarea, pass == Pass::Activities);
    StoreText(context, table, kIdAsig, id, label, Cut::Key);
    context.rows.subjects.Note(table);
    table.Post();
}

// Also for an entry that gets no row, so that its assignments' notices can say why.
void RememberName(ImportContext& context, const Entry& entry)
{
    context.names.subjects.Remember(entry.Read("idmateria"), entry.Read("codigo"), entry.Read("nombre"));
}

bool IsActivity(const Entry& entry)
{
    return entry.Read("codigo") == entry.Read("codigo_actividad");
}

// ASIGNOMT: the subjects as they come, then the activities, kept aside until the last
// subject has its row, so a subject keeps its code when an activity has the same one.
class SubjectsStep final : public TableBuildingStep {
public:
    SubjectsStep(ImportContext& context, const ImportedTable& imported)
        : TableBuildingStep(context, imported),
          activities_(context.tableDir / (std::string(imported.name) + "-actividades.tmp"))
    {
    }

    std::string_view Path() const override { return kPath; }

    void Remember(const Entry& entry) override
    {
        if (IsActivity(entry))
            activities_.Append(entry);
        else
            RememberName(context_, entry);
    }

    void Add(const Entry& entry) override
    {
        if (!IsActivity(entry))
            WriteRow(context_, used_, imported_.name, table_, entry, Pass::Subjects);
    }

    void Finish(std::size_t count) override
    {
        NoteSingleEntry(context_, imported_.name, "materia", count);
        // The activities' rows follow every subject's in the same open table.
        activities_.Replay([&](const Entry& entry) {
            RememberName(context_, entry);
            if (SectionIsWritten(count))
                WriteRow(context_, used_, imported_.name, table_, entry, Pass::Activities);
        });
        context_.report.SetRows(std::string(imported_.name), table_.RecordCount());
        table_.Close();
    }

private:
    UsedSoFar used_;
    EntrySpool activities_;
};

}  // namespace

std::unique_ptr<SectionStep> BuildSubjectsTable(ImportContext& context, const ImportedTable& imported)
{
    return std::make_unique<SubjectsStep>(context, imported);
}

}  // namespace pasarela
