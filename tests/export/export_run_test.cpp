#include "export/export_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "import/table_registry.h"
#include "os/date_stamp.h"
#include "os/error.h"
#include "test_support.h"
#include "os/error_message.h"
#include "workfolder/run_report.h"
#include "workfolder/school_record.h"
#include "xml/xml_reader.h"
#include "xml/xml_test_support.h"

namespace pasarela {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

const char* const kTables[] = {"SOLUC", "GRUPOST", "PROFT", "AULAT", "ASIGNOMT", "ASIGT"};

struct Group {
    std::string abrev, idgrupo, idcurso;
};

// A record of ASIGNOMT, PROFT or AULAT: its short code and the DASTENO identifier.
struct Code {
    std::string code, id;
};

// What the import left in the lookup tables, reduced to the fields the export reads.
struct Lookups {
    std::vector<Group> groups;
    std::vector<Code> subjects, teachers, rooms;
};

Lookups SampleLookups()
{
    return {{{"1ESOA", "7001", "300"}}, {{"MAT", "5101"}, {"LECTIVA", "9001"}}, {{"GARJ", "4410"}}, {{"A12", "88"}}};
}

// One row of SOLUC as Orlavi writes it; the default is a lesson every lookup finds.
struct SolutionRow {
    std::string dia = "2", hora = "3", sesiones = "1";
    std::string codgrupo = "1ESOA", asig = "MAT", tarea = "LECT", prof = "GARJ", aula = "A12";
};

// The element the default row gives.
constexpr char kSampleRow[] =
    R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso="300"/>)";

using Record = std::vector<std::pair<std::string, std::string>>;

void WriteTable(const fs::path& path, std::span<const FieldSpec> fields, const std::vector<Record>& records)
{
    DbfTable::Create(path, fields);
    DbfTable table = DbfTable::Open(path, test::ReadWrite());
    for (const Record& record : records) {
        table.Append();
        for (const auto& [field, value] : record)
            table.SetString(table.FieldIndex(field), value);
        table.Post();
    }
    table.Close();
}

// SOLUC in our own level-7 layout: DIA and SESIONES as 4-byte integers, HORA as a double,
// and a leading field the export has no use for.
void WriteLevel7Solution(const fs::path& path, const std::vector<SolutionRow>& rows)
{
    const FieldSpec fields[] = {
        {"IDSOL", FieldKind::Integer, 0},    {"DIA", FieldKind::Integer, 0},
        {"HORA", FieldKind::Float, 0},       {"SESIONES", FieldKind::Integer, 0},
        {"CODGRUPO", FieldKind::Character, 10}, {"ASIG", FieldKind::Character, 10},
        {"TAREA", FieldKind::Character, 10}, {"PROF", FieldKind::Character, 10},
        {"AULA", FieldKind::Character, 10},
    };
    std::vector<Record> records;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const SolutionRow& r = rows[i];
        records.push_back({{"IDSOL", std::to_string(i + 100)}, {"DIA", r.dia}, {"HORA", r.hora},
                           {"SESIONES", r.sesiones}, {"CODGRUPO", r.codgrupo}, {"ASIG", r.asig},
                           {"TAREA", r.tarea}, {"PROF", r.prof}, {"AULA", r.aula}});
    }
    WriteTable(path, fields, records);
}

// A numeric cell as dBase writes it: right-aligned in its width.
std::string RightAligned(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// SOLUC as a dBase III file with numeric (N) fields, the layout of Orlavi's own engine.
// With `decimalHour`, HORA is N(4,1) holding "3.0", the field names are in lower case and a
// deleted record (that would give a row of its own) sits between the live ones.
std::string DBase3Solution(const std::vector<SolutionRow>& rows, bool decimalHour = false)
{
    test::DbfBuilder dbf;
    dbf.version = 0x03;
    dbf.fields = {{"DIA", 'N', 2}, {"HORA", 'N', decimalHour ? 4 : 2, decimalHour ? 1 : 0}, {"SESIONES", 'N', 2},
                  {"CODGRUPO", 'C', 10}, {"ASIG", 'C', 10}, {"TAREA", 'C', 10}, {"PROF", 'C', 10},
                  {"AULA", 'C', 10}, {"NOTA", 'C', 20}};
    if (decimalHour)
        for (auto& field : dbf.fields)
            for (char& c : field.name)
                c = static_cast<char>(c - 'A' + 'a');
    for (const SolutionRow& r : rows) {
        const std::string hora = decimalHour && !r.hora.empty() ? r.hora + ".0" : r.hora;
        const test::RowBytes row{' ',
                                 {RightAligned(r.dia, 2), RightAligned(hora, decimalHour ? 4 : 2),
                                  RightAligned(r.sesiones, 2), r.codgrupo, r.asig, r.tarea, r.prof, r.aula,
                                  "ignorado"}};
        if (decimalHour && !dbf.rows.empty())
            dbf.rows.push_back({'*', {" 9", " 9.0", " 9", "1ESOA", "MAT", "LECT", "GARJ", "A12", "borrado"}});
        dbf.rows.push_back(row);
    }
    return dbf.Build();
}

// A DASTENO file: a declaration, a comment before and after the root, and sections and an
// earlier timetable that the export drops.
std::string SchoolXml(std::string_view rootAttributes =
                          R"(codigo_interno="37001234" nombre="IES Ejemplo" curso="2012/2013" version="1.4")")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!-- Exportación de DASTENO -->\n"
           "<centro " + std::string(rootAttributes) + ">\n"
           "  <materias>\n"
           "    <dmateria codigo=\"MAT\" nombre=\"Matemáticas\" codigo_actividad=\"LECTIVA\" idmateria=\"5101\"/>\n"
           "  </materias>\n"
           "  <solucion_horario><dsolucion casig=\"1\" cgrupo=\"2\"/></solucion_horario>\n"
           "</centro>\n"
           "<!-- fin -->\n";
}

constexpr char kStamp[] = "15/03/2013 09:05:07";

// The bytes the export saves for SchoolXml() with these rows.
std::string ExpectedOutput(std::string_view rows)
{
    const std::string head =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<!-- Exportación de DASTENO --><!-- fin -->"
        "<centro codigo_interno=\"37001234\" nombre=\"IES Ejemplo\" curso=\"2012/2013\" fecha_exportacion=\"" +
        std::string(kStamp) + "\" version=\"1.4\">";
    if (rows.empty())
        return head + "<solucion_horario/></centro>";
    return head + "<solucion_horario>" + std::string(rows) + "</solucion_horario></centro>";
}

class ExportRunTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        workDir_ = folder_ / "VTEMP";
        fs::create_directory(workDir_);
        xmlFile_ = folder_ / "escuela.xml";
    }

    fs::path TablePath(std::string_view table) const { return workDir_ / (std::string(table) + ".DBF"); }
    fs::path OutputFile() const { return folder_ / "ResultadoOrlavisescuela.xml"; }

    // `table` with the fields the import gives it.
    void WriteImportedTable(std::string_view table, const std::vector<Record>& records) const
    {
        WriteTable(TablePath(table), ImportedTableNamed(table).fields, records);
    }

    void WriteLookups(const Lookups& lookups) const
    {
        std::vector<Record> groups, subjects, teachers, rooms;
        for (const Group& g : lookups.groups)
            groups.push_back({{"ABREV", g.abrev}, {"IDGRUPO", g.idgrupo}, {"IDCURSO", g.idcurso}, {"DESCRIP", "grupo"}});
        for (const Code& c : lookups.subjects)
            subjects.push_back({{"COD", c.code}, {"NOMBRE", "materia"}, {"IDASIG", c.id}});
        for (const Code& c : lookups.teachers)
            teachers.push_back({{"ABREV", c.code}, {"NOMBRE", "profesor"}, {"IDPROF", c.id}});
        for (const Code& c : lookups.rooms)
            rooms.push_back({{"ABREV", c.code}, {"NOMBRE", "aula"}, {"MAXALUM", "30"}, {"IDAULA", c.id}});
        WriteImportedTable("GRUPOST", groups);
        WriteImportedTable("ASIGNOMT", subjects);
        WriteImportedTable("PROFT", teachers);
        WriteImportedTable("AULAT", rooms);
        WriteImportedTable("ASIGT", {{{"CASIG", "MAT"}, {"IDASIG", "5101"}}});
    }

    // The sample tables, SOLUC holding `rows`, and the DASTENO file.
    void WriteSample(const std::vector<SolutionRow>& rows = {SolutionRow{}})
    {
        WriteLookups(SampleLookups());
        WriteLevel7Solution(TablePath("SOLUC"), rows);
        WriteFileBytes(xmlFile_, SchoolXml());
    }

    ExportOptions Options(const fs::path& xmlFile) const
    {
        ExportOptions options;
        options.xmlFile = xmlFile;
        options.workingDir = workDir_;
        options.journalFileNames = JournalFileNames();
        options.now = [] { return kMoment; };
        options.formatDate = [](std::chrono::system_clock::time_point when) {
            EXPECT_EQ(when, kMoment) << "the date stamp is not the run's clock";
            return std::string(kStamp);
        };
        return options;
    }

    ExportResult Export() const { return Export(xmlFile_); }
    ExportResult Export(const fs::path& xmlFile) const { return RunExport(Options(xmlFile)); }

    // After any run, failed ones included, every table can be opened for exclusive use.
    void ExpectTablesReleased() const
    {
        for (const char* table : kTables) {
            SCOPED_TRACE(table);
            EXPECT_NO_THROW(DbfTable::Open(TablePath(table)));
        }
    }

    static constexpr auto kMoment = std::chrono::system_clock::time_point(std::chrono::seconds(1363334707));

    fs::path workDir_;
    fs::path xmlFile_;
};

TEST_F(ExportRunTest, RowTranslatedThroughEveryTableAndTheFileAroundTheRootKept)
{
    WriteSample();
    const ExportResult result = Export();

    EXPECT_EQ(result.outputFile, OutputFile());
    EXPECT_EQ(ReadFileBytes(OutputFile()), ExpectedOutput(kSampleRow));
    EXPECT_EQ(ReadFileBytes(xmlFile_), SchoolXml()) << "the chosen file is only read";
    EXPECT_THAT(FolderContents(), ElementsAre("ResultadoOrlavisescuela.xml", "VTEMP", "escuela.xml"));
    EXPECT_FALSE(result.report.HasNotices());
    EXPECT_EQ(result.report.Rows("SOLUC"), 1u);
    EXPECT_EQ(result.report.Rows("dsolucion"), 1u);
    ExpectTablesReleased();
}

TEST_F(ExportRunTest, FileOfAnotherSchoolThanTheTablesIsRefusedAndNothingIsWritten)
{
    struct Case {
        const char* name;
        std::optional<SchoolIdentity> recorded;  // nothing: tables written before the record
        bool refused;
    };
    const Case cases[] = {
        {"another school", SchoolIdentity{"29000002", "IES Otro", "2012/2013"}, true},
        {"another year of the same school", SchoolIdentity{"37001234", "IES Ejemplo", "2011/2012"}, true},
        {"the same school, its name written otherwise", SchoolIdentity{"37001234", "I.E.S. Ejemplo", "2012/2013"},
         false},
        {"no record", std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(OutputFile());
        WriteSample();
        fs::remove(workDir_ / kSchoolRecordName);
        if (c.recorded)
            WriteFileBytes(workDir_ / kSchoolRecordName,
                           SchoolRecordText({*c.recorded, kMoment, folder_ / "escuela.xml"}));
        if (!c.refused) {
            Export();
            EXPECT_EQ(ReadFileBytes(OutputFile()), ExpectedOutput(kSampleRow));
            continue;
        }
        EXPECT_EQ(test::ErrorMessageOf([&] { Export(); }),
                  "El archivo '" + DisplayPath(xmlFile_) + "' es del centro 37001234 (IES Ejemplo, 2012/2013), pero "
                  "las tablas de Orlavi son del centro " + SchoolText(c.recorded) +
                  ": no se ha exportado nada. Elija el archivo de DASTENO del centro " + SchoolText(c.recorded) +
                  ", el que importó");
        EXPECT_THAT(FolderContents(), ElementsAre("VTEMP", "escuela.xml"));
        ExpectTablesReleased();
    }
}

TEST_F(ExportRunTest, TimetableOlderThanTheTablesIsExportedWithANoticeFirst)
{
    WriteSample();
    const auto imported = std::chrono::system_clock::now() - std::chrono::hours(1);
    WriteFileBytes(workDir_ / kSchoolRecordName,
                   SchoolRecordText({{"37001234", "IES Ejemplo", "2012/2013"}, imported, xmlFile_}));
    // Computed the day before the tables were imported.
    const auto computed = std::chrono::time_point_cast<std::chrono::seconds>(imported - std::chrono::hours(24));
    fs::last_write_time(TablePath("SOLUC"), std::chrono::file_clock::from_sys(computed));

    const ExportResult result = Export();
    EXPECT_EQ(ReadFileBytes(OutputFile()), ExpectedOutput(kSampleRow));
    EXPECT_THAT(result.report.Headlines(),
                ElementsAre("ATENCIÓN: el horario (SOLUC.DBF, del " + UserDateTimeText(computed) +
                            ") es anterior a las tablas importadas el " + UserDateTimeText(imported) +
                            ": puede que algunas filas hayan perdido profesores, grupos o asignaturas. Vuelva a "
                            "calcular el horario en Orlavi y exporte de nuevo."));
    EXPECT_THAT(result.report.Summary(), StartsWith("ATENCIÓN: el horario (SOLUC.DBF"));

    // Computed again after the import: no notice.
    fs::last_write_time(TablePath("SOLUC"), std::chrono::file_clock::from_sys(imported + std::chrono::minutes(5)));
    EXPECT_THAT(Export().report.Headlines(), IsEmpty());
}

TEST_F(ExportRunTest, VariationsOfTheSampleRow)
{
    struct Case {
        const char* name;
        SolutionRow row;
        std::function<void(Lookups&)> adjust;  // changes to the sample tables
        std::string expected;                  // the element written, or "" for none
    };
    const Case cases[] = {
        {"every code found", {}, {}, kSampleRow},
        {"unknown teacher", {.prof = "XYZ"}, {},
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="" caula="88" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"unknown group", {.codgrupo = "9Z"}, {},
         R"(<dsolucion casig="5101" cgrupo="" cprofe="4410" caula="88" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso=""/>)"},
        {"unknown room", {.aula = "B7"}, {},
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"empty group, teacher and room", {.codgrupo = "", .prof = "", .aula = ""}, {},
         R"(<dsolucion casig="5101" cgrupo="" cprofe="" caula="" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso=""/>)"},
        {"unknown activity is written as it is", {.tarea = "REUN"}, {},
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="REUN" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"GUAR is looked up as GUARDIA", {.tarea = "GUAR"}, [](Lookups& l) { l.subjects.push_back({"GUARDIA", "9002"}); },
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="9002" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"LECTIVA in TAREA is looked up as it is", {.tarea = "LECTIVA"}, {},
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"lower-case lect is not replaced", {.tarea = "lect"}, [](Lookups& l) { l.subjects.push_back({"lect", "9003"}); },
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="9003" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"lower-case lect unknown stays lect", {.tarea = "lect"}, {},
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="lect" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"LECT without a LECTIVA record gives LECTIVA", {}, [](Lookups& l) { l.subjects.pop_back(); },
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="LECTIVA" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"activity equal to the first four characters of casig", {.tarea = "5101"},
         [](Lookups& l) { l.subjects[0].id = "510177"; },
         R"(<dsolucion casig="510177" cgrupo="7001" cprofe="4410" caula="88" cactiv="510177" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"an activity record wins over the four-character rule", {.tarea = "5101"},
         [](Lookups& l) { l.subjects[0].id = "510177"; l.subjects.push_back({"5101", "7777"}); },
         R"(<dsolucion casig="510177" cgrupo="7001" cprofe="4410" caula="88" cactiv="7777" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"casig shorter than four characters compared whole", {.tarea = "51"}, [](Lookups& l) { l.subjects[0].id = "51"; },
         R"(<dsolucion casig="51" cgrupo="7001" cprofe="4410" caula="88" cactiv="51" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"activity longer than a short casig", {.tarea = "510"}, [](Lookups& l) { l.subjects[0].id = "51"; },
         R"(<dsolucion casig="51" cgrupo="7001" cprofe="4410" caula="88" cactiv="510" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"four characters of casig but a different case", {.tarea = "abcd"}, [](Lookups& l) { l.subjects[0].id = "ABCDEF"; },
         R"(<dsolucion casig="ABCDEF" cgrupo="7001" cprofe="4410" caula="88" cactiv="abcd" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"search is exact: no partial or case-blind match", {.codgrupo = "1ESO", .asig = "MAT", .prof = "garj", .aula = "A1"}, {},
         R"(<dsolucion casig="5101" cgrupo="" cprofe="" caula="" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso=""/>)"},
        {"an empty code finds a record stored without one", {.aula = ""}, [](Lookups& l) { l.rooms.push_back({"", "8815"}); },
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="8815" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso="300"/>)"},
        {"fractional hour and other numbers", {.dia = "7", .hora = "2.5", .sesiones = "12"}, {},
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="9001" dia="7" hora="2.5" sesiones="12" idcurso="300"/>)"},
        {"empty SESIONES", {.sesiones = ""}, {},
         R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="9001" dia="2" hora="3" sesiones="" idcurso="300"/>)"},
        {"unknown subject", {.asig = "FIS"}, {}, ""},
        {"unknown subject, whatever else is found", {.asig = "LECTIVX"}, {}, ""},
        {"DIA 0", {.dia = "0"}, {}, ""},
        {"HORA 0", {.hora = "0"}, {}, ""},
        {"empty DIA", {.dia = ""}, {}, ""},
        {"empty HORA", {.hora = ""}, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Lookups lookups = SampleLookups();
        if (c.adjust)
            c.adjust(lookups);
        WriteLookups(lookups);
        WriteLevel7Solution(TablePath("SOLUC"), {c.row});
        WriteFileBytes(xmlFile_, SchoolXml());

        const ExportResult result = Export();
        EXPECT_EQ(ReadFileBytes(OutputFile()), ExpectedOutput(c.expected));
        EXPECT_EQ(result.report.Rows("dsolucion"), c.expected.empty() ? 0u : 1u);
    }
}

TEST_F(ExportRunTest, SolutionTablesInOrlavisLayoutsGiveTheSameRows)
{
    const std::vector<SolutionRow> rows = {
        {},
        {.dia = "0"},
        {.dia = "5", .hora = "6", .sesiones = "2", .codgrupo = "", .tarea = "GUAR", .aula = "X"},
    };
    const std::string expected =
        std::string(kSampleRow) +
        R"(<dsolucion casig="5101" cgrupo="" cprofe="4410" caula="" cactiv="GUARDIA" dia="5" hora="6" sesiones="2" idcurso=""/>)";
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> write;
    };
    const Case cases[] = {
        {"level 7 with integer and double fields", [&](const fs::path& p) { WriteLevel7Solution(p, rows); }},
        {"dBase III with numeric fields", [&](const fs::path& p) { WriteFileBytes(p, DBase3Solution(rows)); }},
        {"dBase III, one decimal in HORA, lower-case names, a deleted record",
         [&](const fs::path& p) { WriteFileBytes(p, DBase3Solution(rows, true)); }},
    };
    WriteSample();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.write(TablePath("SOLUC"));
        const ExportResult result = Export();
        EXPECT_EQ(ReadFileBytes(OutputFile()), ExpectedOutput(expected));
        EXPECT_EQ(result.report.Rows("SOLUC"), 3u);
        EXPECT_EQ(result.report.Rows("dsolucion"), 2u);
    }
}

TEST_F(ExportRunTest, EmptySolutionGivesAnEmptyTimetable)
{
    WriteSample({});
    const ExportResult result = Export();
    EXPECT_EQ(ReadFileBytes(OutputFile()), ExpectedOutput(""));
    EXPECT_EQ(result.report.Rows("dsolucion"), 0u);
}

TEST_F(ExportRunTest, RowsLeftOutAndCodesNotFoundAreReportedAndTheRowsAroundThemKept)
{
    WriteSample({
        {.sesiones = "1"},
        {.dia = "0"},
        {.hora = ""},
        {.asig = "FIS"},
        {.codgrupo = "9Z", .prof = "XYZ", .aula = "B7"},
        {.codgrupo = "", .prof = "", .aula = ""},
        {.sesiones = "3"},
    });
    const ExportResult result = Export();

    EXPECT_EQ(
        ReadFileBytes(OutputFile()),
        ExpectedOutput(
            std::string(kSampleRow) +
            R"(<dsolucion casig="5101" cgrupo="" cprofe="" caula="" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso=""/>)"
            R"(<dsolucion casig="5101" cgrupo="" cprofe="" caula="" cactiv="9001" dia="2" hora="3" sesiones="1" idcurso=""/>)"
            R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="9001" dia="2" hora="3" sesiones="3" idcurso="300"/>)"));

    const RunReport& report = result.report;
    EXPECT_EQ(report.Rows("SOLUC"), 7u);
    EXPECT_EQ(report.Rows("dsolucion"), 4u);
    EXPECT_EQ(report.Count("SOLUC", "DIA u HORA 0 o vacío: fila omitida"), 2u);
    EXPECT_EQ(report.Count("SOLUC", "asignatura desconocida en ASIGNOMT: fila omitida"), 1u);
    std::vector<std::string> entries;
    for (const RunReport::Notice& notice : report.Notices())
        entries.push_back(notice.table + " | " + notice.reason + " | " + notice.entry);
    // An empty code is no lookup that failed: nothing is noted for the sixth row.
    EXPECT_THAT(entries, ElementsAre("SOLUC | DIA u HORA 0 o vacío: fila omitida | registro 2",
                                     "SOLUC | DIA u HORA 0 o vacío: fila omitida | registro 3",
                                     "SOLUC | asignatura desconocida en ASIGNOMT: fila omitida | registro 4 (ASIG='FIS')",
                                     "SOLUC | grupo no encontrado en GRUPOST | registro 5 (CODGRUPO='9Z')",
                                     "SOLUC | profesor no encontrado en PROFT | registro 5 (PROF='XYZ')",
                                     "SOLUC | aula no encontrada en AULAT | registro 5 (AULA='B7')"));
}

TEST_F(ExportRunTest, DuplicateKeysUseTheRecordStoredFirst)
{
    Lookups lookups = SampleLookups();
    lookups.groups.push_back({"1ESOA", "7999", "399"});
    lookups.subjects.push_back({"MAT", "5999"});
    lookups.subjects.push_back({"LECTIVA", "9999"});
    lookups.teachers.push_back({"GARJ", "4999"});
    lookups.rooms.push_back({"A12", "99"});
    // The first records moved behind a decoy with another key, so "first" means stored
    // order, not the first record of the table.
    lookups.teachers.insert(lookups.teachers.begin(), {"OTRO", "4000"});
    WriteLookups(lookups);
    WriteLevel7Solution(TablePath("SOLUC"), {{}, {}});
    WriteFileBytes(xmlFile_, SchoolXml());

    Export();
    EXPECT_EQ(ReadFileBytes(OutputFile()), ExpectedOutput(std::string(kSampleRow) + kSampleRow));
}

TEST_F(ExportRunTest, HeaderIsTrimmedAndOnlyItsFourAttributesAreKept)
{
    struct Case {
        const char* name;
        std::string attributes;
        std::string expectedRoot;
        std::vector<std::string> missing;  // attributes noted as absent, in order
    };
    const Case cases[] = {
        {"blanks, tab and line break around the values",
         R"(codigo_interno="  37001234 " nombre="&#9;IES &quot;Ejemplo&quot; &amp; Co&#10;" curso=" 2012/2013" version="1.4  ")",
         R"(<centro codigo_interno="37001234" nombre="IES &quot;Ejemplo&quot; &amp; Co" curso="2012/2013" fecha_exportacion="15/03/2013 09:05:07" version="1.4">)",
         {}},
        {"other attributes dropped and the order fixed",
         R"(version="1.4" localidad="Villa" curso="2012/2013" nombre="IES" codigo_interno="1" provincia="Soria")",
         R"(<centro codigo_interno="1" nombre="IES" curso="2012/2013" fecha_exportacion="15/03/2013 09:05:07" version="1.4">)",
         {}},
        {"missing attributes written empty", R"(nombre="IES")",
         R"(<centro codigo_interno="" nombre="IES" curso="" fecha_exportacion="15/03/2013 09:05:07" version="">)",
         {"codigo_interno", "curso", "version"}},
        {"no attributes at all", "",
         R"(<centro codigo_interno="" nombre="" curso="" fecha_exportacion="15/03/2013 09:05:07" version="">)",
         {"codigo_interno", "nombre", "curso", "version"}},
    };
    WriteSample();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(xmlFile_, "<?xml version=\"1.0\"?><centro " + c.attributes +
                                     "><profesores><profesor codigo=\"A\"/></profesores></centro>");
        const ExportResult result = Export();
        EXPECT_EQ(ReadFileBytes(OutputFile()), "<?xml version=\"1.0\"?>" + c.expectedRoot + "<solucion_horario>" +
                                                   kSampleRow + "</solucion_horario></centro>");
        std::vector<std::string> noted;
        for (const RunReport::Notice& notice : result.report.Notices()) {
            EXPECT_EQ(notice.table, "centro");
            EXPECT_EQ(notice.reason, "atributo de cabecera ausente: se escribe vacío");
            noted.push_back(notice.entry);
        }
        EXPECT_EQ(noted, c.missing);
    }
}

TEST_F(ExportRunTest, OutputKeepsTheEncodingOfTheChosenFile)
{
    struct Case {
        const char* name;
        std::string input;
        std::string expected;
    };
    // TAREA comes from SOLUC in Windows-1252; the euro sign has no place in ISO-8859-1.
    const Case cases[] = {
        {"ISO-8859-1",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<centro codigo_interno=\"1\" nombre=\"IES Ram\xF3n y "
         "Cajal\" curso=\"2012/2013\" version=\"1\"><aulas/></centro>\n",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><centro codigo_interno=\"1\" nombre=\"IES Ram\xF3n y "
         "Cajal\" curso=\"2012/2013\" fecha_exportacion=\"15/03/2013 09:05:07\" version=\"1\"><solucion_horario>"
         "<dsolucion casig=\"5101\" cgrupo=\"7001\" cprofe=\"4410\" caula=\"88\" cactiv=\"REUNI\xD3N&#8364;\" "
         "dia=\"2\" hora=\"3\" sesiones=\"1\" idcurso=\"300\"/></solucion_horario></centro>"},
        {"UTF-8",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<centro codigo_interno=\"1\" nombre=\"IES Ram\xC3\xB3n y "
         "Cajal\" curso=\"2012/2013\" version=\"1\"><aulas/></centro>\n",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><centro codigo_interno=\"1\" nombre=\"IES Ram\xC3\xB3n y "
         "Cajal\" curso=\"2012/2013\" fecha_exportacion=\"15/03/2013 09:05:07\" version=\"1\"><solucion_horario>"
         "<dsolucion casig=\"5101\" cgrupo=\"7001\" cprofe=\"4410\" caula=\"88\" cactiv=\"REUNI\xC3\x93N\xE2\x82\xAC\" "
         "dia=\"2\" hora=\"3\" sesiones=\"1\" idcurso=\"300\"/></solucion_horario></centro>"},
        {"ISO-8859-15, which holds the euro sign",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?>\n<centro codigo_interno=\"1\" nombre=\"IES Ram\xF3n y "
         "Cajal\" curso=\"2012/2013\" version=\"1\"><aulas/></centro>\n",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><centro codigo_interno=\"1\" nombre=\"IES Ram\xF3n y "
         "Cajal\" curso=\"2012/2013\" fecha_exportacion=\"15/03/2013 09:05:07\" version=\"1\"><solucion_horario>"
         "<dsolucion casig=\"5101\" cgrupo=\"7001\" cprofe=\"4410\" caula=\"88\" cactiv=\"REUNI\xD3N\xA4\" "
         "dia=\"2\" hora=\"3\" sesiones=\"1\" idcurso=\"300\"/></solucion_horario></centro>"},
        {"US-ASCII",
         "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<centro codigo_interno=\"1\" nombre=\"IES Ram&#243;n y "
         "Cajal\" curso=\"2012/2013\" version=\"1\"><aulas/></centro>\n",
         "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><centro codigo_interno=\"1\" nombre=\"IES Ram&#243;n y "
         "Cajal\" curso=\"2012/2013\" fecha_exportacion=\"15/03/2013 09:05:07\" version=\"1\"><solucion_horario>"
         "<dsolucion casig=\"5101\" cgrupo=\"7001\" cprofe=\"4410\" caula=\"88\" cactiv=\"REUNI&#211;N&#8364;\" "
         "dia=\"2\" hora=\"3\" sesiones=\"1\" idcurso=\"300\"/></solucion_horario></centro>"},
    };
    WriteSample({{.tarea = "REUNIÓN€"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(xmlFile_, c.input);
        Export();
        EXPECT_EQ(ReadFileBytes(OutputFile()), c.expected);
    }
}

TEST_F(ExportRunTest, FileThatIsNotWellFormedIsRefusedAndTheEarlierOutputKept)
{
    WriteSample();
    Export();
    const std::string earlier = ReadFileBytes(OutputFile());
    struct Case {
        const char* name;
        std::string xml;
        std::string where;
    };
    const Case cases[] = {
        {"'--' in a comment after the root", SchoolXml() + "<!-- a -- b -->", "(línea 10, columna 10)"},
        {"a header that is not there",
         "<?xml version=\"1.0\"?>\n<otro a=\"1\" a=\"2\"/>", "(línea 2, columna 13)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(xmlFile_, c.xml);
        EXPECT_THAT([&] { Export(); }, ThrowsMessage<XmlParseError>(HasSubstr(c.where)));
        EXPECT_EQ(ReadFileBytes(OutputFile()), earlier);
    }
}

TEST_F(ExportRunTest, DayOrHourFilledWithAsterisksIsReadEmptyAndReported)
{
    WriteSample();
    WriteFileBytes(TablePath("SOLUC"), DBase3Solution({{}, {.dia = "**"}, {.hora = "**"}}));
    const ExportResult result = Export();
    EXPECT_EQ(result.report.Rows("SOLUC"), 3u);
    EXPECT_EQ(result.report.Rows("dsolucion"), 1u);
    EXPECT_EQ(result.report.Count("SOLUC", "DIA u HORA lleno de asteriscos (un valor que no cabía): se lee vacío"), 2u);
    EXPECT_EQ(result.report.Count("SOLUC", "DIA u HORA 0 o vacío: fila omitida"), 2u);
}

TEST_F(ExportRunTest, EarlierOutputChosenAgainGetsTheNameTwiceAndOnlyTheNewRows)
{
    WriteSample();
    Export();
    const std::string firstOutput = ReadFileBytes(OutputFile());

    WriteLevel7Solution(TablePath("SOLUC"), {{.dia = "4", .hora = "1"}});
    const ExportResult result = Export(OutputFile());

    EXPECT_EQ(result.outputFile, folder_ / "ResultadoOrlavisResultadoOrlavisescuela.xml");
    EXPECT_EQ(
        ReadFileBytes(result.outputFile),
        ExpectedOutput(
            R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="9001" dia="4" hora="1" sesiones="1" idcurso="300"/>)"));
    EXPECT_EQ(ReadFileBytes(OutputFile()), firstOutput);
}

TEST_F(ExportRunTest, SecondRunReplacesTheFirstOutput)
{
    WriteSample({{}, {.dia = "3"}});
    Export();
    WriteLevel7Solution(TablePath("SOLUC"), {{.dia = "5", .hora = "6"}});
    Export();

    EXPECT_EQ(
        ReadFileBytes(OutputFile()),
        ExpectedOutput(
            R"(<dsolucion casig="5101" cgrupo="7001" cprofe="4410" caula="88" cactiv="9001" dia="5" hora="6" sesiones="1" idcurso="300"/>)"));
    EXPECT_THAT(FolderContents(), ElementsAre("ResultadoOrlavisescuela.xml", "VTEMP", "escuela.xml"));
}

TEST_F(ExportRunTest, MissingFileOrSolutionStopsBeforeAnyTable)
{
    struct Case {
        const char* name;
        fs::path xmlFile;
        bool removeSolution;
    };
    const Case cases[] = {
        {"no file chosen", {}, false},
        {"a file that does not exist", folder_ / "nada.xml", false},
        {"a folder", workDir_, false},
        {"no SOLUC.DBF", folder_ / "escuela.xml", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSample();
        if (c.removeSolution)
            fs::remove(TablePath("SOLUC"));
        // A table held by another program shows that no table was even opened.
        const DbfTable held = DbfTable::Open(TablePath("GRUPOST"));
        EXPECT_THAT([&] { Export(c.xmlFile); },
                    ThrowsMessage<MissingInputError>(StrEq("No existe archivo XML o Solución.")));
        EXPECT_FALSE(fs::exists(OutputFile()));
    }
}

TEST_F(ExportRunTest, FailedRunSavesNothingKeepsTheEarlierOutputAndReleasesTheTables)
{
    struct Case {
        const char* name;
        std::function<void()> spoil;
        std::string message;
    };
    const Case cases[] = {
        {"DIA that is not a number",
         [&] { WriteFileBytes(TablePath("SOLUC"), DBase3Solution({{}, {.dia = "x"}})); },
         "SOLUC.DBF, registro 2, campo DIA: 'x' no es un número válido"},
        {"DIA that is not a whole number",
         [&] { WriteFileBytes(TablePath("SOLUC"), DBase3Solution({{}, {.dia = ".5"}})); },
         "SOLUC.DBF, registro 2, campo DIA: '0.5' no es un número entero válido"},
        {"HORA that is not a number",
         [&] { WriteFileBytes(TablePath("SOLUC"), DBase3Solution({{}, {}, {.hora = "3a"}})); },
         "SOLUC.DBF, registro 3, campo HORA: '3a' no es un número válido"},
        {"a file that is not XML", [&] { WriteFileBytes(xmlFile_, "<centro>\n<aulas>\n</centro>\n"); },
         "no es un XML válido (línea 3, columna 3)"},
        {"a root other than centro", [&] { WriteFileBytes(xmlFile_, "<?xml version=\"1.0\"?><escuela/>"); },
         "su elemento raíz es 'escuela' y debería ser 'centro'"},
        {"a lookup table missing", [&] { fs::remove(TablePath("AULAT")); }, "AULAT.DBF"},
        {"ASIGT missing", [&] { fs::remove(TablePath("ASIGT")); }, "ASIGT.DBF"},
        {"SOLUC of another layout",
         [&] { WriteTable(TablePath("SOLUC"), ImportedTableNamed("AULAT").fields, {}); },
         "La tabla SOLUC.DBF no tiene el campo 'DIA'"},
        {"GRUPOST of another layout", [&] { WriteTable(TablePath("GRUPOST"), ImportedTableNamed("AULAT").fields, {}); },
         "La tabla GRUPOST.DBF no tiene el campo 'IDGRUPO'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSample();
        Export();
        const std::string earlier = ReadFileBytes(OutputFile());
        WriteLevel7Solution(TablePath("SOLUC"), {{.dia = "5"}});  // would change the output
        c.spoil();

        EXPECT_THAT([&] { Export(); }, ThrowsMessage<Error>(HasSubstr(c.message)));
        EXPECT_EQ(ReadFileBytes(OutputFile()), earlier);
        EXPECT_THAT(FolderContents(), ElementsAre("ResultadoOrlavisescuela.xml", "VTEMP", "escuela.xml"));
        for (const char* table : kTables) {
            if (fs::exists(TablePath(table))) {
                EXPECT_NO_THROW(DbfTable::Open(TablePath(table))) << table;
            }
        }
    }
}

TEST_F(ExportRunTest, TableInUseStopsTheRunAndKeepsTheEarlierOutput)
{
    WriteSample();
    Export();
    const std::string earlier = ReadFileBytes(OutputFile());
    WriteLevel7Solution(TablePath("SOLUC"), {{.dia = "5"}});
    for (const char* table : kTables) {
        SCOPED_TRACE(table);
        {
            const DbfTable held = DbfTable::Open(TablePath(table));
            EXPECT_THAT([&] { Export(); },
                        ThrowsMessage<Error>(AllOf(HasSubstr(std::string(table) + ".DBF"), HasSubstr("en uso"))));
        }
        EXPECT_EQ(ReadFileBytes(OutputFile()), earlier);
        EXPECT_THAT(FolderContents(), ElementsAre("ResultadoOrlavisescuela.xml", "VTEMP", "escuela.xml"));
        ExpectTablesReleased();
    }
}

TEST(ExportOutputPathTest, PrefixesTheFileNameInItsFolder)
{
    struct Case {
        const char* name;
        fs::path chosen;
        fs::path expected;
    };
    const fs::path folder = fs::path("datos") / "horarios";
    const Case cases[] = {
        {"in a folder", folder / "centro.xml", folder / "ResultadoOrlaviscentro.xml"},
        {"no folder", "centro.xml", "ResultadoOrlaviscentro.xml"},
        {"extension kept as it is", folder / "Centro.XML", folder / "ResultadoOrlavisCentro.XML"},
        {"accented name", folder / fs::path(u8"curso 2013 año.xml"), folder / fs::path(u8"ResultadoOrlaviscurso 2013 año.xml")},
        {"an earlier output", folder / "ResultadoOrlaviscentro.xml", folder / "ResultadoOrlavisResultadoOrlaviscentro.xml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExportOutputPath(c.chosen), c.expected);
    }
}

// A moment given in local time, as the date stamp shows it.
std::chrono::system_clock::time_point LocalMoment(int year, int month, int day, int hour, int minute, int second)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

TEST(ExportDateStampTest, PlainFormIsDayMonthYearAndTwentyFourHourTime)
{
    std::tm local{};
    local.tm_year = 2013 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 15;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 7;
    EXPECT_EQ(PlainDateTimeText(local), "15/03/2013 09:05:07");
    local.tm_hour = 21;
    local.tm_mday = 1;
    local.tm_mon = 11;
    EXPECT_EQ(PlainDateTimeText(local), "01/12/2013 21:05:07");
}

TEST(ExportDateStampTest, UserFormShowsTheFullYearAndTheTime)
{
    const auto moment = LocalMoment(2013, 3, 15, 9, 5, 7);
    const std::tm local = LocalTime(moment);
    EXPECT_EQ(local.tm_hour, 9);
    EXPECT_EQ(local.tm_mday, 15);
    const std::string text = UserDateTimeText(moment);
    EXPECT_THAT(text, AllOf(HasSubstr("2013"), HasSubstr("05:07")));
}

}  // namespace
}  // namespace pasarela
