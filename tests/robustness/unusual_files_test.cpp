#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "dbf/dbf_table.h"
#include "export/export_run.h"
#include "import/import_run.h"
#include "import/restore_run.h"
#include "os/error.h"
#include "os/file.h"
#include "robustness/robustness_test_support.h"
#include "test_support.h"
#include "workfolder/file_set.h"
#include "workfolder/kept_set.h"
#include "workfolder/staging_lock.h"

namespace pasarela {
namespace {

using test::ScopedMount;

// What a user's machine may hold where Pasarela expects its files: a FIFO, a device or a
// folder in place of a table, a disk mounted where it keeps its own folders, a folder it
// may not write. Each run ends at once with a message, and nothing outside is touched.
class UnusualFilesTest : public test::ImportTest {
protected:
    static constexpr int kEntries = 5;

    void SetUp() override
    {
        test::ImportTest::SetUp();
        Import(test::GeneratedSchool(kEntries, "primero"));
        test::WriteSolution(workDir_ / "SOLUC.DBF", 20, kEntries);
        second_ = WriteXml(test::GeneratedSchool(kEntries + 2, "segundo"), "segundo.xml");
    }

    ImportOptions SecondImport(bool check = false) const
    {
        ImportOptions options;
        options.xmlFile = second_;
        options.workingDir = workDir_;
        options.checkOnly = check;
        return options;
    }

    ExportOptions ExportOptionsFor() const
    {
        ExportOptions options;
        options.xmlFile = folder_ / "dasteno.xml";
        options.workingDir = workDir_;
        options.formatDate = [](std::chrono::system_clock::time_point) { return "05/10/2026 09:30:00"; };
        return options;
    }

    std::filesystem::path second_;
};

// The error a run ends with, or "<no error>".
std::string ErrorOf(const std::function<void()>& run)
{
    try {
        run();
    } catch (const Error& e) {
        return e.what();
    }
    return "<no error>";
}

#ifndef _WIN32
// Runs `run` and gives its error, failing the test when it has not ended within a few
// seconds: then a writer opens `fifo` for a moment, so a run stuck reading it ends after all.
std::string BoundedErrorOf(const std::function<void()>& run, const std::filesystem::path& fifo)
{
    auto ended = std::async(std::launch::async, [&run] { return ErrorOf(run); });
    if (ended.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
        ADD_FAILURE() << "the run waited on the FIFO";
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    }
    return ended.get();
}

TEST_F(UnusualFilesTest, FifoDeviceOrFolderInPlaceOfAFileIsRefusedAtOnce)
{
    const auto fifoMessage = [](const std::filesystem::path& path) {
        return QuotedPath(path) + ": es una tubería con nombre (FIFO), no un archivo";
    };
    struct Case {
        std::string name;
        std::filesystem::path replaced;  // made a FIFO, unless `device` or `folder`
        std::function<void()> run;
        std::string message;  // what the error says, among the rest
        bool device = false;  // a link to /dev/zero, a device that never ends
        bool folder = false;
    };
    const auto import = [this] { RunImport(SecondImport()); };
    // A check reads the earlier tables only to compare them, and says in its report which
    // it could not read.
    const auto check = [this] {
        const RunReport report = RunImport(SecondImport(true));
        const RunReport::Comparison* comparison = report.ComparisonOf("AULAT");
        if (comparison != nullptr && comparison->earlier == RunReport::Comparison::Earlier::Unreadable)
            throw Error(comparison->problem);
    };
    const auto exportRun = [this] { RunExport(ExportOptionsFor()); };
    const auto staging = StagingFolder(workDir_);
    const Case cases[] = {
        {"a table the import replaces", workDir_ / "PROFT.DBF", import, fifoMessage(workDir_ / "PROFT.DBF")},
        {"a table the check compares with", workDir_ / "AULAT.DBF", check, fifoMessage(workDir_ / "AULAT.DBF")},
        {"a lookup of the export", workDir_ / "PROFT.DBF", exportRun, fifoMessage(workDir_ / "PROFT.DBF")},
        // Orlavi's own words when its timetable is not a file there.
        {"the export's timetable", workDir_ / "SOLUC.DBF", exportRun, "No existe archivo XML o Solución."},
        {"the journal of an interrupted import", staging / "COMMIT", import, fifoMessage(staging / "COMMIT")},
        {"a device as a lookup of the export", workDir_ / "GRUPOST.DBF", exportRun,
         QuotedPath(workDir_ / "GRUPOST.DBF") + ": es un dispositivo, no un archivo", true},
        {"a folder as a table the import replaces", workDir_ / "ASIGT.DBF", import,
         QuotedPath(workDir_ / "ASIGT.DBF") + ": es una carpeta", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path aside = folder_ / "aparte";
        std::error_code ec;
        if (std::filesystem::exists(c.replaced, ec))
            std::filesystem::rename(c.replaced, aside);
        std::filesystem::create_directories(c.replaced.parent_path());
        if (c.device)
            std::filesystem::create_symlink("/dev/zero", c.replaced);
        else if (c.folder)
            std::filesystem::create_directory(c.replaced);
        else
            ASSERT_EQ(::mkfifo(c.replaced.c_str(), 0600), 0);
        const auto tables = Snapshot();

        EXPECT_THAT(BoundedErrorOf(c.run, c.replaced), HasSubstr(c.message));
        EXPECT_EQ(Snapshot(), tables);

        std::filesystem::remove(c.replaced);
        if (std::filesystem::exists(aside, ec))
            std::filesystem::rename(aside, c.replaced);
        std::filesystem::remove_all(staging);
    }
}
#endif

// A disk mounted where Pasarela keeps its folders: none of its files is ever removed.
TEST_F(UnusualFilesTest, DiskMountedAtTheStagingOrKeptFolderIsLeftAsItIs)
{
    const auto outside = folder_ / "disco";
    std::filesystem::create_directory(outside);
    test::WriteBytes(outside / "valioso.txt", "no se borra");
    test::WriteBytes(outside / "PROFT.DBF", "tampoco");
    const auto staging = StagingFolder(workDir_);
    const auto kept = KeptGenerationsFolder(workDir_);
    std::string whyNot;

    {
        SCOPED_TRACE("at the staging folder");
        std::filesystem::create_directory(staging);
        std::optional<ScopedMount> mounted = ScopedMount::Bind(outside, staging, whyNot);
        if (!mounted)
            GTEST_SKIP() << whyNot;
        const auto tables = Snapshot();
        EXPECT_EQ(ErrorOf([&] { RunImport(SecondImport()); }),
                  "La carpeta '" + DisplayPath(staging) +
                      "' es otro disco montado en la carpeta de trabajo: Pasarela no borra ni cambia nada en ella. "
                      "Desmóntela y vuelva a intentarlo");
        EXPECT_THAT(ErrorOf([&] { RunExport(ExportOptionsFor()); }), HasSubstr("es otro disco montado"));
        EXPECT_EQ(Snapshot(), tables);
    }
    EXPECT_EQ(test::ReadBytes(outside / "valioso.txt"), "no se borra");
    std::filesystem::remove(staging);

    {
        SCOPED_TRACE("inside the staging folder, left by an earlier run");
        std::filesystem::create_directories(staging / "restos");
        std::optional<ScopedMount> mounted = ScopedMount::Bind(outside, staging / "restos", whyNot);
        ASSERT_TRUE(mounted) << whyNot;
        RunImport(SecondImport());
        EXPECT_EQ(test::ReadBytes(outside / "valioso.txt"), "no se borra");
        EXPECT_EQ(test::ReadBytes(outside / "PROFT.DBF"), "tampoco");
    }
    std::filesystem::remove_all(staging);

    {
        SCOPED_TRACE("at the kept sets");
        std::filesystem::remove_all(kept);
        std::filesystem::create_directory(kept);
        std::optional<ScopedMount> mounted = ScopedMount::Bind(outside, kept, whyNot);
        ASSERT_TRUE(mounted) << whyNot;
        // The import goes through; what it replaced is not kept, and the report says why first.
        const RunReport report = RunImport(OptionsFor(test::GeneratedSchool(kEntries, "tercero")));
        EXPECT_THAT(report.Headlines(),
                    ::testing::Contains(AllOf(HasSubstr("no se han podido guardar"),
                                   HasSubstr("la carpeta '" + DisplayPath(kept) +
                                             "' es otro disco montado en la carpeta de trabajo"))));
        EXPECT_THAT(ErrorOf([&] { RunRestore({.workingDir = workDir_}); }), Not(StrEq("<no error>")));
        EXPECT_EQ(test::ReadBytes(outside / "valioso.txt"), "no se borra");
        EXPECT_EQ(test::ReadBytes(outside / "PROFT.DBF"), "tampoco");
    }
}

// A check changes nothing, so a folder it may not write is no reason to refuse it.
TEST_F(UnusualFilesTest, ChecksNeedNoWritePermissionOnTheWorkingFolder)
{
    RunImport(SecondImport());  // so a set is kept for the restore to check
    struct Case {
        std::string name;
        bool stagingFolderLeft;  // an import stopped by a crash left its folder and lock file
    };
    for (const Case& c : {Case{"before any import", false}, Case{"after an interrupted import", true}}) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(StagingFolder(workDir_));
        if (c.stagingFolderLeft) {
            std::filesystem::create_directory(StagingFolder(workDir_));
            test::WriteBytes(StagingFolder(workDir_) / "LOCK", "");
        }
        const auto before = test::TreeListing(workDir_);
        std::string whyNot;
        std::optional<ScopedMount> readOnly =
            ScopedMount::Mount(workDir_, ScopedMount::Kind::ReadOnlyBind, 0, whyNot);
        if (!readOnly)
            GTEST_SKIP() << whyNot;

        ImportOptions check = OptionsFor(test::GeneratedSchool(kEntries + 4, "cuarto"));
        check.checkOnly = true;
        const RunReport report = RunImport(check);
        EXPECT_GT(report.Rows("PROFT"), 0u);
        const RunReport restore = RunRestore({.workingDir = workDir_, .checkOnly = true});
        EXPECT_EQ(restore.Rows("PROFT"), DbfTable::Open(ListKeptGenerations(workDir_).at(0).folder / "PROFT.DBF").RecordCount());
        EXPECT_EQ(test::TreeListing(workDir_), before);
        // The import itself still needs to write, and says so.
        EXPECT_THAT(ErrorOf([&] { RunImport(SecondImport()); }), HasSubstr("No hay permiso"));
    }
}

}  // namespace
}  // namespace pasarela
