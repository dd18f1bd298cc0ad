#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/cli_runner.h"
#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "import/import_run.h"
#include "os/environment.h"
#include "test_support.h"
#include "xml/xml_reader.h"
#include "xml/xml_test_support.h"

// pasarela-cli run as a script runs it: the built program, started through the system's
// command processor (cmd.exe under Wine), on the example school.
namespace pasarela {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;


std::string WithCrLf(const std::string& text)
{
    std::string crlf;
    for (char c : text) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    return crlf;
}

class CliEndToEndTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        const std::optional<std::string> cli = GetEnvironment("PASARELA_CLI");
        const std::optional<std::string> source = GetEnvironment("PASARELA_SOURCE_DIR");
        if (!cli || cli->empty() || !source || source->empty())
            GTEST_SKIP() << "PASARELA_CLI (the pasarela-cli program) and PASARELA_SOURCE_DIR (the source tree) "
                            "are not set; ctest sets them";
        sourceDir_ = PathFromUtf8(*source);
        TempFolderTest::SetUp();
        workDir_ = folder_ / "VTEMP";
        dataDir_ = folder_ / "datos";
        fs::create_directory(workDir_);
        fs::create_directory(dataDir_);
        example_ = dataDir_ / "centro.xml";
        fs::copy_file(sourceDir_ / "examples" / "centro.xml", example_);
    }

    test::CliResult RunCli(const std::vector<std::string>& args) const { return test::RunCliProgram(args, folder_); }

    fs::path TablePath(const std::string& table) const { return workDir_ / (table + ".DBF"); }

    void ImportExample() const
    {
        const test::CliResult outcome = RunCli({"import", example_.string(), "--vtemp", workDir_.string()});
        ASSERT_EQ(outcome.status, 0) << outcome.errors;
    }

    // The bytes of the six tables an import writes.
    std::map<std::string, std::string> TableBytes() const
    {
        std::map<std::string, std::string> bytes;
        for (const std::string& table : ImportedTableNames())
            bytes[table] = ReadFileBytes(TablePath(table));
        return bytes;
    }

    // The example with one piece of text replaced, as a new file beside it.
    fs::path SpoiledExample(const std::string& from, const std::string& to) const
    {
        std::string xml = ReadFileBytes(example_);
        const std::size_t at = xml.find(from);
        EXPECT_NE(at, std::string::npos) << "the example has no " << from;
        if (at != std::string::npos)
            xml.replace(at, from.size(), to);
        const fs::path spoiled = dataDir_ / "modificado.xml";
        WriteFileBytes(spoiled, xml);
        return spoiled;
    }

    fs::path sourceDir_;
    fs::path workDir_;
    fs::path dataDir_;
    fs::path example_;
};

TEST_F(CliEndToEndTest, ImportOfTheExampleGivesTheGoldenTables)
{
    const test::CliResult outcome = RunCli({"import", example_.string(), "--vtemp", workDir_.string()});
    ASSERT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_THAT(outcome.output, HasSubstr("Proceso finalizado"));
    EXPECT_THAT(outcome.errors, IsEmpty());

    std::vector<std::string> tables;
    for (const auto& item : fs::directory_iterator(workDir_))
        if (item.is_regular_file())
            tables.push_back(item.path().filename().string());
    std::sort(tables.begin(), tables.end());
    EXPECT_THAT(tables, ElementsAre("ASIGNOMT.DBF", "ASIGT.DBF", "AULAT.DBF", "DIASHORAST.DBF", "GRUPOST.DBF",
                                    "PASARELA-CENTRO.TXT", "PROFT.DBF"));

    for (const std::string& table : ImportedTableNames()) {
        SCOPED_TRACE(table);
        const test::CliResult dump = RunCli({"dump", TablePath(table).string()});
        ASSERT_EQ(dump.status, 0) << dump.errors;
        // Made by `pasarela-cli dump` after importing examples/centro.xml, with CRs removed;
        // remade the same way when the import changes a table on purpose.
        const fs::path golden = sourceDir_ / "tests" / "app" / "golden" / (std::string(table) + ".csv");
        EXPECT_EQ(dump.output, test::WithoutCarriageReturns(ReadFileBytes(golden)));
        // CSV lines end in CR LF on every platform (a Windows console stream in text mode
        // would make them CR CR LF).
        EXPECT_EQ(dump.outputBytes, WithCrLf(dump.output));
    }
}

TEST_F(CliEndToEndTest, ExportWritesTheTimetableBesideTheChosenFile)
{
    ImportExample();
    const FieldSpec fields[] = {
        {"DIA", FieldKind::Integer, 0},         {"HORA", FieldKind::Float, 0},
        {"SESIONES", FieldKind::Integer, 0},    {"CODGRUPO", FieldKind::Character, 10},
        {"ASIG", FieldKind::Character, 10},     {"TAREA", FieldKind::Character, 10},
        {"PROF", FieldKind::Character, 10},     {"AULA", FieldKind::Character, 10},
    };
    // DIA, HORA, SESIONES, CODGRUPO, ASIG, TAREA, PROF, AULA
    const std::vector<std::vector<std::string>> solution = {
        {"1", "1", "1", "1ESOA", "MAT", "LECT", "mgr1", "A101"},
        {"1", "2", "1", "2BACH-CI-A", "MAT2B", "LECT", "ACB", "LABFQ"},
        {"0", "3", "1", "1ESOA", "MAT", "LECT", "MGR", "A101"},
        {"2", "4", "1", "", "GUARDIA", "GUAR", "KOB", ""},
        {"3", "5", "1", "1ESOB", "NOHAY", "LECT", "MGR", "A101"},
        {"5", "6", "2", "4ESOB", "TUT", "TUTO", "XYZ", "Bibl"},
    };
    DbfTable::Create(workDir_ / "SOLUC.DBF", fields);
    {
        DbfTable table = DbfTable::Open(workDir_ / "SOLUC.DBF", test::ReadWrite());
        for (const auto& row : solution) {
            table.Append();
            for (std::size_t i = 0; i < row.size(); ++i)
                table.SetString(i, row[i]);
            table.Post();
        }
        table.Close();
    }

    const test::CliResult outcome = RunCli({"export", example_.string(), "--vtemp", workDir_.string()});
    ASSERT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_THAT(outcome.output, AllOf(HasSubstr("dsolucion: 4 filas\n"), HasSubstr("ResultadoOrlaviscentro.xml"),
                                   HasSubstr("Proceso finalizado\n")));
    EXPECT_THAT(outcome.errors, IsEmpty());

    const fs::path output = dataDir_ / "ResultadoOrlaviscentro.xml";
    EXPECT_THAT(ReadFileBytes(output), StartsWith("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!-- Centro inventado"));
    const test::TestXmlFile document = test::TestXmlFile::Load(output);
    const std::optional<test::TestXmlElement> root = document.Root();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Attribute("codigo_interno"), "99990001");
    EXPECT_EQ(root->Attribute("nombre"), "IES Valle del Ejemplo");
    EXPECT_EQ(root->Attribute("localidad"), std::nullopt);
    EXPECT_THAT(std::string(root->Attribute("fecha_exportacion").value_or("")), Not(IsEmpty()));
    EXPECT_TRUE(document.SelectElements("/centro/materias").empty());

    std::vector<std::string> rows;
    for (const test::TestXmlElement& row : document.SelectElements("/centro/solucion_horario/dsolucion")) {
        std::string text;
        for (const char* name : {"casig", "cgrupo", "cprofe", "caula", "cactiv", "dia", "hora", "sesiones", "idcurso"})
            text += std::string(name) + "=" + std::string(row.Attribute(name).value_or("<ausente>")) + " ";
        rows.push_back(text);
    }
    EXPECT_THAT(rows, ElementsAre(
        "casig=5111 cgrupo=7001 cprofe=4402 caula=8801 cactiv=5101 dia=1 hora=1 sesiones=1 idcurso=301 ",
        "casig=5139 cgrupo=7011 cprofe=4414 caula=8807 cactiv=5101 dia=1 hora=2 sesiones=1 idcurso=306 ",
        "casig=5102 cgrupo= cprofe=4421 caula= cactiv=5102 dia=2 hora=4 sesiones=1 idcurso= ",
        "casig=5129 cgrupo=7008 cprofe= caula=8815 cactiv=TUTO dia=5 hora=6 sesiones=2 idcurso=304 "));
}

TEST_F(CliEndToEndTest, FailingImportLeavesTheTablesAsTheyWere)
{
    ImportExample();
    const auto before = TableBytes();
    struct Case {
        const char* name;
        std::string from, to;  // the change to the example
        const char* table;     // a table held open meanwhile, or null
        std::string message;
    };
    const Case cases[] = {
        {"a capacity that is not a number", "capacidad_alumnos=\"30\"", "capacidad_alumnos=\"treinta\"", nullptr,
         "daula nº 1 (codigo='A101', idaula='8801'): 'treinta'"},
        {"a time without its leading zero", "hora_inicio=\"08:30\"", "hora_inicio=\"8:30\"", nullptr,
         "franjahoraria nº 1 (dia_semana='1', posicion='1'): '8:'"},
        {"hours that are not a number", "nhoras=\"4\"", "nhoras=\"cuatro\"", nullptr,
         "dasignatura nº 1 (cgrupo='7001', casig='5110', cprofe='4401'): 'cuatro'"},
        {"a table in use", "idprofesor=\"4401\"", "idprofesor=\"4499\"", "PROFT", "en uso"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path spoiled = SpoiledExample(c.from, c.to);
        std::optional<DbfTable> held;
        if (c.table != nullptr)
            held.emplace(DbfTable::Open(TablePath(c.table)));
        const test::CliResult outcome = RunCli({"import", spoiled.string(), "--vtemp", workDir_.string()});
        held.reset();
        EXPECT_EQ(outcome.status, 1);
        EXPECT_THAT(outcome.errors, AllOf(StartsWith("pasarela-cli: error: "), HasSubstr(c.message)));
        EXPECT_THAT(outcome.output, Not(HasSubstr("Proceso finalizado")));
        EXPECT_EQ(TableBytes(), before);
    }
}

TEST_F(CliEndToEndTest, CheckChangesNoTable)
{
    ImportExample();
    const auto before = TableBytes();
    const test::CliResult good = RunCli({"import", SpoiledExample("idprofesor=\"4401\"", "idprofesor=\"4499\"").string(),
                                 "--vtemp", workDir_.string(), "--check"});
    EXPECT_EQ(good.status, 0) << good.errors;
    // One teacher's identifier changed: the same code, another row.
    EXPECT_THAT(good.output,
                HasSubstr("PROFT: 23 filas (frente a la tabla que había: 0 nuevas, 0 que faltan, 1 cambiada)\n"));
    EXPECT_EQ(TableBytes(), before);

    const test::CliResult bad = RunCli({"import", SpoiledExample("nhoras=\"4\"", "nhoras=\"cuatro\"").string(), "--vtemp",
                                workDir_.string(), "--check"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_THAT(bad.errors, HasSubstr("cuatro"));
    EXPECT_EQ(TableBytes(), before);
}

TEST_F(CliEndToEndTest, MissingFileExitsWithTwo)
{
    struct Case {
        const char* command;
        std::string message;
    };
    const Case cases[] = {{"import", "No existe archivo"}, {"export", "No existe archivo XML o Soluci"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const test::CliResult outcome = RunCli({c.command, (dataDir_ / "nada.xml").string(), "--vtemp", workDir_.string()});
        EXPECT_EQ(outcome.status, 2);
        EXPECT_THAT(outcome.errors, StartsWith(c.message));
        EXPECT_THAT(outcome.output, IsEmpty());
    }
    EXPECT_TRUE(fs::is_empty(workDir_));
}

}  // namespace
}  // namespace pasarela
