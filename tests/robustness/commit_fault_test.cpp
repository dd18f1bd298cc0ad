#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "import/import_run.h"
#include "os/error.h"
#include "os/file.h"
#include "os/write_fault.h"
#include "robustness/robustness_test_support.h"
#include "test_support.h"
#include "workfolder/staging_lock.h"

namespace pasarela {
namespace {

using test::Tables;
using test::WithoutDates;

// On Windows a rename fails whenever another program glances at the file, and the one
// that puts an old table back can fail right after the one that moved the new table in.
// Whatever fails, once the next run has started the folder holds one whole set of tables.
class CommitFaultTest : public test::ImportTest {
protected:
    void SetUp() override
    {
        test::ImportTest::SetUp();
        const auto reference = folder_ / "referencia";
        std::filesystem::create_directory(reference);
        fresh_.xmlFile = WriteXml(test::GeneratedSchool(8, "nuevo"), "nuevo.xml");
        fresh_.workingDir = reference;
        RunImport(fresh_);
        expectedNew_ = WithoutDates(test::ImportedTableBytes(reference));
        fresh_.workingDir = workDir_;
        RunImport(OptionsFor(test::GeneratedSchool(3, "antiguo")));
        oldBytes_ = test::ImportedTableBytes(workDir_);
        expectedOld_ = WithoutDates(oldBytes_);
    }

    void TearDown() override
    {
        Disarm();
        test::ImportTest::TearDown();
    }

    static void Disarm()
    {
        FailFileChanges(FileChange::Rename, 0);
        FailFileChanges(FileChange::Removal, 0);
    }

    // The old tables with Orlavi's indexes beside them, and nothing else.
    void PutOldSetBack() const
    {
        std::filesystem::remove_all(workDir_ / ".pasarela-import");
        for (const auto& [table, bytes] : oldBytes_) {
            test::WriteBytes(TablePath(table), bytes);
            test::WriteBytes(workDir_ / (table + ".MDX"), "índice de " + table);
        }
    }

    std::vector<std::string> Indexes() const
    {
        std::vector<std::string> names;
        for (const std::string& table : ImportedTableNames())
            if (std::filesystem::exists(workDir_ / (table + ".MDX")))
                names.push_back(table + ".MDX");
        return names;
    }

    // Whatever the next run is, it starts by taking the lock, which finishes a change that
    // was left half done.
    void NextRun() const { StagingLock::Take(workDir_, StagingLock::Use::Import, JournalFileNames()).Release(); }

    // The folder holds the old set with its indexes, or the new one with the time slots'
    // index alone (and those the run reported it could not move aside); nothing is left in
    // the staging folder.
    void ExpectOneWholeSet(const RunReport& report) const
    {
        const Tables now = WithoutDates(test::ImportedTableBytes(workDir_));
        if (now == expectedNew_) {
            for (const std::string& index : Indexes()) {
                if (index == "DIASHORAST.MDX")
                    continue;
                bool reported = false;
                for (const auto& notice : report.Notices())
                    reported = reported || notice.entry.find(index) != std::string::npos;
                EXPECT_TRUE(reported) << index << " stayed beside the new tables unreported";
            }
        } else {
            EXPECT_TRUE(now == expectedOld_) << test::Describe(now, expectedOld_, expectedNew_);
            EXPECT_EQ(Indexes().size(), ImportedTableNames().size());
        }
        EXPECT_FALSE(std::filesystem::exists(workDir_ / ".pasarela-import"));
    }

    ImportOptions fresh_;
    Tables oldBytes_;
    Tables expectedOld_;
    Tables expectedNew_;
};

TEST_F(CommitFaultTest, RenamesFailingOneOrTwoInARowNeverLoseATable)
{
    for (const std::uint64_t inARow : {1u, 2u}) {
        std::uint64_t tried = 0;
        for (std::uint64_t first = 1;; ++first) {
            SCOPED_TRACE("renames " + std::to_string(first) + " to " + std::to_string(first + inARow - 1) + " fail");
            PutOldSetBack();
            FailFileChanges(FileChange::Rename, first, inARow);
            std::string error;
            RunReport report;
            try {
                report = RunImport(fresh_);
            } catch (const Error& e) {
                error = e.what();
            }
            const bool fired = FileChangesSeen(FileChange::Rename) >= first;
            Disarm();
            if (!fired) {
                EXPECT_EQ(error, "");
                break;
            }
            ++tried;
            if (error.empty()) {
                // A run that says it finished has put every new table in place, and says
                // what it could not tidy afterwards, or that it could not keep the old set.
                EXPECT_EQ(WithoutDates(test::ImportedTableBytes(workDir_)), expectedNew_);
                EXPECT_TRUE(report.Count("tablas", "limpieza pendiente tras completar el cambio (la hará la próxima "
                                                   "ejecución)") > 0 ||
                            (!report.Headlines().empty() &&
                             report.Headlines().front().starts_with(
                                 "Las tablas que había antes de este cambio no se han podido guardar")));
            }
            NextRun();
            ExpectOneWholeSet(report);
            if (HasFailure())
                return;
        }
        // Every table's creation, the journal, both renames of each table and the indexes.
        EXPECT_GT(tried, 6u * 3u);
    }
}

TEST_F(CommitFaultTest, CleanupThatFailsOnceTheTablesAreInPlaceIsAWarningAndExitZero)
{
    struct Case {
        std::string name;
        std::function<void()> arm;
        std::string warning;
    };
    File heldIndex;
    const Case cases[] = {
        {"the journal cannot be removed", [] { FailFileChanges(FileChange::Removal, 1); },
         "El archivo '" + DisplayPath(workDir_ / ".pasarela-import" / "COMMIT") + "' está en uso por otro programa"},
        {"an old index is held by another program",
         [&] { heldIndex = File::Open(workDir_ / "PROFT.MDX", File::Mode::Read); },
         "El archivo '" + DisplayPath(workDir_ / "PROFT.MDX") + "' está en uso por otro programa"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PutOldSetBack();
        c.arm();
        std::ostringstream out, err;
        const auto reportFile = folder_ / "informe.txt";
        const int status = RunCli({"import", DisplayPath(fresh_.xmlFile), "--vtemp", DisplayPath(workDir_),
                                   "--report", DisplayPath(reportFile)},
                                  out, err);
        Disarm();
        heldIndex.Close();
        EXPECT_EQ(status, kCliOk) << err.str();
        EXPECT_THAT(out.str(), AllOf(HasSubstr("limpieza pendiente tras completar el cambio"),
                                     EndsWith("Proceso finalizado\n")));
        EXPECT_THAT(test::ReadBytes(reportFile), HasSubstr(c.warning));
        EXPECT_EQ(WithoutDates(test::ImportedTableBytes(workDir_)), expectedNew_);
        // The next run clears what was left.
        ImportOptions next = fresh_;
        next.checkOnly = true;
        RunImport(next);
        EXPECT_FALSE(std::filesystem::exists(workDir_ / ".pasarela-import"));
    }
}

}  // namespace
}  // namespace pasarela
