#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/import_test_support.h"
#include "os/error.h"
#include "test_support.h"

namespace pasarela {
namespace {

// What the report says of an assignment whose subject, group or teacher is not found.
constexpr char kSubjectNotFound[] = "materia sin fila en ASIGNOMT: entrada sin fila";
constexpr char kGroupNotFound[] = "grupo no encontrado en GRUPOST: CGRUP vacío";
constexpr char kTeacherNotFound[] = "profesor no encontrado en PROFT: CPROF vacío";

// The records the worked example looks up (group 7001, subject 901, teacher 501), each
// beside a second entry so that its section is written.
constexpr char kWorkedExampleLookups[] = R"(
<materias>
  <dmateria codigo="MAT" nombre="Matemáticas" codigo_actividad="M1" idmateria="901"/>
  <dmateria codigo="M1" nombre="Lectiva" codigo_actividad="M1" idmateria="950"/>
</materias>
<profesores>
  <profesor codigo="ARG" nombre="Ana" apellido1="Ruiz" apellido2="Gil" idprofesor="501"/>
  <profesor codigo="LMM" nombre="Luis" apellido1="Mora" apellido2="Mas" idprofesor="502"/>
</profesores>
<grupos>
  <dgrupo codigo="1ESOA" codigo_nivel="ESO" curso="1" cgrupo="A" idgrupo="7001" idcurso="300"/>
  <dgrupo codigo="1ESOB" codigo_nivel="ESO" curso="1" cgrupo="B" idgrupo="G7002" idcurso="300"/>
</grupos>
)";

class AssignmentsTableTest : public test::ImportTest {
protected:
    struct Assignment {
        std::string cgrupo;
        std::string casig;
        std::string cprofe;
        std::string conexion;
        std::string nhoras;
    };

    static std::string AssignmentsXml(const std::vector<Assignment>& assignments, std::string_view lookups)
    {
        std::string section = "<asignaturas>\n";
        for (const Assignment& a : assignments)
            section += EntryXml("dasignatura", {{"cgrupo", a.cgrupo},
                                                {"casig", a.casig},
                                                {"cprofe", a.cprofe},
                                                {"conexion", a.conexion},
                                                {"nhoras", a.nhoras}});
        return SchoolXml(std::string(lookups) + section + "</asignaturas>\n");
    }
};

TEST_F(AssignmentsTableTest, WorkedExampleTranslatesIdentifiersIntoCodes)
{
    const RunReport report = Import(AssignmentsXml({{"7001", "901", "501", "A", "3"},
                                                    {"7001", "902", "501", "", "2"},
                                                    {"7999", "901", "599", "", "15"}},
                                                   kWorkedExampleLookups));

    // CASIG, CPROF, CGRUP, CAULA, TURNO, NIVEL, CURSO, GRUPO, HORAS, SESIONES, CTAREA, NCONEX,
    // IDCURSO, IDGRUP, IDASIG, IDPROF
    const Rows expected = {
        {"MAT", "ARG", "1ESOA", "", "", "ESO", "1", "A", "3", "111", "M1", "A", "300", "7001", "901", "501"},
        {"MAT", "", "", "", "", "", "", "", "15", "2" + std::string(13, '1'), "M1", "", "", "7999", "901", "599"},
    };
    ExpectRows(report, "ASIGT", expected);
    EXPECT_EQ(report.Count("ASIGT", kSubjectNotFound), 1u);
    EXPECT_EQ(report.Count("ASIGT", kGroupNotFound), 1u);
    EXPECT_EQ(report.Count("ASIGT", kTeacherNotFound), 1u);
}

TEST_F(AssignmentsTableTest, HoursGiveOneSessionPerHourAndAHalfMark)
{
    struct Case {
        const char* nhoras;
        const char* horas;
        std::string sesiones;
    };
    const Case cases[] = {
        {"3", "3", "111"},
        {" 4 ", "4", "1111"},
        {"13", "13", std::string(13, '1')},
        {"14", "14", std::string(14, '1')},
        {"15", "15", "2" + std::string(13, '1')},
        {"30", "30", "17" + std::string(13, '1')},
        {"0", "1", "1"},
        {"2.5", "2.5", "11½"},
        {"2,5", "2.5", "11½"},
        {"0,5", "0.5", "½"},
        {"13.5", "13.5", std::string(13, '1') + "½"},
        {"15.5", "15.5", "2" + std::string(13, '1') + "½"},
        {"-2", "-2", ""},
    };
    std::vector<Assignment> assignments;
    for (const Case& c : cases)
        assignments.push_back({"7001", "901", "501", "", c.nhoras});
    Import(AssignmentsXml(assignments, kWorkedExampleLookups));

    const Rows rows = ReadColumns("ASIGT", {"HORAS", "SESIONES"});
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(std::string("nhoras='") + cases[i].nhoras + "'");
        EXPECT_EQ(rows[i], (Row{cases[i].horas, cases[i].sesiones}));
    }
}

TEST_F(AssignmentsTableTest, LookupsFillWhatTheyFindAndKeepTheIdentifiers)
{
    constexpr char kLookups[] = R"(
<materias>
  <dmateria codigo="MAT" nombre="Matemáticas" codigo_actividad="M1" idmateria="901"/>
  <dmateria codigo="FIS" nombre="Física" codigo_actividad="F1" idmateria="901"/>
  <dmateria codigo="M1" nombre="Lectiva" codigo_actividad="M1" idmateria="950"/>
</materias>
<profesores>
  <profesor codigo="ARG" idprofesor="501"/>
  <profesor codigo="LMM" idprofesor="P502"/>
</profesores>
<grupos>
  <dgrupo codigo="1ESOA" codigo_nivel="ESO" curso="1" cgrupo="A" idgrupo="7001" idcurso="300"/>
  <dgrupo codigo="1ESOB" codigo_nivel="ESO" curso="1" cgrupo="B" idgrupo="G7002" idcurso="300"/>
</grupos>
)";
    struct Case {
        const char* name;
        Assignment assignment;
        Row expected;  // CASIG, CPROF, CGRUP, CAULA, TURNO, NIVEL, CURSO, GRUPO, CTAREA, NCONEX, IDCURSO,
                       // IDGRUP, IDASIG, IDPROF
    };
    const Case cases[] = {
        {"two subjects with one identifier: the first in the table",
         {"7001", "901", "501", "A", "1"},
         {"MAT", "ARG", "1ESOA", "", "", "ESO", "1", "A", "M1", "A", "300", "7001", "901", "501"}},
        {"a group that GRUPOST does not hold", {"7999", "901", "501", "", "1"},
         {"MAT", "ARG", "", "", "", "", "", "", "M1", "", "", "7999", "901", "501"}},
        {"a group identifier in other letter case", {"g7002", "901", "501", "", "1"},
         {"MAT", "ARG", "", "", "", "", "", "", "M1", "", "", "g7002", "901", "501"}},
        {"a teacher that PROFT does not hold", {"G7002", "901", "599", "", "1"},
         {"MAT", "", "1ESOB", "", "", "ESO", "1", "B", "M1", "", "300", "G7002", "901", "599"}},
        {"a teacher identifier in other letter case", {"G7002", "901", "p502", "", "1"},
         {"MAT", "", "1ESOB", "", "", "ESO", "1", "B", "M1", "", "300", "G7002", "901", "p502"}},
        {"no group and no teacher", {"", "901", "", "", "1"},
         {"MAT", "", "", "", "", "", "", "", "M1", "", "", "", "901", ""}},
        {"a connection longer than 4 characters", {"7001", "901", "P502", "ABCDEF", "1"},
         {"MAT", "LMM", "1ESOA", "", "", "ESO", "1", "A", "M1", "ABCD", "300", "7001", "901", "P502"}},
    };
    std::vector<Assignment> assignments;
    for (const Case& c : cases)
        assignments.push_back(c.assignment);
    const RunReport report = Import(AssignmentsXml(assignments, kLookups));

    const Rows rows = ReadColumns("ASIGT", {"CASIG", "CPROF", "CGRUP", "CAULA", "TURNO", "NIVEL", "CURSO", "GRUPO",
                                            "CTAREA", "NCONEX", "IDCURSO", "IDGRUP", "IDASIG", "IDPROF"});
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(rows[i], cases[i].expected);
    }
    EXPECT_EQ(report.Count("ASIGT", kGroupNotFound), 2u);
    EXPECT_EQ(report.Count("ASIGT", kTeacherNotFound), 2u);
    EXPECT_EQ(report.Count("ASIGT", "texto recortado al ancho del campo NCONEX"), 1u);
}

TEST_F(AssignmentsTableTest, SubjectWithoutRowGivesNoRecord)
{
    constexpr char kLookups[] = R"(
<materias>
  <dmateria codigo="MAT" nombre="Matemáticas" codigo_actividad="M1" idmateria="901"/>
  <dmateria codigo="MAT" nombre="Matemáticas II" codigo_actividad="M1" idmateria="902"/>
  <dmateria codigo="QUI" nombre="Química" codigo_actividad="M1" idmateria="A905"/>
  <dmateria codigo="LAT" nombre="Latín" codigo_actividad="M1" idmateria="90100000001"/>
</materias>
)";
    // 902's code was taken, A905 is asked for in small letters and 90100000001 is stored
    // cut to 10 characters, so none of them finds a row; 903 is not in the file at all.
    const RunReport report = Import(AssignmentsXml({{"7001", "901", "501", "", "1"},
                                                    {"7001", "902", "501", "", "1"},
                                                    {"7001", "a905", "501", "", "1"},
                                                    {"7001", "90100000001", "501", "", "1"},
                                                    {"7001", "903", "501", "", "1"},
                                                    {"7001", "A905", "501", "", "1"}},
                                                   kLookups));

    EXPECT_EQ(ReadColumn("ASIGT", "IDASIG"), (std::vector<std::string>{"901", "A905"}));
    EXPECT_EQ(report.Count("ASIGT", kSubjectNotFound), 4u);
    EXPECT_EQ(report.Count("ASIGNOMT", "identificador más largo que el campo IDASIG: no se encontrará"), 1u);
}

TEST_F(AssignmentsTableTest, HoursThatAreNotANumberStopTheImportNamingTheAssignment)
{
    struct Case {
        const char* nhoras;
        const char* casig;
        const char* message;
    };
    const Case cases[] = {
        {"", "901", "'' is not a valid floating point value"},
        {"tres", "901", "'tres' is not a valid floating point value"},
        {"2;5", "901", "'2;5' is not a valid floating point value"},
        // The hours are read before the subject is looked up.
        {"tres", "999", "'tres' is not a valid floating point value"},
        // SESIONES would need the number 1e300 - 13 written out.
        {"1e300", "901", "'1e300' horas no caben en el campo SESIONES"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("nhoras='") + c.nhoras + "'");
        const auto options = OptionsFor(AssignmentsXml({{"7001", "901", "501", "", "1"},
                                                        {"7001", c.casig, "501", "", c.nhoras}},
                                                       kWorkedExampleLookups));
        EXPECT_THAT([&] { RunImport(options); },
                    ThrowsMessage<Error>(AllOf(
                        HasSubstr("dasignatura nº 2 (cgrupo='7001', casig='" + std::string(c.casig) +
                                  "', cprofe='501'): "),
                        HasSubstr(c.message))));
    }
}

}  // namespace
}  // namespace pasarela
