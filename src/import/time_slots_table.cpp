#include <limits>

#include "import/code_list.h"
#include "import/table_steps.h"
#include "text/text.h"

namespace pasarela {
namespace {

constexpr std::string_view kPath = "/centro/franjashorarias/franjahoraria";

enum Field : std::size_t {
    kDiho, kCodDiho, kDia, kTextoDia, kHora, kTextoHor, kHoraDesde, kHoraHasta, kMinutos, kMarco, kMarcoXml,
    kSesionOrden, kPlantilla,
};

std::string DayName(std::int32_t day)
{
    static const char* const kNames[] = {"Lunes", "Martes", "Miércoles", "Jueves", "Viernes", "Sábado", "Domingo"};
    return day >= 1 && day <= 7 ? kNames[day - 1] : "";
}

// The characters from the `from`-th (0-based) on, `count` of them or as many as there are.
// Counted in characters, not bytes: word processors put a typographic apostrophe or a
// middle dot where the colon goes (08’30), and the minutes must still be the 4th and 5th.
std::string_view CharacterPiece(std::string_view text, std::size_t from, std::size_t count)
{
    const auto skip = [&text](std::size_t at, std::size_t characters) {
        while (at < text.size() && characters > 0) {
            ++at;
            while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
                ++at;
            --characters;
        }
        return at;
    };
    const std::size_t start = skip(0, from);
    return text.substr(start, skip(start, count) - start);
}

// Minutes since midnight of "HH:MM": the hour is characters 1-2 and the minute
// characters 4-5, whatever separates them; seconds after them are ignored.
std::int32_t MinutesOf(std::string_view time)
{
    const std::int32_t hours = ParseInteger(CharacterPiece(time, 0, 2));
    return hours * 60 + ParseInteger(CharacterPiece(time, 3, 2));
}

// DIASHORAST, a row per time slot in document order.
class TimeSlotsStep final : public TableBuildingStep {
public:
    TimeSlotsStep(ImportContext& context, const ImportedTable& imported)
        : TableBuildingStep(context, imported)
    {
    }

    std::string_view Path() const override { return kPath; }

    void Add(const Entry& entry) override
    {
        const auto keys = {std::string_view("dia_semana"), std::string_view("posicion")};
        std::int32_t day = 0;
        std::int32_t position = 0;
        std::int32_t minutes = 0;
        try {
            day = ParseInteger(entry.Read("dia_semana"));
            position = ParseInteger(entry.Read("posicion"));
            // The start first, so that of two faulty times the message names the start.
            const std::int32_t startMinutes = MinutesOf(entry.Read("hora_inicio"));
            minutes = MinutesOf(entry.Read("hora_final")) - startMinutes;
        } catch (const Error& e) {
            RethrowWithContext(entry.Label(keys), e);
        }
        const std::string_view start = entry.Read("hora_inicio");
        const std::string_view end = entry.Read("hora_final");
        const std::string positionText = std::to_string(position);
        const auto label = [&] {
            return "franja horaria nº " + std::to_string(entry.Number()) + ": día " + std::to_string(day) +
                   ", posición " + positionText;
        };

        table_.Append();
        StoreText(context_, table_, kDiho, std::to_string(day) + positionText, label);
        StoreText(context_, table_, kDia, std::to_string(day), label);
        table_.SetString(kTextoDia, DayName(day));
        StoreText(context_, table_, kHora, positionText, label);
        StoreText(context_, table_, kTextoHor, positionText + "-" + std::string(start) + "-" + std::string(end), label);
        StoreText(context_, table_, kHoraDesde, start, label);
        StoreText(context_, table_, kHoraHasta, end, label);
        StoreText(context_, table_, kMinutos, std::to_string(minutes), label);
        table_.SetString(kMarco, "0");
        // Orlavi's integer fields hold no value as all zero bytes, which is also how
        // -2147483648 would be stored: that one position is kept as no value and said.
        if (position == std::numeric_limits<std::int32_t>::min())
            context_.report.Note(imported_.name, "posición que el campo SESION_ORDEN no puede guardar: queda vacía",
                                 label() + ": '" + std::string(entry.Read("posicion")) + "'");
        else
            table_.SetInteger(kSesionOrden, position);
        table_.SetString(kPlantilla, "");
        table_.Post();
    }

    void Finish(std::size_t count) override
    {
        FinishRows(count, "franja horaria");
    }

};

}  // namespace

std::unique_ptr<SectionStep> BuildTimeSlotsTable(ImportContext& context, const ImportedTable& imported)
{
    return std::make_unique<TimeSlotsStep>(context, imported);
}

}  // namespace pasarela
