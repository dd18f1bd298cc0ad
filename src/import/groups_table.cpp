#include "import/code_list.h"
#include "import/table_steps.h"

namespace pasarela {
namespace {

constexpr std::string_view kPath = "/centro/grupos/dgrupo";

enum Field : std::size_t { kAbrev, kTurno, kNivel, kCurso, kGrupo, kMarco, kIdGrupo, kIdCurso, kDescrip, kTutor };

// A repeated code gets its first 9 characters and a counter; a code longer than 10
// characters keeps its first 8 and its last 2, where DASTENO puts the group letter
// (2BACH-CIEN-A). Should that shortened code belong to another group already, the
// counter goes before the last 2 characters and the head gives way to it
// (2BACH-C1-A), so no two groups share a code.
std::string UniqueCode(const CodeList& codes, std::string_view code)
{
    std::string result = codes.Contains(code) ? codes.FirstFreeWithCounter(Utf8Prefix(code, 9)) : std::string(code);
    if (Utf8Length(result) <= 10)
        return result;
    std::string shortened = Utf8Prefix(result, 8) + Utf8Suffix(result, 2);
    if (!codes.Contains(shortened))
        return shortened;
    return codes.FirstFreeWithCounter(Utf8Prefix(result, 8), Utf8Suffix(result, 2), 10);
}

}  // namespace

void BuildGroupsTable(ImportContext& context, const ImportedTable& spec)
{
    DbfTable table = CreateStepTable(context, spec);
    const std::vector<XmlElement> entries = context.document.SelectElements(kPath);
    NoteSingleEntry(context, spec.name, "grupo", entries.size());
    CodeList codes;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry entry(entries[i], i + 1);
        const std::string_view code = entry.Read("codigo");
        const std::string_view name = entry.Read("nombre");
        const std::string_view id = entry.Read("idgrupo");
        // Also for a single group, which gets no row, so that its assignments' notices can say why.
        context.names.groups.try_emplace(std::string(id), NamedInFile{std::string(code), std::string(name)});
        if (!SectionIsWritten(entries.size()))
            continue;
        const auto label = [&] { return NoticeLabel("grupo", entry.Number(), code, name, id); };
        const std::string finalCode = UniqueCode(codes, code);
        codes.Add(finalCode);
        if (finalCode != code)
            context.report.Note(std::string(spec.name), "código repetido o largo: se usa otro",
                                label() + " -> '" + finalCode + "'");

        table.Append();
        StoreText(context, table, kAbrev, finalCode, label);
        StoreText(context, table, kNivel, entry.Read("codigo_nivel"), label);
        StoreText(context, table, kCurso, entry.Read("curso"), label);
        StoreText(context, table, kGrupo, entry.Read("cgrupo"), label);
        table.SetString(kMarco, "0");
        StoreText(context, table, kIdGrupo, id, label, Cut::Key);
        StoreText(context, table, kIdCurso, entry.Read("idcurso"), label, Cut::Identifier);
        StoreText(context, table, kDescrip, name, label);
        table.Post();
    }
    context.report.SetRows(std::string(spec.name), table.RecordCount());
    table.Close();
}

}  // namespace pasarela
