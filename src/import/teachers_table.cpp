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

// PROFT, a row per teacher in document order.
class TeachersStep final : public SectionStep {
public:
    TeachersStep(ImportContext& context, const ImportedTable& spec)
        : context_(context), spec_(spec), table_(CreateStepTable(context, spec))
    {
    }

    std::string_view Path() const override { return kPath; }

    void Add(const Entry& entry) override
    {
        const std::string_view code = entry.Read("codigo");
        const std::string name =
            std::string(entry.Read("nombre")) + ", " + std::string(entry.Read("apellido1")) + " " +
            std::string(entry.Read("apellido2"));
        const std::string_view document = entry.Read("documento");
        const std::string_view id = entry.Read("idprofesor");

        const std::string finalCode = UniqueCode(codes_, code);
        codes_.Add(finalCode);
        const auto keys = {std::string_view("codigo"), std::string_view("idprofesor")};
        if (finalCode != code)
            context_.report.Note(std::string(spec_.name), "código repetido o largo: se usa otro",
                                 entry.Label(keys) + " -> '" + finalCode + "'");

        table_.Append();
        StoreText(context_, table_, kAbrev, finalCode, entry, keys);
        StoreText(context_, table_, kNombre, name, entry, keys);
        StoreText(context_, table_, kDni, document, entry, keys);
        StoreText(context_, table_, kIdProf, id, entry, keys, Cut::Identifier);
        table_.Post();
    }

    void Finish(std::size_t count) override
    {
        NoteSingleEntry(context_, spec_.name, "profesor", count);
        context_.report.SetRows(std::string(spec_.name), table_.RecordCount());
        table_.Close();
    }

private:
    ImportContext& context_;
    const ImportedTable& spec_;
    DbfTable table_;
    CodeList codes_;
};

}  // namespace

std::unique_ptr<SectionStep> BuildTeachersTable(ImportContext& context, const ImportedTable& spec)
{
    return std::make_unique<TeachersStep>(context, spec);
}

}  // namespace pasarela
