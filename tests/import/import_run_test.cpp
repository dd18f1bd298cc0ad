#include "import/import_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dbf/dbf_table.h"
#include "import/import_test_support.h"
#include "os/error.h"
#include "os/file.h"
#include "workfolder/school_record.h"
#include "os/date_stamp.h"
#include "os/environment.h"
#include "test_support.h"

namespace pasarela {
namespace {

class ImportRunTest : public test::ImportTest {
protected:
    // Imports the school and adds an index beside every table, as Orlavi leaves them:
    // the state every failing run must leave exactly as it was.
    std::map<std::string, std::string> ImportSchoolWithIndexes()
    {
        Import(test::SmallSchool());
        for (const std::string& table : ImportedTableNames())
            test::WriteBytes(workDir_ / (std::string(table) + ".MDX"), "index");
        return Snapshot();
    }
};

TEST_F(ImportRunTest, MissingFileIsReportedBeforeAnythingIsTouched)
{
    struct Case {
        const char* name;
        std::filesystem::path file;
    };
    const Case cases[] = {
        {"no file chosen", {}},
        {"a file that does not exist", folder_ / "nada.xml"},
        {"a folder", folder_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImportOptions options;
        options.xmlFile = c.file;
        options.workingDir = workDir_;
        EXPECT_THAT([&] { RunImport(options); }, ThrowsMessage<MissingInputError>(StrEq("No existe archivo")));
        EXPECT_TRUE(std::filesystem::is_empty(workDir_));
    }
}

TEST_F(ImportRunTest, FileThatIsNotASchoolFileLeavesTheTablesUntouched)
{
    struct Case {
        const char* name;
        std::string xml;
        std::string message;
    };
    const Case cases[] = {
        {"another root element", "<?xml version=\"1.0\"?>\n<escuela><aulas/></escuela>\n",
         "no es un archivo de DASTENO: su elemento raíz es 'escuela' y debería ser 'centro'"},
        {"an element left open", "<?xml version=\"1.0\"?>\n<centro>\n  <aulas>\n</centro>\n",
         "no es un XML válido (línea 4, columna 3)"},
        {"an attribute without quotes", "<centro>\n<aulas>\n  <daula codigo=A1/>\n</aulas>\n</centro>\n",
         "no es un XML válido (línea 3, columna 17)"},
        {"an empty file", "", "no es un XML válido (línea 1, columna 1)"},
    };
    const auto before = ImportSchoolWithIndexes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto options = OptionsFor(c.xml);
        EXPECT_THAT([&] { RunImport(options); }, ThrowsMessage<Error>(HasSubstr(c.message)));
        EXPECT_EQ(Snapshot(), before);
    }
}

TEST_F(ImportRunTest, FileWithoutAnySectionHasNothingToImportAndLeavesTheTablesUntouched)
{
    struct Case {
        const char* name;
        std::string xml;
        std::string after;  // what the message says after naming the six sections
    };
    const std::string nothing = ": no hay nada que importar.";
    const std::string untouched = " No se ha cambiado ninguna tabla";
    const Case cases[] = {
        {"the export's own result",
         R"(<?xml version="1.0" encoding="UTF-8"?>
<centro codigo_interno="41000001" nombre="IES Ejemplo" curso="2013" version="1.0">
<solucion_horario><dsolucion casig="901" cgrupo="7001" cprofe="501" caula="" cactiv="950" dia="1" hora="1" sesiones="1" idcurso="301"/></solucion_horario>
</centro>
)",
         nothing + " Tiene un horario (solucion_horario): parece el resultado de una exportación "
                   "(ResultadoOrlavis...), no el archivo exportado por DASTENO." + untouched},
        {"a root alone", "<centro/>", nothing + untouched},
        {"other elements only", SchoolXml("<departamentos><departamento codigo=\"MAT\"/></departamentos>\n"),
         nothing + untouched},
        {"sections below another element", SchoolXml("<datos><aulas><daula codigo=\"A1\"/></aulas></datos>\n"),
         nothing + untouched},
    };
    const auto before = ImportSchoolWithIndexes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto options = OptionsFor(c.xml);
        EXPECT_THAT([&] { RunImport(options); },
                    ThrowsMessage<Error>(StrEq("El archivo '" + DisplayPath(options.xmlFile) +
                                               "' no tiene ninguna de las secciones con los datos del centro "
                                               "(materias, profesores, aulas, grupos, franjashorarias, asignaturas)" +
                                               c.after)));
        EXPECT_EQ(Snapshot(), before);
        EXPECT_FALSE(std::filesystem::exists(workDir_ / ".pasarela-import"));
    }
}

TEST_F(ImportRunTest, FailingStepLeavesAllSixTablesByteIdentical)
{
    struct Case {
        const char* name;
        test::SmallSchoolValues values;
        std::string message;
    };
    const Case cases[] = {
        {"a capacity with a fraction", {.capacity = "12.5"},
         "daula nº 2 (codigo='LAB', idaula='9002'): '12.5' is not a valid integer value for field 'MAXALUM'"},
        {"a one-digit hour", {.start = "8:30"}, "'8:' is not a valid integer value"},
        {"hours that are not a number", {.hours = "dos"}, "'dos' is not a valid floating point value"},
    };
    const auto before = ImportSchoolWithIndexes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto options = OptionsFor(test::SmallSchool(c.values));
        EXPECT_THAT([&] { RunImport(options); }, ThrowsMessage<Error>(HasSubstr(c.message)));
        EXPECT_EQ(Snapshot(), before);
    }
}

TEST_F(ImportRunTest, TableInUseLeavesAllSixTablesByteIdentical)
{
    struct Case {
        const char* name;
        const char* table;
        bool openAsTable;  // else as a plain file
    };
    const Case cases[] = {
        {"the first table replaced, held as a table", "ASIGNOMT", true},
        {"the last table replaced, held as a file", "ASIGT", false},
    };
    const auto before = ImportSchoolWithIndexes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<DbfTable> heldTable;
        File heldFile;
        if (c.openAsTable)
            heldTable.emplace(DbfTable::Open(TablePath(c.table)));
        else
            heldFile = File::Open(TablePath(c.table), File::Mode::Read);

        const auto options = OptionsFor(test::SmallSchool({.teacher = "NEW"}));
        EXPECT_THAT([&] { RunImport(options); },
                    ThrowsMessage<Error>(AllOf(HasSubstr(std::string(c.table) + ".DBF"),
                                               HasSubstr("está en uso por otro programa"))));
        heldTable.reset();
        heldFile.Close();
        EXPECT_EQ(Snapshot(), before);
    }

    SCOPED_TRACE("once released, the same import goes through");
    Import(test::SmallSchool({.teacher = "NEW"}));
    EXPECT_EQ(ReadColumn("PROFT", "ABREV"), (std::vector<std::string>{"ARG", "NEW"}));
}

TEST_F(ImportRunTest, MissingWorkingFolderIsAnError)
{
    ImportOptions options = OptionsFor(test::SmallSchool());
    options.workingDir = folder_ / "NOHAY";
    EXPECT_THAT([&] { RunImport(options); },
                ThrowsMessage<Error>(HasSubstr("No existe la carpeta de trabajo de Orlavi")));
    EXPECT_FALSE(std::filesystem::exists(options.workingDir));
}

TEST_F(ImportRunTest, SecondImportRunningInTheSameFolderIsRefused)
{
    const auto before = ImportSchoolWithIndexes();
    std::filesystem::create_directories(workDir_ / ".pasarela-import");
    File lock = File::Open(workDir_ / ".pasarela-import" / "LOCK", File::Mode::Create);

    const auto options = OptionsFor(test::SmallSchool());
    EXPECT_THAT([&] { RunImport(options); },
                ThrowsMessage<Error>(HasSubstr("Ya hay otra importación en curso en")));
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(ImportRunTest, CheckOnlyReportsAndChangesNothing)
{
    ImportOptions options = OptionsFor(test::SmallSchool());
    options.checkOnly = true;
    RunReport report = RunImport(options);
    EXPECT_EQ(report.Rows("PROFT"), 2u);
    EXPECT_TRUE(Snapshot().empty());

    const auto before = ImportSchoolWithIndexes();
    options = OptionsFor(test::SmallSchool({.teacher = "ARG"}));
    options.checkOnly = true;
    report = RunImport(options);
    EXPECT_EQ(report.Count("PROFT", "código repetido o largo: se usa otro"), 1u);
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(ImportRunTest, SuccessfulImportRemovesOldIndexesButThatOfTheTimeSlots)
{
    ImportSchoolWithIndexes();
    Import(test::SmallSchool());

    std::vector<std::string> files;
    for (const auto& [name, bytes] : Snapshot())
        files.push_back(name);
    EXPECT_EQ(files, (std::vector<std::string>{"ASIGNOMT.DBF", "ASIGT.DBF", "AULAT.DBF", "DIASHORAST.DBF",
                                               "DIASHORAST.MDX", "GRUPOST.DBF", "PASARELA-CENTRO.TXT", "PROFT.DBF"}));
}

TEST_F(ImportRunTest, SameFileTwiceGivesTheSameTables)
{
    Import(test::SmallSchool());
    std::map<std::string, Rows> first;
    for (const std::string& table : ImportedTableNames())
        first[table] = ReadTable(table);

    Import(test::SmallSchool());
    for (const std::string& table : ImportedTableNames()) {
        SCOPED_TRACE(table);
        EXPECT_FALSE(first[table].empty());
        EXPECT_EQ(ReadTable(table), first[table]);
    }
}

TEST_F(ImportRunTest, RootWithADefaultNamespaceIsReadByElementName)
{
    // DASTENO files are read by element name: a default namespace changes no name.
    Import(test::SmallSchool());
    std::map<std::string, Rows> plain;
    for (const std::string& table : ImportedTableNames())
        plain[table] = ReadTable(table);

    std::string withNamespace = test::SmallSchool();
    const std::string root = "<centro ";
    withNamespace.replace(withNamespace.find(root), root.size(), "<centro xmlns=\"urn:dasteno:centro\" ");
    Import(withNamespace);
    for (const std::string& table : ImportedTableNames()) {
        SCOPED_TRACE(table);
        EXPECT_EQ(ReadTable(table), plain[table]);
    }

    // A prefix is part of the element's name, which is then not centro.
    const auto options = OptionsFor("<d:centro xmlns:d=\"urn:dasteno:centro\"><d:aulas/></d:centro>");
    EXPECT_THAT([&] { RunImport(options); },
                ThrowsMessage<Error>(HasSubstr("su elemento raíz es 'd:centro' y debería ser 'centro'")));
}

TEST_F(ImportRunTest, CodesAreMadeUniqueOnTheirStoredForm)
{
    // Ω and Ψ are both stored as '?' in Windows-1252: as codes they are the same code.
    struct Case {
        const char* table;
        const char* field;
        std::string xml;
        std::vector<std::string> stored;
        std::string notice;  // the line the report gives for the second entry
    };
    const Case cases[] = {
        {"ASIGNOMT", "COD",
         SchoolXml("<materias>\n" +
                   EntryXml("dmateria", {{"codigo", "Ω"}, {"nombre", "Omega"}, {"codigo_actividad", "L"},
                                         {"idmateria", "1"}}) +
                   EntryXml("dmateria", {{"codigo", "Ψ"}, {"nombre", "Psi"}, {"codigo_actividad", "L"},
                                         {"idmateria", "2"}}) +
                   "</materias>\n"),
         {"?"},
         "código ya usado por otra materia: entrada sin fila | materia nº 2: Ψ «Psi» (identificador 2) -> 'Ψ'"},
        {"PROFT", "ABREV", test::SectionWithCodes("profesores", "profesor", "idprofesor", {"Ω", "Ψ"}),
         {"?", "?1"}, "código repetido o largo: se usa otro | profesor nº 2: Ψ (identificador 2) -> 'Ψ1'"},
        {"AULAT", "ABREV", test::SectionWithCodes("aulas", "daula", "idaula", {"Ω", "Ψ"}), {"?", "?1"},
         "código vacío, repetido o largo: se usa otro | aula nº 2: Ψ (identificador 2) -> 'Ψ1'"},
        {"GRUPOST", "ABREV", test::SectionWithCodes("grupos", "dgrupo", "idgrupo", {"Ω", "Ψ"}), {"?", "?1"},
         "código repetido o largo: se usa otro | grupo nº 2: Ψ (identificador 2) -> 'Ψ1'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        const RunReport report = Import(c.xml);
        EXPECT_EQ(ReadColumn(c.table, c.field), c.stored);
        EXPECT_THAT(NoticeLines(report, c.table), ::testing::Contains(c.notice));
    }
}

// Each table with its fields as Orlavi reads them: name, type letter and length.
struct TableLayout {
    const char* table;
    std::vector<std::string> fields;
};

const TableLayout kLayouts[] = {
    {"ASIGNOMT", {"COD C10", "CODLARGO C10", "NOMBRE C80", "CODTAREA C10", "ESTAREA L1", "IDASIG C10"}},
    {"PROFT", {"ABREV C10", "NOMBRE C80", "DEPART C40", "EMAIL C100", "DNI C14", "IDPROF C10"}},
    {"AULAT", {"ABREV C10", "NOMBRE C80", "EDIFICIO C1", "MAXALUM I4", "IDAULA C20"}},
    {"GRUPOST", {"ABREV C10", "TURNO C1", "NIVEL C5", "CURSO C3", "GRUPO C2", "MARCO C1", "IDGRUPO C10",
                 "IDCURSO C10", "DESCRIP C80", "TUTOR C10"}},
    {"DIASHORAST", {"DIHO C10", "CODDIHO C10", "DIA C20", "TEXTODIA C20", "HORA C8", "TEXTOHOR C15",
                    "HORADESDE C8", "HORAHASTA C8", "MINUTOS C8", "MARCO C1", "MARCOXML C10", "SESION_ORDEN I4",
                    "PLANTILLA C20"}},
    {"ASIGT", {"CASIG C10", "CPROF C10", "CGRUP C10", "CAULA C10", "TURNO C1", "NIVEL C5", "CURSO C3", "GRUPO C2",
               "HORAS O8", "SESIONES C20", "CTAREA C10", "NCONEX C4", "IDCURSO C10", "IDGRUP C10", "IDASIG C10",
               "IDPROF C10"}},
};

TEST_F(ImportRunTest, SectionsWithFewerThanTwoEntriesGiveEmptyTablesWithTheirFields)
{
    const std::string oneEach = test::SchoolXml(R"(
<materias><dmateria codigo="MAT" nombre="Matemáticas" codigo_actividad="LEC" idmateria="901"/></materias>
<profesores><profesor codigo="ARG" idprofesor="501"/></profesores>
<aulas><daula codigo="A1" capacidad_alumnos="30" idaula="9001"/></aulas>
<grupos><dgrupo codigo="1A" idgrupo="7001"/></grupos>
<franjashorarias><franjahoraria dia_semana="1" posicion="1" hora_inicio="08:00" hora_final="08:55"/></franjashorarias>
<asignaturas><dasignatura cgrupo="7001" casig="901" cprofe="501" nhoras="3"/></asignaturas>
)");
    struct Case {
        const char* name;
        std::string xml;
        std::size_t notesPerTable;
    };
    const Case cases[] = {
        {"one entry in every section", oneEach, 1},
        // A file that lacks the other sections still imports: only one with none is refused.
        {"one empty section, the others missing", SchoolXml("<aulas/>\n"), 0},
    };
    Import(test::SmallSchool());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunReport report = Import(c.xml);
        for (const TableLayout& layout : kLayouts) {
            SCOPED_TRACE(layout.table);
            DbfTable table = DbfTable::Open(TablePath(layout.table));
            std::vector<std::string> fields;
            for (const DbfField& field : table.Fields())
                fields.push_back(field.name + " " + field.type + std::to_string(field.length));
            EXPECT_EQ(fields, layout.fields);
            EXPECT_EQ(table.RecordCount(), 0u);
            EXPECT_EQ(report.Count(layout.table, "sección con una sola entrada: la tabla queda vacía"),
                      c.notesPerTable);
        }
    }
}

TEST_F(ImportRunTest, ImportOfAnotherSchoolNamesBothFirstAndTheRecordGoesWithTheTables)
{
    struct Case {
        const char* name;
        test::SmallSchoolValues second;
        bool recordBefore;  // false: tables written before the record existed
        std::vector<std::string> headlines;
    };
    const std::string first = "41000001 (IES Ejemplo, 2013)";
    const Case cases[] = {
        {"another school", {.schoolCode = "29000002", .schoolName = "IES Otro"}, true,
         {"ATENCIÓN: las tablas que había eran del centro " + first +
          " y ahora son del centro 29000002 (IES Otro, 2013). Si no era lo que quería, «Deshacer» (o pasarela-cli "
          "restore) vuelve a poner las del centro " + first + "."}},
        {"the same school", {.teacher = "OTRO"}, true, {}},
        {"the same school, its name written otherwise", {.schoolName = "I.E.S. Ejemplo"}, true, {}},
        {"tables of unknown school", {.schoolCode = "29000002", .schoolName = "IES Otro"}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(workDir_);
        std::filesystem::create_directory(workDir_);
        Import(test::SmallSchool());
        EXPECT_EQ(RecordedSchool(workDir_), (SchoolIdentity{"41000001", "IES Ejemplo", "2013"}));
        if (!c.recordBefore)
            std::filesystem::remove(workDir_ / kSchoolRecordName);
        const RunReport report = Import(test::SmallSchool(c.second));
        EXPECT_EQ(report.Headlines(), c.headlines);
        if (!c.headlines.empty()) {
            EXPECT_THAT(report.Summary(), StartsWith(c.headlines.front() + "\n\n"));
        }
        const SchoolIdentity now{c.second.schoolCode, c.second.schoolName, "2013"};
        EXPECT_EQ(RecordedSchool(workDir_), now);
        ASSERT_TRUE(report.TablesInFolder());
        EXPECT_EQ(report.TablesInFolder()->school, now);
        const auto record = ReadSchoolRecord(workDir_);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->file, folder_ / "dasteno.xml");
        EXPECT_EQ(report.TablesInFolder()->dateTime, UserDateTimeText(record->importedAt));
    }
}

TEST_F(ImportRunTest, CheckOfAnotherSchoolsFileSaysSoAndChangesNothing)
{
    Import(test::SmallSchool());
    const auto before = Snapshot();
    ImportOptions options = OptionsFor(test::SmallSchool({.schoolCode = "29000002", .schoolName = "IES Otro"}));
    options.checkOnly = true;
    EXPECT_THAT(RunImport(options).Headlines(),
                ElementsAre("ATENCIÓN: las tablas de la carpeta de trabajo son del centro 41000001 (IES Ejemplo, "
                            "2013), y este archivo es del centro 29000002 (IES Otro, 2013). Importarlo pondría las "
                            "tablas de otro centro en su lugar."));
    EXPECT_EQ(Snapshot(), before);
}

TEST(SchoolRecordTest, TextGivesTheRecordBackAndAValueNeverBreaksALine)
{
    const SchoolRecord record{{"41000001", "IES \"Ejemplo\"\nde noche", "2013/2014"},
                              std::chrono::system_clock::time_point(std::chrono::seconds(1363334707)),
                              PathFromUtf8("/datos/Núñez.xml")};
    const auto folder = std::filesystem::temp_directory_path() / "pasarela-registro-centro";
    std::filesystem::create_directories(folder);
    test::WriteBytes(folder / kSchoolRecordName, SchoolRecordText(record));
    const auto read = ReadSchoolRecord(folder);
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->school, (SchoolIdentity{"41000001", "IES \"Ejemplo\" de noche", "2013/2014"}));
    EXPECT_EQ(read->importedAt, record.importedAt);
    EXPECT_EQ(read->file, record.file);
    EXPECT_EQ(ReadSchoolRecord(folder), std::nullopt);
    EXPECT_EQ(SchoolText(std::nullopt), "desconocido");
}

}  // namespace
}  // namespace pasarela
