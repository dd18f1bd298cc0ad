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

// "Ana Ruiz Gil", as a person reads a teacher's name (NOMBRE keeps Orlavi's "Ana, Ruiz Gil").
std::string FullName(std::string_view given, std::string_view surname1, std::string_view surname2)
{
    std::string name;
    for (std::string_view part : {given, surname1, surname2})
        if (!part.empty())
            name.append(name.empty() ? "" : " ").append(part);
    return name;
}

}  // namespace

void BuildTeachersTable(ImportContext& context, const ImportedTable& spec)
{
    DbfTable table = CreateStepTable(context, spec);
    const std::vector<XmlElement> entries = context.document.SelectElements(kPath);
    NoteSingleEntry(context, spec.name, "profesor", entries.size());
    CodeList codes;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry entry(entries[i], i + 1);
        const std::string_view code = entry.Read("codigo");
        const std::string_view given = entry.Read("nombre");
        const std::string_view surname1 = entry.Read("apellido1");
        const std::string_view surname2 = entry.Read("apellido2");
        const std::string_view document = entry.Read("documento");
        const std::string_view id = entry.Read("idprofesor");
        // Also for a single teacher, who gets no row, so that its assignments' notices can say why.
        context.names.teachers.try_emplace(std::string(id),
                                           NamedInFile{std::string(code), FullName(given, surname1, surname2)});
        if (!SectionIsWritten(entries.size()))
            continue;
        const std::string name = std::string(given) + ", " + std::string(surname1) + " " + std::string(surname2);
        const auto label = [&] {
            return NoticeLabel("profesor", entry.Number(), code, FullName(given, surname1, surname2), id);
        };

        const std::string finalCode = UniqueCode(codes, code);
        codes.Add(finalCode);
        if (finalCode != code)
            context.report.Note(std::string(spec.name), "código repetido o largo: se usa otro",
                                label() + " -> '" + finalCode + "'");

        table.Append();
        StoreText(context, table, kAbrev, finalCode, label);
        StoreText(context, table, kNombre, name, label);
        StoreText(context, table, kDni, document, label);
        StoreText(context, table, kIdProf, id, label, Cut::Key);
        table.Post();
    }
    context.report.SetRows(std::string(spec.name), table.RecordCount());
    table.Close();
}

}  // namespace pasarela
