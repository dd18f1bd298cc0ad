#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "export/export_run.h"
#include "import/import_run.h"
#include "os/error.h"
#include "os/file.h"
#include "os/write_fault.h"
#include "robustness/robustness_test_support.h"
#include "test_support.h"

namespace pasarela {
namespace {

// Every write of a run is failed in turn, as a disk that fills up at that very moment
// would: a run that stops anywhere must leave what the user had, byte for byte.
class WriteFaultTest : public test::ImportTest {
protected:
    void TearDown() override
    {
        FailNthWrite(0);
        test::ImportTest::TearDown();
    }
};

// Whether a run that got through says what it left to tidy after the tables were in place:
// a write failed then does not undo a finished import, but must not go unsaid either.
bool SaysWhatWasLeft(const RunReport& report)
{
    for (const auto& notice : report.Notices())
        if (notice.reason.starts_with("limpieza pendiente"))
            return true;
    // Or that the tables it replaced could not be kept.
    return !report.Headlines().empty() &&
           report.Headlines().front().starts_with("Las tablas que había antes de este cambio no se han podido guardar");
}

// Fails write 1, 2, 3 ... of `run` until it gets through; `check` looks at the state
// after each failure. `run` returns whether it reported a failure after its tables were
// in place (SaysWhatWasLeft). Returns how many failures were tried.
template <typename Run, typename Check>
std::uint64_t FailEachWriteInTurn(Run run, Check check)
{
    constexpr std::uint64_t kEnough = 100000;  // a run that never ends would be a bug too
    for (std::uint64_t n = 1; n < kEnough; ++n) {
        SCOPED_TRACE("write " + std::to_string(n) + " fails");
        FailNthWrite(n);
        std::string message;
        bool saidWhatWasLeft = false;
        try {
            saidWhatWasLeft = run();
        } catch (const Error& e) {
            message = e.what();
        }
        const bool fired = WriteFaultFired();
        FailNthWrite(0);
        if (message.empty() && !fired)
            return n - 1;
        if (message.empty()) {
            // The run got through: a failure it swallowed would have published a table
            // the disk never fully took, unless the tables were in place by then and the
            // report says so.
            EXPECT_TRUE(saidWhatWasLeft) << "the failed write was ignored and the run reported success";
            if (::testing::Test::HasFailure())
                return n;
            continue;
        }
        EXPECT_TRUE(fired) << message;
        // Failing to make a temporary file, the message leads with the file being saved.
        EXPECT_THAT(message, AllOf(AnyOf(StartsWith("No se pudo escribir el archivo '"),
                                         StartsWith("No se puede guardar el archivo '")),
                                   HasSubstr("el disco está lleno")));
        check();
        if (::testing::Test::HasFailure())
            return n;
    }
    ADD_FAILURE() << "the run never got through";
    return kEnough;
}

TEST_F(WriteFaultTest, ImportStoppedAtAnyWriteLeavesTheTablesAsTheyWere)
{
    struct Case {
        std::string name;
        bool earlierImport;
    };
    const Case cases[] = {{"over the tables of an earlier import", true}, {"into a folder without tables", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(workDir_);
        std::filesystem::create_directory(workDir_);
        if (c.earlierImport)
            RunImport(OptionsFor(test::GeneratedSchool(3, "antiguo")));
        const auto before = test::ImportedTableBytes(workDir_);
        const ImportOptions options = OptionsFor(test::GeneratedSchool(40, "nuevo"));

        const std::uint64_t failures = FailEachWriteInTurn([&] { return SaysWhatWasLeft(RunImport(options)); }, [&] {
            EXPECT_EQ(test::ImportedTableBytes(workDir_), before);
            EXPECT_THAT(test::Leftovers(workDir_), IsEmpty());
        });
        // Enough that every table, the journal and each rename of the commit had its turn.
        EXPECT_GT(failures, 6u * 4u);
        RecordProperty(c.earlierImport ? "failed_writes_over_tables" : "failed_writes_into_empty_folder",
                       std::to_string(failures));
        EXPECT_EQ(ReadColumn("PROFT", "ABREV").size(), 40u);
        EXPECT_THAT(test::Leftovers(workDir_), IsEmpty());
    }
}

TEST_F(WriteFaultTest, ExportStoppedAtAnyWriteKeepsTheEarlierOutputAndLeavesNoTemporaryFile)
{
    Import(test::GeneratedSchool(5, "horario"));
    test::WriteSolution(workDir_ / "SOLUC.DBF", 2000, 5);
    ExportOptions options;
    options.xmlFile = folder_ / "dasteno.xml";
    options.workingDir = workDir_;
    options.journalFileNames = JournalFileNames();
    options.formatDate = [](std::chrono::system_clock::time_point) { return "05/10/2026 09:30:00"; };
    const auto output = ExportOutputPath(options.xmlFile);
    test::WriteBytes(output, "la exportación anterior");
    const auto tablesBefore = Snapshot();
    const auto rootBefore = test::TreeListing(folder_);

    const std::uint64_t failures = FailEachWriteInTurn([&] {
        RunExport(options);
        return false;
    }, [&] {
        EXPECT_EQ(test::ReadBytes(output), "la exportación anterior");
        EXPECT_EQ(test::TreeListing(folder_), rootBefore);
        EXPECT_EQ(Snapshot(), tablesBefore);
    });
    RecordProperty("failed_writes", std::to_string(failures));
    EXPECT_THAT(test::ReadBytes(output), HasSubstr("<dsolucion casig=\"900\""));
    EXPECT_EQ(test::TreeListing(folder_), rootBefore);
}

}  // namespace
}  // namespace pasarela
