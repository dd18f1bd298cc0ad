#include "app/cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/version.h"
#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "os/file.h"
#include "test_support.h"

namespace pasarela {
namespace {

struct CliOutput {
    int status = -1;
    std::string out;
    std::string err;
};

CliOutput RunCommand(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    CliOutput result;
    result.status = RunCli(args, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

std::string Utf8(const fs::path& path)
{
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

TEST(CliTest, UsageErrorsExplainAndShowTheUsage)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{}, ""},
        {{"import"}, "pasarela-cli: falta el archivo\n"},
        {{"export", "a.xml", "--vtemp"}, "pasarela-cli: falta el valor de --vtemp\n"},
        {{"import", "a.xml", "--report"}, "pasarela-cli: falta el valor de --report\n"},
        {{"import", "a.xml", "b.xml"}, "pasarela-cli: sobra el argumento b.xml\n"},
        {{"export", "a.xml", "--check"}, "pasarela-cli: opción desconocida: --check\n"},
        {{"dump", "T.DBF", "--vtemp", "dir"}, "pasarela-cli: opción desconocida: --vtemp\n"},
        {{"import", "a.xml", "--json"}, "pasarela-cli: opción desconocida: --json\n"},
        {{"importar", "a.xml"}, "pasarela-cli: orden desconocida: importar\n"},
        {{"frobnicate"}, "pasarela-cli: orden desconocida: frobnicate\n"},
        {{"--vtemp", "dir", "import", "a.xml"}, "pasarela-cli: orden desconocida: --vtemp\n"},
        {{"restore", "a.xml"}, "pasarela-cli: sobra el argumento a.xml\n"},
        {{"restore", "--json"}, "pasarela-cli: opción desconocida: --json\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const CliOutput result = RunCommand(c.args);
        EXPECT_EQ(result.status, kCliUsage);
        EXPECT_THAT(result.out, IsEmpty());
        EXPECT_THAT(result.err, StartsWith(c.message + (c.message.empty() ? "" : "\n") + "Uso:\n"));
        EXPECT_THAT(result.err, HasSubstr("  pasarela-cli dump TABLA.DBF [--json]\n"));
    }
}

TEST(CliTest, HelpAndVersionGoToStandardOutput)
{
    struct Case {
        std::vector<std::string> args;
        std::string start;
    };
    const Case cases[] = {
        {{"--help"}, "Uso:\n  pasarela-cli import ARCHIVO.xml"},
        {{"-h"}, "Uso:\n  pasarela-cli import ARCHIVO.xml"},
        {{"--version"}, "pasarela-cli " PASARELA_VERSION "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const CliOutput result = RunCommand(c.args);
        EXPECT_EQ(result.status, kCliOk);
        EXPECT_THAT(result.out, StartsWith(c.start));
        EXPECT_THAT(result.err, IsEmpty());
    }
    EXPECT_EQ(RunCommand({"--version"}).out, "pasarela-cli " PASARELA_VERSION "\n");
}

class CliFilesTest : public test::TempFolderTest {
protected:
    fs::path Path(const char* name) const { return folder_ / name; }
};

TEST_F(CliFilesTest, MissingInputExitsWithTwo)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"import", Utf8(Path("nada.xml")), "--vtemp", Utf8(Path("VTEMP"))}, "No existe archivo\n"},
        {{"export", Utf8(Path("nada.xml")), "--vtemp", Utf8(Path("VTEMP"))}, "No existe archivo XML o Solución.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const CliOutput result = RunCommand(c.args);
        EXPECT_EQ(result.status, kCliMissingInput);
        EXPECT_THAT(result.out, IsEmpty());
        EXPECT_EQ(result.err, c.message);
    }
}

TEST_F(CliFilesTest, ErrorsExitWithOneAndAreNamed)
{
    test::WriteFileBytes(Path("ROTA.DBF"), "no es una tabla");
    const CliOutput missing = RunCommand({"dump", Utf8(Path("NADA.DBF"))});
    EXPECT_EQ(missing.status, kCliError);
    EXPECT_THAT(missing.err, AllOf(StartsWith("pasarela-cli: error: "), HasSubstr("NADA.DBF"), EndsWith("\n")));
    const CliOutput broken = RunCommand({"dump", Utf8(Path("ROTA.DBF"))});
    EXPECT_EQ(broken.status, kCliError);
    EXPECT_THAT(broken.err, AllOf(StartsWith("pasarela-cli: error: "), HasSubstr("ROTA.DBF")));
    EXPECT_THAT(broken.out, IsEmpty());
}

// A level-7 table as we write it, with a text to quote and empty cells of every kind.
void WriteLevel7Table(const fs::path& path)
{
    const FieldSpec fields[] = {
        {"NOMBRE", FieldKind::Character, 30},
        {"NUM", FieldKind::Integer, 0},
        {"PESO", FieldKind::Float, 0},
        {"ACTIVO", FieldKind::Logical, 0},
    };
    DbfTable::Create(path, fields);
    DbfTable table = DbfTable::Open(path, test::ReadWrite());
    table.Append();
    table.SetString(0, "Ana, \"la de Física\"");
    table.SetInteger(1, 7);
    table.SetFloat(2, 2.5);
    table.SetLogical(3, true);
    table.Post();
    table.Append();
    table.SetString(0, "Luis");
    table.SetLogical(3, false);
    table.Post();
    table.Append();
    table.SetInteger(1, -3);
    table.SetFloat(2, 0.25);
    table.Post();
    table.Close();
}

// A dBase III table with a date, a two-decimal number, an unknown logical and a deleted
// record, laid out byte by byte since we never write that layout.
std::string DBase3Table()
{
    test::DbfBuilder dbf;
    dbf.version = 0x03;
    dbf.fields = {{"NOMBRE", 'C', 10}, {"ALTA", 'D', 8}, {"CUOTA", 'N', 6, 2}, {"SOCIO", 'L', 1}};
    dbf.rows = {
        {' ', {"Ana", "20130315", " 12.50", "T"}},
        {'*', {"Borrada", "20130101", "  1.00", "F"}},
        {' ', {"Luis", "        ", "      ", "?"}},
        {' ', {"Eva", "19991231", "-00.25", "n"}},
    };
    return dbf.Build();
}

TEST_F(CliFilesTest, DumpWritesCsvAndJson)
{
    WriteLevel7Table(Path("NIVEL7.DBF"));
    test::WriteFileBytes(Path("DBASE3.DBF"), DBase3Table());
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string expected;
    };
    const Case cases[] = {
        {"level 7 as CSV",
         {"dump", Utf8(Path("NIVEL7.DBF"))},
         "NOMBRE,NUM,PESO,ACTIVO\r\n"
         "\"Ana, \"\"la de Física\"\"\",7,2.5,T\r\n"
         "Luis,,,F\r\n"
         ",-3,0.25,\r\n"},
        {"level 7 as JSON",
         {"dump", Utf8(Path("NIVEL7.DBF")), "--json"},
         "{\"fields\": [{\"name\": \"NOMBRE\", \"type\": \"C\", \"length\": 30, \"decimals\": 0}, "
         "{\"name\": \"NUM\", \"type\": \"I\", \"length\": 4, \"decimals\": 0}, "
         "{\"name\": \"PESO\", \"type\": \"O\", \"length\": 8, \"decimals\": 0}, "
         "{\"name\": \"ACTIVO\", \"type\": \"L\", \"length\": 1, \"decimals\": 0}], \"records\": [\n"
         "  [\"Ana, \\\"la de Física\\\"\", 7, 2.5, true],\n"
         "  [\"Luis\", null, null, false],\n"
         "  [\"\", -3, 0.25, null]\n"
         "]}\n"},
        {"dBase III as CSV",
         {"dump", Utf8(Path("DBASE3.DBF"))},
         "NOMBRE,ALTA,CUOTA,SOCIO\r\n"
         "Ana,2013-03-15,12.5,T\r\n"
         "Luis,,,\r\n"
         "Eva,1999-12-31,-0.25,F\r\n"},
        {"dBase III as JSON",
         {"dump", "--json", Utf8(Path("DBASE3.DBF"))},
         "{\"fields\": [{\"name\": \"NOMBRE\", \"type\": \"C\", \"length\": 10, \"decimals\": 0}, "
         "{\"name\": \"ALTA\", \"type\": \"D\", \"length\": 8, \"decimals\": 0}, "
         "{\"name\": \"CUOTA\", \"type\": \"N\", \"length\": 6, \"decimals\": 2}, "
         "{\"name\": \"SOCIO\", \"type\": \"L\", \"length\": 1, \"decimals\": 0}], \"records\": [\n"
         "  [\"Ana\", \"2013-03-15\", 12.5, true],\n"
         "  [\"Luis\", null, null, null],\n"
         "  [\"Eva\", \"1999-12-31\", -0.25, false]\n"
         "]}\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliOutput result = RunCommand(c.args);
        EXPECT_EQ(result.status, kCliOk) << result.err;
        EXPECT_EQ(result.out, c.expected);
        EXPECT_THAT(result.err, IsEmpty());
    }
}

TEST_F(CliFilesTest, DumpOfATableWithoutRecords)
{
    const FieldSpec fields[] = {{"COD", FieldKind::Character, 10}};
    DbfTable::Create(Path("VACIA.DBF"), fields);
    EXPECT_EQ(RunCommand({"dump", Utf8(Path("VACIA.DBF"))}).out, "COD\r\n");
    EXPECT_EQ(RunCommand({"dump", Utf8(Path("VACIA.DBF")), "--json"}).out,
              "{\"fields\": [{\"name\": \"COD\", \"type\": \"C\", \"length\": 10, \"decimals\": 0}], \"records\": []}\n");
}

// Two entries in a section, so the import writes rows; the other sections are missing.
constexpr char kSmallSchool[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<centro>\n<aulas>\n"
    "<daula codigo=\"A1\" nombre=\"Aula 1\" capacidad_alumnos=\"30\" idaula=\"9001\"/>\n"
    "<daula codigo=\"\" nombre=\"Biblioteca\" capacidad_alumnos=\"40\" idaula=\"9002\"/>\n"
    "</aulas>\n</centro>\n";

TEST_F(CliFilesTest, ImportPrintsTheSummaryAndWritesTheFullReport)
{
    test::WriteFileBytes(Path("centro.xml"), kSmallSchool);
    fs::create_directory(Path("VTEMP"));
    const CliOutput result = RunCommand({"import", Utf8(Path("centro.xml")), "--vtemp", Utf8(Path("VTEMP")), "--report",
                                  Utf8(Path("informe.txt"))});
    ASSERT_EQ(result.status, kCliOk) << result.err;
    EXPECT_THAT(result.err, IsEmpty());
    ASSERT_THAT(result.out,
                AllOf(HasSubstr("AULAT: 2 filas (no había tabla antes)\n"), EndsWith("\nProceso finalizado\n")));
    const std::string summary = result.out.substr(0, result.out.size() - std::string("Proceso finalizado\n").size());
    // The report repeats the summary that was printed, then lists each notice.
    const std::string report = test::ReadFileBytes(Path("informe.txt"));
    EXPECT_THAT(report, AllOf(HasSubstr("\n\nResumen\n" + summary + "\nDetalle\n"), HasSubstr("AULAT | ")));
    EXPECT_THAT(report, StartsWith("Informe de Pasarela\nFecha y hora: "));
    EXPECT_THAT(report, HasSubstr("\nPrograma: pasarela-cli " PASARELA_VERSION "\n"
                                  "Trabajo: importación (de DASTENO a Orlavi)\n"
                                  "Archivo: " + Utf8(Path("centro.xml")) + "\n"
                                  "Carpeta de trabajo: " + Utf8(Path("VTEMP")) + "\n"
                                  "Resultado: Proceso finalizado\n\n"));
    EXPECT_TRUE(fs::exists(Path("VTEMP") / "AULAT.DBF"));
}

TEST_F(CliFilesTest, CheckOnlyChangesNoTable)
{
    test::WriteFileBytes(Path("centro.xml"), kSmallSchool);
    fs::create_directory(Path("VTEMP"));
    const CliOutput result = RunCommand({"import", Utf8(Path("centro.xml")), "--vtemp", Utf8(Path("VTEMP")), "--check"});
    EXPECT_EQ(result.status, kCliOk) << result.err;
    EXPECT_THAT(result.out, AllOf(HasSubstr("AULAT: 2 filas (no había tabla antes)\n"),
                                  EndsWith("\nComprobación terminada: no se ha cambiado ninguna tabla\n")));
    for (const auto& item : fs::directory_iterator(Path("VTEMP")))
        EXPECT_NE(item.path().extension(), ".DBF") << item.path();
}

TEST_F(CliFilesTest, ReportDestinationThatCannotExistIsAUsageErrorBeforeAnythingChanges)
{
    test::WriteFileBytes(Path("centro.xml"), kSmallSchool);
    fs::create_directory(Path("VTEMP"));
    fs::create_directory(Path("informes"));
    struct Case {
        std::string name;
        std::string command;
        std::string report;
        std::string message;
    };
    const Case cases[] = {
        {"import into a missing folder", "import", Utf8(Path("falta") / "informe.txt"),
         "no existe la carpeta del informe '" + Utf8(Path("falta")) + "'"},
        {"export into a missing folder", "export", Utf8(Path("falta") / "informe.txt"),
         "no existe la carpeta del informe '" + Utf8(Path("falta")) + "'"},
        {"a folder as the report", "import", Utf8(Path("informes")),
         "el informe '" + Utf8(Path("informes")) + "' es una carpeta"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliOutput result =
            RunCommand({c.command, Utf8(Path("centro.xml")), "--vtemp", Utf8(Path("VTEMP")), "--report", c.report});
        EXPECT_EQ(result.status, kCliUsage);
        EXPECT_THAT(result.err, StartsWith("pasarela-cli: " + c.message + "\n\nUso:"));
        EXPECT_THAT(result.out, IsEmpty());
        EXPECT_TRUE(fs::is_empty(Path("VTEMP")));
        EXPECT_FALSE(fs::exists(Path("falta")));
    }
}

TEST_F(CliFilesTest, EveryRunWritesTheReportFailedOnesToo)
{
    fs::create_directory(Path("VTEMP"));
    struct Case {
        const char* name;
        std::string command;
        std::vector<std::string> options;
        std::string xml;  // empty: no file at all
        int status;
        std::string part;  // what the report says
    };
    const Case cases[] = {
        {"a check", "import", {"--check"}, kSmallSchool, kCliOk,
         "Trabajo: comprobación del archivo de DASTENO (no cambia ninguna tabla)\n"},
        {"an import that fails", "import", {}, "<centro><aulas>", kCliError,
         "Resultado: Error: El archivo '" + Utf8(Path("centro.xml")) + "' no es un XML válido"},
        {"a missing file", "import", {}, "", kCliMissingInput, "Resultado: No existe archivo\n"},
        {"an export without SOLUC", "export", {}, kSmallSchool, kCliMissingInput,
         "Trabajo: exportación (de Orlavi a DASTENO)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Path("centro.xml"));
        if (!c.xml.empty())
            test::WriteFileBytes(Path("centro.xml"), c.xml);
        test::WriteFileBytes(Path("informe.txt"), "informe de otra ejecución");
        std::vector<std::string> args = {c.command, Utf8(Path("centro.xml")), "--vtemp", Utf8(Path("VTEMP")),
                                         "--report", Utf8(Path("informe.txt"))};
        args.insert(args.end(), c.options.begin(), c.options.end());

        const CliOutput result = RunCommand(args);

        EXPECT_EQ(result.status, c.status) << result.err;
        const std::string report = test::ReadFileBytes(Path("informe.txt"));
        EXPECT_THAT(report, AllOf(StartsWith("Informe de Pasarela\n"), HasSubstr(c.part)));
    }
}

TEST_F(CliFilesTest, ReportThatCannotBeWrittenAfterTheRunIsAWarningAndTheRunSucceeds)
{
    test::WriteFileBytes(Path("centro.xml"), kSmallSchool);
    fs::create_directory(Path("VTEMP"));
    test::WriteFileBytes(Path("informe.txt"), "informe anterior");
    File heldByAnEditor = File::Open(Path("informe.txt"), File::Mode::Read);

    const CliOutput result = RunCommand({"import", Utf8(Path("centro.xml")), "--vtemp", Utf8(Path("VTEMP")), "--report",
                                         Utf8(Path("informe.txt"))});

    EXPECT_EQ(result.status, kCliOk);
    EXPECT_EQ(result.err, "pasarela-cli: aviso: no se pudo escribir el informe: El archivo '" +
                              Utf8(Path("informe.txt")) + "' está en uso por otro programa\n");
    EXPECT_THAT(result.out, EndsWith("\nProceso finalizado\n"));
    EXPECT_TRUE(fs::exists(Path("VTEMP") / "AULAT.DBF"));
    heldByAnEditor.Close();  // Windows lets nobody read it before
    EXPECT_EQ(test::ReadFileBytes(Path("informe.txt")), "informe anterior");
}

TEST_F(CliFilesTest, ReportNamingAFileTheRunReadsOrOwnsIsAUsageErrorAndChangesNothing)
{
    test::WriteFileBytes(Path("centro.xml"), kSmallSchool);
    const fs::path vtemp = Path("VTEMP");
    fs::create_directory(vtemp);
    ASSERT_EQ(RunCommand({"import", Utf8(Path("centro.xml")), "--vtemp", Utf8(vtemp)}).status, kCliOk);
    ASSERT_EQ(RunCommand({"import", Utf8(Path("centro.xml")), "--vtemp", Utf8(vtemp)}).status, kCliOk);
    test::WriteFileBytes(vtemp / "SOLUC.DBF", "el horario");
    test::WriteFileBytes(vtemp / "PROFT.MDX", "un índice");
    // A second kept set, so there is a generation to point into.
    std::string other = kSmallSchool;
    other.replace(other.find("\"A1\""), 4, "\"A9\"");
    test::WriteFileBytes(Path("otro.xml"), other);
    ASSERT_EQ(RunCommand({"import", Utf8(Path("otro.xml")), "--vtemp", Utf8(vtemp)}).status, kCliOk);
    const fs::path generation = vtemp / ".pasarela-guardadas" / "0000000001";
    ASSERT_TRUE(fs::exists(generation / "PROFT.DBF"));

    const auto listing = [&] {
        std::map<std::string, std::string> files;
        for (const auto& item : fs::recursive_directory_iterator(folder_))
            if (item.is_regular_file())
                files[item.path().lexically_relative(folder_).generic_string()] = test::ReadFileBytes(item.path());
        return files;
    };
    struct Case {
        std::string name;
        std::vector<std::string> command;  // before --vtemp and --report
        fs::path report;
        std::string what;
    };
    const std::string xml = Utf8(Path("centro.xml"));
    const Case cases[] = {
        {"the file imported", {"import", xml}, Path("centro.xml"), "el archivo de DASTENO que se importa"},
        {"the file checked", {"import", xml, "--check"}, Path("centro.xml"), "el archivo de DASTENO que se importa"},
        {"a table", {"import", xml}, vtemp / "PROFT.DBF", "un archivo de las tablas de Orlavi"},
        {"a table, in other letters", {"import", xml}, vtemp / "proft.dbf", "un archivo de las tablas de Orlavi"},
        {"an index", {"import", xml}, vtemp / "PROFT.MDX", "un archivo de las tablas de Orlavi"},
        {"the school record", {"import", xml}, vtemp / "PASARELA-CENTRO.TXT", "un archivo de las tablas de Orlavi"},
        {"the timetable", {"export", xml}, vtemp / "SOLUC.DBF", "el horario de Orlavi"},
        {"the file exported", {"export", xml}, Path("centro.xml"), "el archivo de DASTENO que se exporta"},
        {"the export's result", {"export", xml}, Path("ResultadoOrlaviscentro.xml"), "el resultado de la exportación"},
        {"the timetable, by a restore", {"restore"}, vtemp / "SOLUC.DBF", "el horario de Orlavi"},
        {"a file in the staging folder", {"import", xml}, vtemp / ".pasarela-import" / "LOCK",
         "un archivo de la carpeta de trabajo de Pasarela"},
        {"a file in a kept set", {"restore", "--check"}, generation / "PROFT.DBF", "un archivo de las tablas guardadas"},
        {"a new file in a kept set", {"restore"}, generation / "informe.txt", "un archivo de las tablas guardadas"},
    };
    fs::create_directory(vtemp / ".pasarela-import");
    test::WriteFileBytes(vtemp / ".pasarela-import" / "LOCK", "");
    const auto before = listing();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.command;
        args.insert(args.end(), {"--vtemp", Utf8(vtemp), "--report", Utf8(c.report)});
        const CliOutput result = RunCommand(args);
        EXPECT_EQ(result.status, kCliUsage);
        EXPECT_THAT(result.err, StartsWith("pasarela-cli: el informe '" + Utf8(c.report) + "' sería " + c.what));
        EXPECT_THAT(result.err, HasSubstr("que se perdería al escribirlo: elija otro nombre para el informe\n"));
        EXPECT_EQ(listing(), before);
    }
}

}  // namespace
}  // namespace pasarela
