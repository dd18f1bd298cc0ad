#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import/import_test_support.h"
#include "os/error.h"
#include "test_support.h"

namespace pasarela {
namespace {

class TimeSlotsTableTest : public test::ImportTest {};

TEST_F(TimeSlotsTableTest, WorkedExampleGivesOneRowPerPeriod)
{
    const RunReport report = Import(SchoolXml(R"(
<franjashorarias>
  <franjahoraria dia_semana="1" posicion="1" hora_inicio="08:00" hora_final="08:55"/>
  <franjahoraria dia_semana="1" posicion="2" hora_inicio="08:55" hora_final="09:50"/>
  <franjahoraria dia_semana="5" posicion="10" hora_inicio="14:30" hora_final="15:25"/>
</franjashorarias>
)"));

    // DIHO, CODDIHO, DIA, TEXTODIA, HORA, TEXTOHOR, HORADESDE, HORAHASTA, MINUTOS, MARCO,
    // MARCOXML, SESION_ORDEN, PLANTILLA
    const Rows expected = {
        {"11", "", "1", "Lunes", "1", "1-08:00-08:55", "08:00", "08:55", "55", "0", "", "1", ""},
        {"12", "", "1", "Lunes", "2", "2-08:55-09:50", "08:55", "09:50", "55", "0", "", "2", ""},
        {"510", "", "5", "Viernes", "10", "10-14:30-15:25", "14:30", "15:25", "55", "0", "", "10", ""},
    };
    ExpectRows(report, "DIASHORAST", expected);
    EXPECT_FALSE(report.HasNotices());
}

TEST_F(TimeSlotsTableTest, PeriodsAreWrittenAsTheyCome)
{
    struct Case {
        const char* name;
        const char* dia;
        const char* posicion;
        const char* inicio;
        const char* final;
        Row expected;  // DIHO, DIA, TEXTODIA, HORA, TEXTOHOR, HORADESDE, HORAHASTA, MINUTOS, SESION_ORDEN
    };
    const Case cases[] = {
        {"day 0 has no name", "0", "1", "08:00", "08:55",
         {"01", "0", "", "1", "1-08:00-08:55", "08:00", "08:55", "55", "1"}},
        {"day 8 has no name", "8", "1", "08:00", "08:55",
         {"81", "8", "", "1", "1-08:00-08:55", "08:00", "08:55", "55", "1"}},
        {"every day has its name", "3", "1", "08:00", "08:55",
         {"31", "3", "Miércoles", "1", "1-08:00-08:55", "08:00", "08:55", "55", "1"}},
        {"seconds are ignored and the period text is cut", "6", "1", "08:00:00", "08:55:00",
         {"61", "6", "Sábado", "1", "1-08:00:00-08:5", "08:00:00", "08:55:00", "55", "1"}},
        {"a period that ends before it starts", "7", "3", "23:30", "00:15",
         {"73", "7", "Domingo", "3", "3-23:30-00:15", "23:30", "00:15", "-1395", "3"}},
        {"any character separates hour and minute", "2", "4", "08.00", "08.50",
         {"24", "2", "Martes", "4", "4-08.00-08.50", "08.00", "08.50", "50", "4"}},
        {"a typographic apostrophe separates them", "2", "5", "08’30", "09’25",
         {"25", "2", "Martes", "5", "5-08’30-09’25", "08’30", "09’25", "55", "5"}},
        {"a middle dot separates them", "2", "6", "09·25", "10·20",
         {"26", "2", "Martes", "6", "6-09·25-10·20", "09·25", "10·20", "55", "6"}},
        {"day 1, position 11", "1", "11", "10:00", "10:55",
         {"111", "1", "Lunes", "11", "11-10:00-10:55", "10:00", "10:55", "55", "11"}},
        {"day 11, position 1", "11", "1", "10:00", "10:55",
         {"111", "11", "", "1", "1-10:00-10:55", "10:00", "10:55", "55", "1"}},
        {"position 0", "4", "0", "07:00", "07:30",
         {"40", "4", "Jueves", "0", "0-07:00-07:30", "07:00", "07:30", "30", "0"}},
        {"a negative position", "4", "-2", "07:00", "07:30",
         {"4-2", "4", "Jueves", "-2", "-2-07:00-07:30", "07:00", "07:30", "30", "-2"}},
        {"leading zeros and blanks go", " 05 ", "+02", "12:00", "12:45",
         {"52", "5", "Viernes", "2", "2-12:00-12:45", "12:00", "12:45", "45", "2"}},
        {"a repeated day and position gives another row", "5", "2", "12:00", "12:45",
         {"52", "5", "Viernes", "2", "2-12:00-12:45", "12:00", "12:45", "45", "2"}},
    };
    std::string section = "<franjashorarias>\n";
    for (const Case& c : cases)
        section += EntryXml("franjahoraria",
                            {{"dia_semana", c.dia}, {"posicion", c.posicion}, {"hora_inicio", c.inicio},
                             {"hora_final", c.final}});
    const RunReport report = Import(SchoolXml(section + "</franjashorarias>\n"));

    const Rows rows = ReadColumns("DIASHORAST", {"DIHO", "DIA", "TEXTODIA", "HORA", "TEXTOHOR", "HORADESDE",
                                                 "HORAHASTA", "MINUTOS", "SESION_ORDEN"});
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(rows[i], cases[i].expected);
    }
    EXPECT_EQ(report.Count("DIASHORAST", "texto recortado al ancho del campo TEXTOHOR"), 1u);
}

// -2147483648 is a whole number, but the integer field SESION_ORDEN stores it as all zero
// bytes, which reads as no value: the period is kept and the lost position noted.
TEST_F(TimeSlotsTableTest, LowestWholePositionIsStoredEmptyWithANotice)
{
    const auto period = [](std::string_view day, std::string_view position) {
        return EntryXml("franjahoraria", {{"dia_semana", day}, {"posicion", position}, {"hora_inicio", "08:00"},
                                          {"hora_final", "08:55"}});
    };
    const RunReport report = Import(SchoolXml("<franjashorarias>\n" + period("1", "1") + period("2", "-2147483648") +
                                              period("3", "-002147483648") + "</franjashorarias>\n"));
    EXPECT_EQ(ReadColumn("DIASHORAST", "SESION_ORDEN"), (std::vector<std::string>{"1", "", ""}));
    EXPECT_EQ(ReadColumn("DIASHORAST", "DIA"), (std::vector<std::string>{"1", "2", "3"}));
    const std::string cannotHold = "posición que el campo SESION_ORDEN no puede guardar: queda vacía | ";
    EXPECT_THAT(NoticeLines(report, "DIASHORAST"),
                ::testing::IsSupersetOf(
                    {cannotHold + "franja horaria nº 2: día 2, posición -2147483648: '-2147483648'",
                     cannotHold + "franja horaria nº 3: día 3, posición -2147483648: '-002147483648'"}));
}

TEST_F(TimeSlotsTableTest, NumberOrTimeThatIsNotWholeStopsTheImportNamingThePeriod)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::string_view, std::string_view>> attributes;
        const char* message;
    };
    const Case cases[] = {
        {"a one-digit hour", {{"dia_semana", "2"}, {"posicion", "1"}, {"hora_inicio", "8:30"}, {"hora_final", "09:25"}},
         "'8:' is not a valid integer value"},
        {"a minute that is not a number",
         {{"dia_semana", "2"}, {"posicion", "1"}, {"hora_inicio", "08:00"}, {"hora_final", "09:5x"}},
         "'5x' is not a valid integer value"},
        {"an empty time", {{"dia_semana", "2"}, {"posicion", "1"}, {"hora_inicio", ""}, {"hora_final", "09:25"}},
         "'' is not a valid integer value"},
        {"a one-digit hour before a typographic apostrophe",
         {{"dia_semana", "2"}, {"posicion", "1"}, {"hora_inicio", "8’30"}, {"hora_final", "09’25"}},
         "'8’' is not a valid integer value"},
        {"both times faulty: the start is named",
         {{"dia_semana", "2"}, {"posicion", "1"}, {"hora_inicio", "8·30"}, {"hora_final", "9·25"}},
         "'8·' is not a valid integer value"},
        {"a day that is a word", {{"dia_semana", "lunes"}, {"posicion", "1"}, {"hora_inicio", "08:00"},
                                  {"hora_final", "09:00"}},
         "'lunes' is not a valid integer value"},
        {"a fractional position", {{"dia_semana", "2"}, {"posicion", "1.5"}, {"hora_inicio", "08:00"},
                                   {"hora_final", "09:00"}},
         "'1.5' is not a valid integer value"},
        {"an absent position", {{"dia_semana", "2"}, {"hora_inicio", "08:00"}, {"hora_final", "09:00"}},
         "'' is not a valid integer value"},
        {"a position below 32 bits", {{"dia_semana", "2"}, {"posicion", "-2147483649"}, {"hora_inicio", "08:00"},
                                      {"hora_final", "09:00"}},
         "'-2147483649' is not a valid integer value"},
        {"a position beyond 32 bits", {{"dia_semana", "2"}, {"posicion", "2147483648"}, {"hora_inicio", "08:00"},
                                       {"hora_final", "09:00"}},
         "'2147483648' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string xml = "<franjashorarias>\n" +
                          EntryXml("franjahoraria", {{"dia_semana", "1"}, {"posicion", "1"}, {"hora_inicio", "08:00"},
                                                     {"hora_final", "08:55"}}) +
                          "<franjahoraria";
        for (const auto& [name, value] : c.attributes)
            xml += " " + std::string(name) + "=\"" + std::string(value) + "\"";
        xml += "/>\n</franjashorarias>\n";
        const auto options = OptionsFor(SchoolXml(xml));
        EXPECT_THAT([&] { RunImport(options); },
                    ThrowsMessage<Error>(AllOf(HasSubstr("franjahoraria nº 2 ("), HasSubstr(c.message))));
    }
}

}  // namespace
}  // namespace pasarela
