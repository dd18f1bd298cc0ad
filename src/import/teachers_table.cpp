#include "import/code_list.h"
#include "import/table_steps.h"

namespace pasarela {
namespace {

constexpr std::string_view kPath = "/centro/profesores/profesor";

enum Field : std::size_t { kAbrev, kNombre, kDepart, kEmail, kDni, kIdProf };

// A repeated code gets its first 9 characters and a counter. A code that is then still
// longer than ABREV's 10 characters (a long DASTENO code, or a tenth repeat) keeps its
// first 10 characters when no other teacher has them, else its first 8 and a counter,
// so every teacher stays reachable by a code of its own.
std::string UniqueCode(const CodeList& codes, std::string_view code)
{
    std::string result = codes.Contains(code) ? codes.FirstFreeWithCounter(Utf8Prefix(code, 9)) : std::string(code);
    if (Utf8Length(result) <= 10)
        return result;
    std::string cut = Utf8Prefix(result, 10);
    if (!codes.Contains(cut))
        return cut;
    return codes.FirstFreeWithCounter(Utf8Prefix(result, 8), {}, 10);
}

}  // namespace

void BuildTeachersTable(ImportContext& context, const ImportedTable& spec)
{
    DbfTable table = CreateStepTable(context, spec);
    const std::vector<XmlElement> entries = context.document.SelectElements(kPath);
    NoteSingleEntry(context, spec.name, "profesor", entries.size());
    CodeList codes;
    for (std::size_t i = 0; SectionIsWritten(entries.size()) && i < entries.size(); ++i) {
        const Entry entry(entries[i], i + 1);
        const std::string_view code = entry.Read("codigo");
        const std::string name =
            std::string(entry.Read("nombre")) + ", " + std::string(entry.Read("apellido1")) + " " +
            std::string(entry.Read("apellido2"));
        const std::string_view document = entry.Read("documento");
        const std::string_view id = entry.Read("idprofesor");

        const std::string finalCode = UniqueCode(codes, code);
        codes.Add(finalCode);
        const auto keys = {std::string_view("codigo"), std::string_view("idprofesor")};
        if (finalCode != code)
            context.report.Note(std::string(spec.name), "código repetido o largo: se usa otro",
                                entry.Label(keys) + " -> '" + finalCode + "'");

        table.Append();
        StoreText(context, table, kAbrev, finalCode, entry, keys);
        StoreText(context, table, kNombre, name, entry, keys);
        StoreText(context, table, kDni, document, entry, keys);
        StoreText(context, table, kIdProf, id, entry, keys, Cut::Identifier);
        table.Post();
    }
    context.report.SetRows(std::string(spec.name), table.RecordCount());
    table.Close();
}

}  // namespace pasarela
