#include "orlavi/open_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "export/export_run.h"
#include "import/import_run.h"
#include "os/file.h"
#include "os/write_fault.h"
#include "robustness/robustness_test_support.h"
#include "test_support.h"

namespace pasarela {
namespace {

constexpr char kCleanupReason[] = "limpieza pendiente tras completar el cambio (la hará la próxima ejecución)";

// A school imported once and timetabled by Orlavi.
class OpenRunTest : public test::ImportTest {
protected:
    void SetUp() override
    {
        test::ImportTest::SetUp();
        import_ = OptionsFor(test::GeneratedSchool(5, "primero"));
        RunImport(import_);
        test::WriteSolution(workDir_ / "SOLUC.DBF", 20, 5);
    }

    void TearDown() override
    {
        FailFileChanges(FileChange::Removal, 0);
        test::ImportTest::TearDown();
    }

    // An import interrupted after its journal: its PROFT waits in the staging folder.
    void LeaveInterruptedCommit() const
    {
        const auto staging = StagingFolder(workDir_);
        std::filesystem::create_directories(staging);
        std::filesystem::copy_file(TablePath("PROFT"), staging / "PROFT.DBF");
        test::WriteBytes(staging / "COMMIT", "PROFT.DBF\nEND\n");
    }

    ImportOptions import_;
};

// Every run finishes the interrupted import before it starts; when the journal cannot be
// removed then (another program glancing at it), the run goes on and its report says so.
TEST_F(OpenRunTest, EveryRunNotesTheFinishedImportAndWhatFinishingItLeft)
{
    struct Case {
        std::string name;
        std::function<RunReport()> run;
    };
    const Case cases[] = {
        {"import", [&] { return RunImport(import_); }},
        {"import --check",
         [&] {
             ImportOptions check = import_;
             check.checkOnly = true;
             return RunImport(check);
         }},
        {"export",
         [&] {
             ExportOptions options;
             options.xmlFile = import_.xmlFile;
             options.workingDir = workDir_;
             options.formatDate = [](std::chrono::system_clock::time_point) { return "05/10/2026 09:30:00"; };
             return RunExport(options).report;
         }},
    };
    const std::string journal = DisplayPath(StagingFolder(workDir_) / "COMMIT");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LeaveInterruptedCommit();
        FailFileChanges(FileChange::Removal, 1);
        const RunReport report = c.run();
        FailFileChanges(FileChange::Removal, 0);
        EXPECT_TRUE(FinishedPendingCommit(report));
        std::vector<std::string> left;
        for (const auto& notice : report.Notices())
            if (notice.reason == kCleanupReason)
                left.push_back(notice.entry);
        EXPECT_THAT(left, ElementsAre("El archivo '" + journal + "' está en uso por otro programa"));
        // The next run clears what was left.
        OpenRun(workDir_, StagingLock::Use::Import).lock.Release();
        EXPECT_FALSE(std::filesystem::exists(StagingFolder(workDir_)));
    }
}

}  // namespace
}  // namespace pasarela
