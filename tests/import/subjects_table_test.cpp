#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/import_test_support.h"

namespace pasarela {
namespace {

class SubjectsTableTest : public test::ImportTest {};

TEST_F(SubjectsTableTest, WorkedExampleGivesSubjectsThenActivities)
{
    const RunReport report = Import(SchoolXml(R"(
<materias>
  <dmateria codigo="MAT" nombre="Matemáticas" codigo_actividad="LEC" idmateria="101"/>
  <dmateria codigo="GUA" nombre="Guardia" codigo_actividad="GUA" idmateria="900"/>
  <dmateria codigo="MAT" nombre="Matemáticas II" codigo_actividad="LEC" idmateria="102"/>
  <dmateria codigo="HISTORIA2024" nombre="Historia" codigo_actividad="LEC" idmateria="103"/>
  <dmateria codigo="HISTORIA1924" nombre="Historia del arte" codigo_actividad="LEC" idmateria="104"/>
  <dmateria codigo="FISICAYQUIMICA" nombre="Historia" codigo_actividad="LEC" idmateria="105"/>
  <dmateria codigo="LEC" nombre="Lectiva" codigo_actividad="LEC" idmateria="950"/>
</materias>
)"));

    const Rows expected = {
        {"MAT", "Matemática", "Matemáticas", "LEC", "F", "101"},
        {"HISTORIA24", "Historia", "Historia", "LEC", "F", "103"},
        {"FISICAYQUI", "Historia", "Historia", "LEC", "F", "105"},
        {"GUA", "Guardia", "Guardia", "GUA", "T", "900"},
        {"LEC", "Lectiva", "Lectiva", "LEC", "T", "950"},
    };
    ExpectRows(report, "ASIGNOMT", expected);
    // Entries 3 and 5: MAT is taken, and HISTORIA24 belongs to entry 4.
    EXPECT_EQ(NoticeLines(report, "ASIGNOMT"),
              (std::vector<std::string>{
                  "código ya usado por otra materia: entrada sin fila | materia nº 3: MAT «Matemáticas II» "
                  "(identificador 102) -> 'MAT'",
                  "código ya usado por otra materia: entrada sin fila | materia nº 5: HISTORIA1924 «Historia del "
                  "arte» (identificador 104) -> 'HISTORIA24'",
              }));
}

struct SubjectEntry {
    std::string codigo;
    std::string nombre;
    std::string actividad;
};

struct CodeRuleCase {
    const char* name;
    std::vector<SubjectEntry> entries;  // idmateria is the entry's number
    Rows expected;                      // COD, CODTAREA, ESTAREA, IDASIG
};

TEST_F(SubjectsTableTest, CodeRuleGivesEachEntryItsCodeOrNoRow)
{
    const CodeRuleCase cases[] = {
        {"only activities: the first step writes nothing",
         {{"GUA", "Guardia", "GUA"}, {"LEC", "Lectiva", "LEC"}},
         {{"GUA", "GUA", "T", "1"}, {"LEC", "LEC", "T", "2"}}},
        {"an activity code that differs in letter case makes a subject",
         {{"MAT", "Matemáticas", "mat"}, {"LEC", "Lectiva", "LEC"}},
         {{"MAT", "mat", "F", "1"}, {"LEC", "LEC", "T", "2"}}},
        {"codes that differ in letter case are different codes",
         {{"MAT", "Matemáticas", "LEC"}, {"mat", "Matemáticas 2", "LEC"}},
         {{"MAT", "LEC", "F", "1"}, {"mat", "LEC", "F", "2"}}},
        {"10 characters stay; 11 with a new name keep 8 + 2; 11 with a seen name keep 10",
         {{"ABCDEFGHIJ", "Diez", "LEC"}, {"LENGUAJE123", "Lengua", "LEC"}, {"LENGUAJE456", "Lengua", "LEC"}},
         {{"ABCDEFGHIJ", "LEC", "F", "1"}, {"LENGUAJE23", "LEC", "F", "2"}, {"LENGUAJE45", "LEC", "F", "3"}}},
        {"two long codes with the same 8 + 2 and different names: the second has no row",
         {{"HISTORIA2024", "Historia", "LEC"}, {"HISTORIAXX24", "Arte", "LEC"}},
         {{"HISTORIA24", "LEC", "F", "1"}}},
        {"two long codes with the same 8 + 2 and the same name: the second keeps its first 10",
         {{"HISTORIA2024", "Historia", "LEC"}, {"HISTORIAXX24", "Historia", "LEC"}},
         {{"HISTORIA24", "LEC", "F", "1"}, {"HISTORIAXX", "LEC", "F", "2"}}},
        {"an activity named like a subject keeps its first 10 characters",
         {{"MAT", "Lectiva", "LECTIVASEMANAL"}, {"LECTIVASEMANAL", "Lectiva", "LECTIVASEMANAL"}},
         {{"MAT", "LECTIVASEM", "F", "1"}, {"LECTIVASEM", "LECTIVASEM", "T", "2"}}},
        {"an empty code is an activity once; the next empty code has no row",
         {{"", "Sin código", ""}, {"", "Otra", ""}},
         {{"", "", "T", "1"}}},
        {"codes that Windows-1252 stores alike are the same code",
         {{"Ω", "Omega", "LEC"}, {"Ψ", "Psi", "LEC"}, {"?", "Interrogación", "LEC"}},
         {{"?", "LEC", "F", "1"}}},
        {"a name is recorded even when its entry gets no row",
         {{"MAT", "Matemáticas", "LEC"}, {"MAT", "Física", "LEC"}, {"FISICAYQUIMICA", "Física", "LEC"}},
         {{"MAT", "LEC", "F", "1"}, {"FISICAYQUI", "LEC", "F", "3"}}},
    };
    for (const CodeRuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string section = "<materias>\n";
        for (std::size_t i = 0; i < c.entries.size(); ++i)
            section += EntryXml("dmateria", {{"codigo", c.entries[i].codigo},
                                             {"nombre", c.entries[i].nombre},
                                             {"codigo_actividad", c.entries[i].actividad},
                                             {"idmateria", std::to_string(i + 1)}});
        Import(SchoolXml(section + "</materias>\n"));
        EXPECT_EQ(ReadColumns("ASIGNOMT", {"COD", "CODTAREA", "ESTAREA", "IDASIG"}), c.expected);
    }
}

TEST_F(SubjectsTableTest, ValuesThatDoNotFitAreStoredAsTheyFitAndNoted)
{
    const std::string longName(85, 'x');
    struct Case {
        const char* name;
        std::string nombre;
        std::string idmateria;
        std::string field;
        std::string stored;
        std::string notice;  // a line of the report, "reason | entry"
    };
    const Case cases[] = {
        {"a name longer than 80 characters", longName, "1", "NOMBRE", std::string(80, 'x'),
         "texto recortado al ancho del campo NOMBRE | materia nº 1: X «" + longName + "» (identificador 1): '" +
             longName + "'"},
        {"CODLARGO holds the first 10 characters of the name", longName, "1", "CODLARGO", std::string(10, 'x'), ""},
        {"an identifier longer than its field", "Música", "12345678901", "IDASIG", "1234567890",
         "identificador más largo que el campo IDASIG: sus asignaciones no se podrán enlazar | materia nº 1: X "
         "«Música» (identificador 12345678901): '12345678901'"},
        {"an identifier Windows-1252 cannot hold", "Música", "Ω1", "IDASIG", "?1",
         "identificador con caracteres que Windows-1252 no admite: IDASIG no puede guardarlo y sus asignaciones no "
         "se podrán enlazar | materia nº 1: X «Música» (identificador Ω1): 'Ω1'"},
        {"characters Windows-1252 cannot hold", "Ελληνικά", "1", "NOMBRE", "????????",
         "caracteres que Windows-1252 no admite guardados como '?' en NOMBRE | materia nº 1: X «Ελληνικά» "
         "(identificador 1): 'Ελληνικά'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunReport report = Import(SchoolXml("<materias>\n" +
                                                  EntryXml("dmateria", {{"codigo", "X"},
                                                                        {"nombre", c.nombre},
                                                                        {"codigo_actividad", "LEC"},
                                                                        {"idmateria", c.idmateria}}) +
                                                  EntryXml("dmateria", {{"codigo", "LEC"},
                                                                        {"nombre", "Lectiva"},
                                                                        {"codigo_actividad", "LEC"},
                                                                        {"idmateria", "2"}}) +
                                                  "</materias>\n"));
        EXPECT_EQ(ReadColumn("ASIGNOMT", c.field).at(0), c.stored);
        if (!c.notice.empty()) {
            EXPECT_THAT(NoticeLines(report, "ASIGNOMT"), ::testing::Contains(c.notice));
        }
    }
}

}  // namespace
}  // namespace pasarela
