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

// GRUPOST, a row per group in document order.
class GroupsStep final : public TableBuildingStep {
public:
    GroupsStep(ImportContext& context, const ImportedTable& imported)
        : TableBuildingStep(context, imported)
    {
    }

    std::string_view Path() const override { return kPath; }

    // Also for a single group, which gets no row, so that its assignments' notices can say why.
    void Remember(const Entry& entry) override
    {
        context_.names.groups.Remember(entry.Read("idgrupo"), entry.Read("codigo"), entry.Read("nombre"));
    }

    void Add(const Entry& entry) override
    {
        const std::string_view code = entry.Read("codigo");
        const std::string_view name = entry.Read("nombre");
        const std::string_view id = entry.Read("idgrupo");
        const auto label = [&] { return NoticeLabel("grupo", entry.Number(), code, name, id); };
        const std::string finalCode = UniqueCode(codes_, code);
        codes_.Add(finalCode);
        if (finalCode != code)
            context_.report.Note(imported_.name, "código repetido o largo: se usa otro",
                                 label() + " -> '" + finalCode + "'");

        table_.Append();
        StoreText(context_, table_, kAbrev, finalCode, label);
        StoreText(context_, table_, kNivel, entry.Read("codigo_nivel"), label);
        StoreText(context_, table_, kCurso, entry.Read("curso"), label);
        StoreText(context_, table_, kGrupo, entry.Read("cgrupo"), label);
        table_.SetString(kMarco, "0");
        StoreText(context_, table_, kIdGrupo, id, label, Cut::Key);
        StoreText(context_, table_, kIdCurso, entry.Read("idcurso"), label, Cut::Identifier);
        StoreText(context_, table_, kDescrip, name, label);
        context_.rows.groups.Note(table_);
        table_.Post();
    }

    void Finish(std::size_t count) override
    {
        FinishRows(count, "grupo");
    }

private:
    CodeList codes_;
};

}  // namespace

std::unique_ptr<SectionStep> BuildGroupsTable(ImportContext& context, const ImportedTable& imported)
{
    return std::make_unique<GroupsStep>(context, imported);
}

}  // namespace pasarela
