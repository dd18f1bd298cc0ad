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

// Whether `text` is the whole number -2147483648: in Orlavi's integer fields its bytes are
// all zero, which is how they mark no value, so it cannot be kept.
bool IsLowestInteger(std::string_view text)
{
    if (!text.starts_with('-'))
        return false;
    text.remove_prefix(1);
    while (text.size() > 1 && text.front() == '0')
        text.remove_prefix(1);
    return text == "2147483648";
}

}  // namespace

void BuildRoomsTable(ImportContext& context, const ImportedTable& spec)
{
    DbfTable table = CreateStepTable(context, spec);
    const std::vector<XmlElement> entries = context.document.SelectElements(kPath);
    NoteSingleEntry(context, spec.name, "aula", entries.size());
    CodeList codes;
    for (std::size_t i = 0; SectionIsWritten(entries.size()) && i < entries.size(); ++i) {
        const Entry entry(entries[i], i + 1);
        const std::string_view code = entry.Read("codigo");
        const std::string_view name = entry.Read("nombre");
        const std::string_view capacity = entry.Read("capacidad_alumnos");
        const std::string_view id = entry.Read("idaula");
        const auto label = [&] { return NoticeLabel("aula", entry.Number(), code, name, id); };
        const std::string finalCode = UniqueCode(codes, code, name);
        codes.Add(finalCode);
        if (finalCode != code)
            context.report.Note(std::string(spec.name), "código vacío, repetido o largo: se usa otro",
                                label() + " -> '" + finalCode + "'");

        table.Append();
        StoreText(context, table, kAbrev, finalCode, label);
        StoreText(context, table, kNombre, name, label);
        if (IsLowestInteger(capacity)) {
            context.report.Note(std::string(spec.name), "capacidad que el campo MAXALUM no puede guardar: queda vacía",
                                label() + ": '" + std::string(capacity) + "'");
        } else {
            try {
                table.SetString(kMaxAlum, capacity);
            } catch (const Error& e) {
                RethrowWithContext(entry.Label({"codigo", "idaula"}), e);
            }
        }
        StoreText(context, table, kIdAula, id, label, Cut::Identifier);
        table.Post();
    }
    context.report.SetRows(std::string(spec.name), table.RecordCount());
    table.Close();
}

}  // namespace pasarela
