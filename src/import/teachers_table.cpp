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

// PROFT, a row per teacher in document order.
class TeachersStep final : public TableBuildingStep {
public:
    TeachersStep(ImportContext& context, const ImportedTable& imported)
        : TableBuildingStep(context, imported)
    {
    }

    std::string_view Path() const override { return kPath; }

    // Also for a single teacher, who gets no row, so that its assignments' notices can say why.
    void Remember(const Entry& entry) override
    {
        context_.names.teachers.Remember(entry.Read("idprofesor"), entry.Read("codigo"),
                                         FullName(entry.Read("nombre"), entry.Read("apellido1"), entry.Read("apellido2")));
    }

    void Add(const Entry& entry) override
    {
        const std::string_view code = entry.Read("codigo");
        const std::string_view given = entry.Read("nombre");
        const std::string_view surname1 = entry.Read("apellido1");
        const std::string_view surname2 = entry.Read("apellido2");
        const std::string_view document = entry.Read("documento");
        const std::string_view id = entry.Read("idprofesor");
        const std::string name = std::string(given) + ", " + std::string(surname1) + " " + std::string(surname2);
        const auto label = [&] {
            return NoticeLabel("profesor", entry.Number(), code, FullName(given, surname1, surname2), id);
        };

        const std::string finalCode = UniqueCode(codes_, code);
        codes_.Add(finalCode);
        if (finalCode != code)
            context_.report.Note(imported_.name, "código repetido o largo: se usa otro",
                                 label() + " -> '" + finalCode + "'");

        table_.Append();
        StoreText(context_, table_, kAbrev, finalCode, label);
        StoreText(context_, table_, kNombre, name, label);
        StoreText(context_, table_, kDni, document, label);
        StoreText(context_, table_, kIdProf, id, label, Cut::Key);
        context_.rows.teachers.Note(table_);
        table_.Post();
    }

    void Finish(std::size_t count) override
    {
        FinishRows(count, "profesor");
    }

private:
    CodeList codes_;
};

}  // namespace

std::unique_ptr<SectionStep> BuildTeachersTable(ImportContext& context, const ImportedTable& imported)
{
    return std::make_unique<TeachersStep>(context, imported);
}

}  // namespace pasarela
