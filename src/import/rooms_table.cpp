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

// AULAT, a row per room in document order.
class RoomsStep final : public TableBuildingStep {
public:
    RoomsStep(ImportContext& context, const ImportedTable& imported)
        : TableBuildingStep(context, imported)
    {
    }

    std::string_view Path() const override { return kPath; }

    void Add(const Entry& entry) override
    {
        const std::string_view code = entry.Read("codigo");
        const std::string_view name = entry.Read("nombre");
        const std::string_view capacity = entry.Read("capacidad_alumnos");
        const std::string_view id = entry.Read("idaula");
        const auto label = [&] { return NoticeLabel("aula", entry.Number(), code, name, id); };
        const std::string finalCode = UniqueCode(codes_, code, name);
        codes_.Add(finalCode);
        if (finalCode != code)
            context_.report.Note(imported_.name, "código vacío, repetido o largo: se usa otro",
                                 label() + " -> '" + finalCode + "'");

        table_.Append();
        StoreText(context_, table_, kAbrev, finalCode, label);
        StoreText(context_, table_, kNombre, name, label);
        if (IsLowestInteger(capacity)) {
            context_.report.Note(imported_.name, "capacidad que el campo MAXALUM no puede guardar: queda vacía",
                                 label() + ": '" + std::string(capacity) + "'");
        } else {
            try {
                table_.SetString(kMaxAlum, capacity);
            } catch (const Error& e) {
                RethrowWithContext(entry.Label({"codigo", "idaula"}), e);
            }
        }
        StoreText(context_, table_, kIdAula, id, label, Cut::Identifier);
        table_.Post();
    }

    void Finish(std::size_t count) override
    {
        FinishRows(count, "aula");
    }

private:
    CodeList codes_;
};

}  // namespace

std::unique_ptr<SectionStep> BuildRoomsTable(ImportContext& context, const ImportedTable& imported)
{
    return std::make_unique<RoomsStep>(context, imported);
}

}  // namespace pasarela
