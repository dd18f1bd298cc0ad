#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/import_test_support.h"
#include "os/error.h"
#include "test_support.h"

namespace pasarela {
namespace {

// What the report says of an assignment whose subject, group or teacher the file does not have.
constexpr char kSubjectNotInFile[] = "materia que el archivo no tiene: asignación omitida";
constexpr char kGroupNotInFile[] = "grupo que el archivo no tiene: asignación sin grupo (CGRUP vacío)";
constexpr char kTeacherNotInFile[] = "profesor que el archivo no tiene: asignación sin profesor (CPROF vacío)";

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
    // Each line names the assignment's group, subject and teacher as the file calls them.
    const std::string second = "asignación nº 2: grupo 1ESOA (identificador 7001), materia con identificador 902 "
                               "(no está en el archivo), profesor ARG «Ana Ruiz Gil» (identificador 501)";
    const std::string third = "asignación nº 3: grupo con identificador 7999 (no está en el archivo), materia MAT "
                              "«Matemáticas» (identificador 901), profesor con identificador 599 (no está en el "
                              "archivo)";
    EXPECT_EQ(NoticeLines(report, "ASIGT"), (std::vector<std::string>{
                                                 std::string(kSubjectNotInFile) + " | " + second,
                                                 std::string(kGroupNotInFile) + " | " + third,
                                                 std::string(kTeacherNotInFile) + " | " + third,
                                             }));
}

// Sections may come again after assignments (a file of several schools repeats them): an
// assignment is linked as the finished tables link it, wherever in the file its subject,
// teacher or group comes, and the rows keep the order of the file.
TEST_F(AssignmentsTableTest, AssignmentsBeforeWhatTheyLinkAreWrittenInFileOrderAsTheFinishedTablesLinkThem)
{
    const RunReport report = Import(SchoolXml(std::string(kWorkedExampleLookups) + R"(
<asignaturas>
  <dasignatura cgrupo="7001" casig="901" cprofe="501" conexion="" nhoras="1"/>
  <dasignatura cgrupo="G7002" casig="901" cprofe="503" conexion="" nhoras="2"/>
  <dasignatura cgrupo="7001" casig="950" cprofe="502" conexion="" nhoras="3"/>
</asignaturas>
<profesores>
  <profesor codigo="ARG" nombre="Eva" apellido1="Sanz" apellido2="Pons" idprofesor="503"/>
</profesores>
<asignaturas>
  <dasignatura cgrupo="" casig="901" cprofe="501" conexion="" nhoras="4"/>
  <dasignatura cgrupo="7001" casig="901" cprofe="" conexion="" nhoras="5"/>
</asignaturas>
<grupos>
  <dgrupo codigo="SIN" codigo_nivel="ESO" curso="2" cgrupo="S" idgrupo="" idcurso="301"/>
</grupos>
)"));

    // Teacher 503 comes after the assignment naming it; 950 is an activity, whose row
    // comes after every subject's; a group with no identifier, later still, is the one
    // an assignment with none is linked to.
    const Rows expected = {
        {"MAT", "ARG", "1ESOA", "", "", "ESO", "1", "A", "1", "1", "M1", "", "300", "7001", "901", "501"},
        {"MAT", "ARG1", "1ESOB", "", "", "ESO", "1", "B", "2", "11", "M1", "", "300", "G7002", "901", "503"},
        {"M1", "LMM", "1ESOA", "", "", "ESO", "1", "A", "3", "111", "M1", "", "300", "7001", "950", "502"},
        {"MAT", "ARG", "SIN", "", "", "ESO", "2", "S", "4", "1111", "M1", "", "301", "", "901", "501"},
        {"MAT", "", "1ESOA", "", "", "ESO", "1", "A", "5", "11111", "M1", "", "300", "7001", "901", ""},
    };
    ExpectRows(report, "ASIGT", expected);
    EXPECT_TRUE(NoticeLines(report, "ASIGT").empty());
}

TEST_F(AssignmentsTableTest, HoursGiveOneSessionPerHourAndAHalfMark)
{
    struct Case {
        const char* nhoras;
        const char* horas;
        std::string sesiones;
        std::string notice;  // what the report says of the assignment, if anything
    };
    // SESIONES spells out the hours beyond thirteen in digits: from 10,000,013 hours on it
    // needs more than its 20 characters and is cut to them when stored, like any text.
    const auto cut = [](int number, const std::string& sessions) {
        return "texto recortado al ancho del campo SESIONES | asignación nº " + std::to_string(number) +
               ": grupo 1ESOA (identificador 7001), materia MAT «Matemáticas» (identificador 901), profesor ARG "
               "«Ana Ruiz Gil» (identificador 501): '" + sessions + "'";
    };
    const std::string thirteen(13, '1');
    const Case cases[] = {
        {"3", "3", "111", ""},
        {" 4 ", "4", "1111", ""},
        {"13", "13", thirteen, ""},
        {"14", "14", std::string(14, '1'), ""},
        {"15", "15", "2" + thirteen, ""},
        {"30", "30", "17" + thirteen, ""},
        {"0", "1", "1", ""},
        {"2.5", "2.5", "11½", ""},
        {"2,5", "2.5", "11½", ""},
        {"0,5", "0.5", "½", ""},
        {".5", "0.5", "½", ""},
        {"13.5", "13.5", thirteen + "½", ""},
        {"15.5", "15.5", "2" + thirteen + "½", ""},
        {"-2", "-2", "", ""},
        {"-2147483648", "-2147483648", "", ""},
        {"10000012", "10000012", "9999999" + thirteen, ""},
        {"10000013", "10000013", "10000000" + std::string(12, '1'), cut(17, "10000000" + thirteen)},
        {"2147483647", "2147483647", "2147483634" + std::string(10, '1'), cut(18, "2147483634" + thirteen)},
        {"10000013,5", "10000013.5", "10000000" + std::string(12, '1'), cut(19, "10000000" + thirteen + "½")},
    };
    std::vector<Assignment> assignments;
    std::vector<std::string> notices;
    for (const Case& c : cases) {
        assignments.push_back({"7001", "901", "501", "", c.nhoras});
        if (!c.notice.empty())
            notices.push_back(c.notice);
    }
    const RunReport report = Import(AssignmentsXml(assignments, kWorkedExampleLookups));

    const Rows rows = ReadColumns("ASIGT", {"HORAS", "SESIONES"});
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(std::string("nhoras='") + cases[i].nhoras + "'");
        EXPECT_EQ(rows[i], (Row{cases[i].horas, cases[i].sesiones}));
    }
    EXPECT_EQ(NoticeLines(report, "ASIGT"), notices);
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
    EXPECT_EQ(report.Count("ASIGT", kGroupNotInFile), 2u);
    EXPECT_EQ(report.Count("ASIGT", kTeacherNotInFile), 2u);
    EXPECT_EQ(report.Count("ASIGT", "texto recortado al ancho del campo NCONEX"), 1u);
}

TEST_F(AssignmentsTableTest, SubjectWithoutRowGivesNoRecordAndTheReportSaysWhy)
{
    constexpr char kLookups[] = R"(
<materias>
  <dmateria codigo="MAT" nombre="Matemáticas" codigo_actividad="M1" idmateria="901"/>
  <dmateria codigo="MAT" nombre="Matemáticas II" codigo_actividad="M1" idmateria="902"/>
  <dmateria codigo="QUI" nombre="Química" codigo_actividad="M1" idmateria="A905"/>
  <dmateria codigo="LAT" nombre="Latín" codigo_actividad="M1" idmateria="90100000001"/>
  <dmateria codigo="GRI" nombre="Griego" codigo_actividad="M1" idmateria="Ж1"/>
  <dmateria codigo="" nombre="Sin código" codigo_actividad="" idmateria="960"/>
</materias>
<profesores>
  <profesor codigo="ARG" nombre="Ana" apellido1="Ruiz" apellido2="Gil" idprofesor="501"/>
  <profesor codigo="LMM" nombre="Luis" apellido1="Mora" apellido2="Mas" idprofesor="502"/>
</profesores>
)";
    struct Case {
        const char* name;
        const char* casig;
        const char* reason;  // empty: the assignment gets its row
        const char* subject; // how the report names the subject
    };
    const Case cases[] = {
        {"a subject with its row", "901", "", ""},
        {"a subject whose code was taken", "902", "materia sin fila en ASIGNOMT: asignación omitida",
         "materia MAT «Matemáticas II» (identificador 902)"},
        {"an identifier in other letter case", "a905", "materia que el archivo no tiene: asignación omitida",
         "materia con identificador a905 (no está en el archivo)"},
        {"an identifier stored cut to 10 characters", "90100000001",
         "identificador de materia más largo que el campo IDASIG: asignación omitida",
         "materia LAT «Latín» (identificador 90100000001)"},
        {"an identifier that Windows-1252 cannot hold", "Ж1",
         "identificador de materia con caracteres que Windows-1252 no admite (ASIGNOMT no puede guardarlo): "
         "asignación omitida",
         "materia GRI «Griego» (identificador Ж1)"},
        {"an activity with an empty code", "960", "materia con código vacío en ASIGNOMT: asignación omitida",
         "materia «Sin código» (identificador 960)"},
        {"an identifier the file does not have", "903", "materia que el archivo no tiene: asignación omitida",
         "materia con identificador 903 (no está en el archivo)"},
        {"no subject", "", "asignación sin materia: omitida", "sin materia"},
        {"the right letter case", "A905", "", ""},
    };
    std::vector<Assignment> assignments;
    std::vector<std::string> expectedIds;
    std::vector<std::string> expectedLines;
    for (const Case& c : cases) {
        assignments.push_back({"", c.casig, "501", "", "1"});
        if (*c.reason == '\0')
            expectedIds.push_back(c.casig);
        else
            expectedLines.push_back(std::string(c.reason) + " | asignación nº " + std::to_string(assignments.size()) +
                                    ": sin grupo, " + c.subject + ", profesor ARG «Ana Ruiz Gil» (identificador 501)");
    }
    const RunReport report = Import(AssignmentsXml(assignments, kLookups));

    EXPECT_EQ(ReadColumn("ASIGT", "IDASIG"), expectedIds);
    EXPECT_EQ(NoticeLines(report, "ASIGT"), expectedLines);
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
        // A number, but not one that the reading as a whole number takes: an exponent, or
        // a whole part beyond 32 bits.
        {"1e1", "901", "'1e1' is not a valid integer value"},
        {"2E0", "901", "'2E0' is not a valid integer value"},
        {"1E-1", "901", "'1E-1' is not a valid integer value"},
        {"1,5e1", "901", "'1,5e1' is not a valid integer value"},
        {"1e300", "901", "'1e300' is not a valid integer value"},
        {"1e1", "999", "'1e1' is not a valid integer value"},
        {"2147483648", "901", "'2147483648' is not a valid integer value"},
        {"2147483648,5", "901", "'2147483648,5' is not a valid integer value"},
        {"-2147483649", "901", "'-2147483649' is not a valid integer value"},
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

TEST_F(AssignmentsTableTest, IdentifierTheTablesCannotHoldIsNotedWhereStoredAndWhereLinked)
{
    // Each identifier is stored with '?' for the letter Windows-1252 lacks, so the search,
    // which compares the stored field with the file's text, finds nothing: the notices
    // say so where the identifier is stored and where an assignment links it.
    const std::string xml = SchoolXml(R"(
<materias>
  <dmateria codigo="MAT" nombre="Matemáticas" codigo_actividad="M1" idmateria="Ж1"/>
  <dmateria codigo="M1" nombre="Lectiva" codigo_actividad="M1" idmateria="950"/>
</materias>
<profesores>
  <profesor codigo="ARG" nombre="Ana" apellido1="Ruiz" apellido2="Gil" idprofesor="Ж5"/>
  <profesor codigo="LMM" nombre="Luis" apellido1="Mora" apellido2="Mas" idprofesor="502"/>
</profesores>
<grupos>
  <dgrupo codigo="1A" nombre="1 ESO A" codigo_nivel="ESO" curso="1" cgrupo="A" idgrupo="Ж7" idcurso="300"/>
  <dgrupo codigo="1B" nombre="1 ESO B" codigo_nivel="ESO" curso="1" cgrupo="B" idgrupo="7002" idcurso="300"/>
</grupos>
<asignaturas>
  <dasignatura cgrupo="Ж7" casig="950" cprofe="Ж5" conexion="" nhoras="2"/>
  <dasignatura cgrupo="7002" casig="Ж1" cprofe="502" conexion="" nhoras="2"/>
</asignaturas>
)");
    const RunReport report = Import(xml);

    struct Case {
        const char* table;
        const char* field;
        Row stored;                      // the identifier as its table holds it
        std::vector<std::string> lines;  // what the report says of the table
    };
    const std::string first = "asignación nº 1: grupo 1A «1 ESO A» (identificador Ж7), materia M1 «Lectiva» "
                              "(identificador 950), profesor ARG «Ana Ruiz Gil» (identificador Ж5)";
    const Case cases[] = {
        {"ASIGNOMT", "IDASIG",
         {"?1", "950"},
         {"identificador con caracteres que Windows-1252 no admite: IDASIG no puede guardarlo y sus asignaciones no "
          "se podrán enlazar | materia nº 1: MAT «Matemáticas» (identificador Ж1): 'Ж1'"}},
        {"PROFT", "IDPROF",
         {"?5", "502"},
         {"identificador con caracteres que Windows-1252 no admite: IDPROF no puede guardarlo y sus asignaciones no "
          "se podrán enlazar | profesor nº 1: ARG «Ana Ruiz Gil» (identificador Ж5): 'Ж5'"}},
        {"GRUPOST", "IDGRUPO",
         {"?7", "7002"},
         {"identificador con caracteres que Windows-1252 no admite: IDGRUPO no puede guardarlo y sus asignaciones no "
          "se podrán enlazar | grupo nº 1: 1A «1 ESO A» (identificador Ж7): 'Ж7'"}},
        {"ASIGT", "IDGRUP",
         {"?7"},
         {"identificador de grupo con caracteres que Windows-1252 no admite (GRUPOST no puede guardarlo): asignación "
          "sin grupo (CGRUP vacío) | " + first,
          "identificador de profesor con caracteres que Windows-1252 no admite (PROFT no puede guardarlo): "
          "asignación sin profesor (CPROF vacío) | " + first,
          "caracteres que Windows-1252 no admite guardados como '?' en IDGRUP | " + first + ": 'Ж7'",
          "caracteres que Windows-1252 no admite guardados como '?' en IDPROF | " + first + ": 'Ж5'",
          "identificador de materia con caracteres que Windows-1252 no admite (ASIGNOMT no puede guardarlo): "
          "asignación omitida | asignación nº 2: grupo 1B «1 ESO B» (identificador 7002), materia MAT «Matemáticas» "
          "(identificador Ж1), profesor LMM «Luis Mora Mas» (identificador 502)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        EXPECT_EQ(ReadColumn(c.table, c.field), c.stored);
        EXPECT_EQ(NoticeLines(report, c.table), c.lines);
    }
    EXPECT_EQ(ReadColumns("ASIGT", {"CASIG", "CPROF", "CGRUP"}), (Rows{{"M1", "", ""}}));
}

}  // namespace
}  // namespace pasarela
