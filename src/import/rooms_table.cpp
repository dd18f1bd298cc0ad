#include "import/code_list.h"
#include "import/table_steps.h"

namespace pasarela {
namespace {

constexpr std::string_view kPath = "/centro/aulas/daula";

enum Field : std::size_t { kAbrev, kNombre, kEdificio, kMaxAlum, kIdAula };

// A room without a code is named by its first 4 letters; a repeated code gets its first
// 9 characters and a counter; a code still longer than 10 characters gets its first 8
// and the first free counter (fewer leading characters from the hundredth on).
std::string UniqueCode(const CodeList& codes, std::string_view code, std::string_view name)
{
    std::string result = code.empty() ? Utf8Prefix(name, 4) : std::string(code);
    if (codes.Contains(result))
        result = codes.FirstFreeWithCounter(Utf8Prefix(result, 9));
    if (Utf8Length(result) > 10)
        result = codes.FirstFreeWithCounter(Utf8Prefix(result, 8), {}, 10);
    return result;
}

}  // namespace

void BuildRoomsTable(ImportContext& context, const ImportedTable& spec)
{
    DbfTable table = CreateStepTable(context, spec);
    const std::vector<XmlElement> entries = context.document.SelectElements(kPath);
    NoteSingleEntry(context, spec.name, "daula", entries.size());
    CodeList codes;
    for (std::size_t i = 0; SectionIsWritten(entries.size()) && i < entries.size(); ++i) {
        const Entry entry(entries[i], i + 1);
        const std::string_view code = entry.Read("codigo");
        const std::string_view name = entry.Read("nombre");
        const std::string finalCode = UniqueCode(codes, code, name);
        codes.Add(finalCode);
        const auto keys = {std::string_view("codigo"), std::string_view("idaula")};
        if (finalCode != code)
            context.report.Note(std::string(spec.name), "código vacío, repetido o largo: se usa otro",
                                entry.Label(keys) + " -> '" + finalCode + "'");

        table.Append();
        StoreText(context, table, kAbrev, finalCode, entry, keys);
        StoreText(context, table, kNombre, name, entry, keys);
        try {
            table.SetString(kMaxAlum, entry.Read("capacidad_alumnos"));
        } catch (const Error& e) {
            RethrowWithContext(entry.Label(keys), e);
        }
        StoreText(context, table, kIdAula, entry.Read("idaula"), entry, keys, Cut::Identifier);
        table.Post();
    }
    context.report.SetRows(std::string(spec.name), table.RecordCount());
    table.Close();
}

}  // namespace pasarela
