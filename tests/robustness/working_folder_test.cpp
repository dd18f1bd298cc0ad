#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "export/export_run.h"
#include "import/import_run.h"
#include "os/error.h"
#include "os/file.h"
#include "robustness/robustness_test_support.h"
#include "test_support.h"

namespace pasarela {
namespace {

using test::ScopedMount;

// Orlavi's folder or the user's folder missing, read only or full: the run stops with a
// message that says which and why, and every table and earlier output stays as it was.
class WorkingFolderTest : public test::ImportTest {
protected:
    // The example-sized school every test starts from, and the timetable of it.
    static constexpr int kEntries = 5;

    void ImportFirstSchool() { Import(test::GeneratedSchool(kEntries, "primero")); }

    ExportOptions ExportOptionsFor(const std::filesystem::path& xml) const
    {
        ExportOptions options;
        options.xmlFile = xml;
        options.workingDir = workDir_;
        options.formatDate = [](std::chrono::system_clock::time_point) { return "05/10/2026 09:30:00"; };
        return options;
    }

    std::string ImportError(const ImportOptions& options) const
    {
        try {
            RunImport(options);
        } catch (const Error& e) {
            return e.what();
        }
        return "<no error>";
    }

    std::string ExportError(const ExportOptions& options) const
    {
        try {
            RunExport(options);
        } catch (const Error& e) {
            return e.what();
        }
        return "<no error>";
    }
};

TEST_F(WorkingFolderTest, MissingWorkingFolderIsNamedAndNotCreated)
{
    const auto missing = folder_ / "NOEXISTE";
    ImportOptions import = OptionsFor(test::GeneratedSchool(kEntries, "x"));
    import.workingDir = missing;
    EXPECT_EQ(ImportError(import), "No existe la carpeta de trabajo de Orlavi '" + DisplayPath(missing) + "'");

    ExportOptions exportOptions = ExportOptionsFor(import.xmlFile);
    exportOptions.workingDir = missing;
    // Orlavi's own words when its timetable is not there.
    EXPECT_THROW(RunExport(exportOptions), MissingInputError);
    EXPECT_EQ(ExportError(exportOptions), "No existe archivo XML o Solución.");

    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists(ExportOutputPath(import.xmlFile)));
}

TEST_F(WorkingFolderTest, ReadOnlyWorkingFolderStopsTheImportAndStillAllowsTheExport)
{
    ImportFirstSchool();
    test::WriteSolution(workDir_ / "SOLUC.DBF", 50, kEntries);
    struct Case {
        std::string name;
        bool stagingFolderLeft;  // an import stopped by a crash left its folder and lock file
        std::string message;
    };
    const Case cases[] = {
        {"after an interrupted import", true,
         "No hay permiso para abrir el archivo '" + DisplayPath(workDir_ / ".pasarela-import" / "LOCK") + "'"},
        {"before any import", false,
         "No hay permiso para escribir en la carpeta de trabajo de Orlavi '" + DisplayPath(workDir_) + "'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(workDir_ / ".pasarela-import");
        if (c.stagingFolderLeft) {
            std::filesystem::create_directory(workDir_ / ".pasarela-import");
            test::WriteBytes(workDir_ / ".pasarela-import" / "LOCK", "");
        }
        const auto before = test::TreeListing(workDir_);
        const auto tables = Snapshot();
        std::string whyNot;
        std::optional<ScopedMount> readOnly =
            ScopedMount::Mount(workDir_, ScopedMount::Kind::ReadOnlyBind, 0, whyNot);
        if (!readOnly)
            GTEST_SKIP() << whyNot;

        ImportOptions second;
        second.xmlFile = WriteXml(test::GeneratedSchool(kEntries + 3, "segundo"), "segundo.xml");
        second.workingDir = workDir_;
        EXPECT_EQ(ImportError(second), c.message);
        EXPECT_EQ(test::TreeListing(workDir_), before);
        EXPECT_EQ(Snapshot(), tables);

        // The export only reads Orlavi's folder and writes beside the DASTENO file.
        const ExportResult result = RunExport(ExportOptionsFor(folder_ / "dasteno.xml"));
        EXPECT_THAT(test::ReadBytes(result.outputFile), HasSubstr("<dsolucion "));
        std::filesystem::remove(result.outputFile);
    }
}

TEST_F(WorkingFolderTest, FullDiskStopsTheImportWithTheEarlierTablesIntact)
{
    std::string whyNot;
    // Room for a small school's tables and the copies an import builds of them, not for a
    // school of a thousand teachers.
    std::optional<ScopedMount> small = ScopedMount::Mount(workDir_, ScopedMount::Kind::SmallTmpfs, 128, whyNot);
    if (!small)
        GTEST_SKIP() << whyNot;
    ImportFirstSchool();
    const auto tables = Snapshot();

    const std::string message = ImportError(OptionsFor(test::GeneratedSchool(1000, "grande")));
    EXPECT_THAT(message, AllOf(HasSubstr(DisplayPath(workDir_ / ".pasarela-import")), HasSubstr("el disco está lleno")));
    EXPECT_EQ(Snapshot(), tables);
    EXPECT_THAT(test::Leftovers(workDir_), IsEmpty());

    // Space once freed, the same folder takes an import again.
    Import(test::GeneratedSchool(kEntries + 1, "tercero"));
    EXPECT_EQ(ReadColumn("PROFT", "ABREV").size(), static_cast<std::size_t>(kEntries + 1));
}

TEST_F(WorkingFolderTest, FullOrReadOnlyOutputFolderStopsTheExportAndKeepsTheEarlierOutput)
{
    ImportFirstSchool();
    test::WriteSolution(workDir_ / "SOLUC.DBF", 5000, kEntries);
    const auto tables = Snapshot();
    struct Case {
        std::string name;
        ScopedMount::Kind kind;
        std::string reason;
    };
    const Case cases[] = {
        {"full", ScopedMount::Kind::SmallTmpfs, "el disco está lleno"},
        {"read only", ScopedMount::Kind::ReadOnlyBind, "No hay permiso"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = folder_ / ("salida " + c.name);
        std::filesystem::create_directory(folder);
        const auto xml = folder / "dasteno.xml";
        const auto output = ExportOutputPath(xml);
        const auto populate = [&] {
            std::filesystem::copy_file(folder_ / "dasteno.xml", xml);
            test::WriteBytes(output, "la exportación anterior");
        };
        // A read-only mount shows what the folder held; a new tmpfs starts empty.
        if (c.kind == ScopedMount::Kind::ReadOnlyBind)
            populate();
        std::string whyNot;
        std::optional<ScopedMount> mount = ScopedMount::Mount(folder, c.kind, 64, whyNot);
        if (!mount)
            GTEST_SKIP() << whyNot;
        if (c.kind == ScopedMount::Kind::SmallTmpfs)
            populate();
        const auto before = test::TreeListing(folder);

        EXPECT_THAT(ExportError(ExportOptionsFor(xml)), AllOf(HasSubstr(DisplayPath(folder)), HasSubstr(c.reason)));
        EXPECT_EQ(test::ReadBytes(output), "la exportación anterior");
        EXPECT_EQ(test::TreeListing(folder), before);
        EXPECT_EQ(Snapshot(), tables);
    }
}

TEST_F(WorkingFolderTest, TimetableCutShortOrMisstatedIsRefusedAndNothingIsSaved)
{
    ImportFirstSchool();
    const auto solution = workDir_ / "SOLUC.DBF";
    test::WriteSolution(solution, 5000, kEntries);
    const std::string whole = test::ReadBytes(solution);
    const std::size_t headerLength = static_cast<unsigned char>(whole[8]) | static_cast<unsigned char>(whole[9]) << 8;
    const std::size_t recordLength = static_cast<unsigned char>(whole[10]) | static_cast<unsigned char>(whole[11]) << 8;
    struct Case {
        std::string name;
        std::string bytes;
        std::string why;
    };
    std::string longRecords = whole;
    longRecords[10] = longRecords[11] = '\xFF';
    const Case cases[] = {
        {"a copy cut at half its records", whole.substr(0, headerLength + 2497 * recordLength + 20),
         "la cabecera anuncia 5000 registros de " + std::to_string(recordLength) +
             " bytes y el archivo solo contiene 2497 completos: está incompleto"},
        {"record length 65535", longRecords,
         "la cabecera anuncia 5000 registros de 65535 bytes y el archivo solo contiene " +
             std::to_string((whole.size() - headerLength) / 65535) +
             " completos; la longitud de registro de la cabecera (65535) no coincide con la suma de los campos (" +
             std::to_string(recordLength) + ")"},
    };
    const auto xml = folder_ / "dasteno.xml";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteBytes(solution, c.bytes);
        const std::string message =
            "El archivo '" + DisplayPath(solution) + "' no es una tabla dBase válida: " + c.why;
        EXPECT_EQ(ExportError(ExportOptionsFor(xml)), message);
        EXPECT_FALSE(std::filesystem::exists(ExportOutputPath(xml)));
        // The table viewer says the same rather than show part of the rows.
        const test::CliResult dump = test::CliPath().empty()
                                         ? test::CliResult{}
                                         : test::RunCliProgram({"dump", DisplayPath(solution)}, folder_);
        if (!test::CliPath().empty()) {
            EXPECT_EQ(dump.status, 1);
            EXPECT_EQ(dump.errors, "pasarela-cli: error: " + message + "\n");
            EXPECT_EQ(dump.output, "");
        }
    }
}

TEST_F(WorkingFolderTest, ExportOfAFileWhoseOutputNameIsAsLongAsTheSystemAllowsIsSaved)
{
#ifdef _WIN32
    GTEST_SKIP() << "names of 255 characters pass MAX_PATH with any folder in front on Windows";
#else
    ImportFirstSchool();
    test::WriteSolution(workDir_ / "SOLUC.DBF", 20, kEntries);
    // 226 to 239 characters: "ResultadoOrlavis" makes the output's name 242 to 255 long.
    for (const std::size_t length : {226u, 239u}) {
        SCOPED_TRACE(length);
        const auto xml = folder_ / (std::string(length - 4, 'c') + ".xml");
        std::filesystem::copy_file(folder_ / "dasteno.xml", xml);
        const ExportResult result = RunExport(ExportOptionsFor(xml));
        EXPECT_EQ(result.outputFile.filename().string().size(), length + 16);
        EXPECT_THAT(test::ReadBytes(result.outputFile), HasSubstr("<dsolucion "));
    }
#endif
}

}  // namespace
}  // namespace pasarela
