#include "import/table_steps.h"

#include "import/code_list.h"

namespace pasarela {
namespace {

constexpr std::string_view kPath = "/centro/materias/dmateria";

enum Field : std::size_t { kCod, kCodLargo, kNombre, kCodTarea, kEsTarea, kIdAsig };

// Subjects and activities share the section: an entry whose code equals its activity
// code (case included) is an activity, any other a subject.
enum class Pass { Subjects, Activities };

// The code rule and the row of one entry of the pass it belongs to.
void WriteRow(ImportContext& context, std::string_view tableName, DbfTable& table, const Entry& entry, Pass pass)
{
    const std::string_view code = entry.Read("codigo");
    const std::string_view name = entry.Read("nombre");
    const std::string_view activity = entry.Read("codigo_actividad");
    if ((code == activity) != (pass == Pass::Activities))
        return;

    std::string orlaviCode = Utf8Prefix(code, 10);
    const bool taken = context.usedCodes.Find(StoredForm(orlaviCode)).has_value();
    // A long code is cut to its first 8 and last 2 characters only for the first
    // entry with its name: DASTENO numbers courses at the end (HISTORIA2024), and the
    // ending is what tells them apart.
    if (context.usedNames.Insert(name, 0) && !taken && Utf8Length(code) > 10)
        orlaviCode = Utf8Prefix(code, 8) + Utf8Suffix(code, 2);
    if (taken || context.usedCodes.Find(StoredForm(orlaviCode))) {
        context.report.Note(std::string(tableName), "código ya usado por otra materia: entrada sin fila",
                            entry.Label({"codigo", "nombre", "idmateria"}) + " -> '" + orlaviCode + "'");
        return;
    }
    context.usedCodes.Insert(StoredForm(orlaviCode), 0);

    const std::string_view id = entry.Read("idmateria");
    const auto keys = {std::string_view("codigo"), std::string_view("idmateria")};
    table.Append();
    StoreText(context, table, kCod, orlaviCode, entry, keys);
    StoreText(context, table, kCodLargo, Utf8Prefix(name, 10), entry, keys);
    StoreText(context, table, kNombre, name, entry, keys);
    StoreText(context, table, kCodTarea, pass == Pass::Subjects ? activity : orlaviCode, entry, keys);
    table.SetLogical(kEsTarea, pass == Pass::Activities);
    StoreText(context, table, kIdAsig, id, entry, keys, Cut::Identifier);
    table.Post();
}

// ASIGNOMT: the subjects as they come, then the activities, kept aside until the last
// subject has its row, so a subject keeps its code when an activity has the same one.
class SubjectsStep final : public SectionStep {
public:
    SubjectsStep(ImportContext& context, const ImportedTable& spec)
        : context_(context), spec_(spec), table_(CreateStepTable(context, spec)),
          activities_(context.tableDir / (std::string(spec.name) + "-actividades.tmp"))
    {
        context_.usedCodes = {};
        context_.usedNames = {};
    }

    std::string_view Path() const override { return kPath; }

    void Add(const Entry& entry) override
    {
        if (entry.Read("codigo") == entry.Read("codigo_actividad"))
            activities_.Append(entry);
        else
            WriteRow(context_, spec_.name, table_, entry, Pass::Subjects);
    }

    void Finish(std::size_t count) override
    {
        NoteSingleEntry(context_, spec_.name, "dmateria", count);
        table_.Close();
        std::filesystem::path path = context_.tableDir / (std::string(spec_.name) + ".DBF");
        table_ = DbfTable::Open(path, {.access = DbfTable::Access::ReadWrite, .codePage = {},
                                       .decimalSeparator = context_.decimalSeparator});
        activities_.Replay([this](const Entry& entry) { WriteRow(context_, spec_.name, table_, entry, Pass::Activities); });
        context_.report.SetRows(std::string(spec_.name), table_.RecordCount());
        table_.Close();
    }

private:
    ImportContext& context_;
    const ImportedTable& spec_;
    DbfTable table_;
    EntrySpool activities_;
};

}  // namespace

std::unique_ptr<SectionStep> BuildSubjectsTable(ImportContext& context, const ImportedTable& spec)
{
    return std::make_unique<SubjectsStep>(context, spec);
}

}  // namespace pasarela
