#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>

#ifdef __linux__
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "export/export_run.h"
#include "import/import_run.h"
#include "import/restore_run.h"
#include "os/file.h"
#include "os/write_fault.h"
#include "robustness/robustness_test_support.h"
#include "workfolder/file_set.h"
#include "workfolder/staging_lock.h"

namespace pasarela {
namespace {

#ifdef __linux__
using test::Describe;
using test::Tables;
using test::WithoutDates;

// Starts pasarela-cli importing `xml` into `workDir`, its output thrown away.
pid_t StartImport(const std::string& cli, const std::filesystem::path& xml, const std::filesystem::path& workDir)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(cli.c_str(), cli.c_str(), "import", xml.c_str(), "--vtemp", workDir.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return child;
}

// The child's exit status, or -1 when a signal ended it.
int WaitFor(pid_t child)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the import in a child that dies just before its nth write, as a power cut would
// stop it; the child's exit status tells whether it died, failed or finished.
int ImportDyingBeforeWrite(std::uint64_t n, const ImportOptions& options)
{
    const pid_t child = ::fork();
    if (child == 0) {
        FailNthWrite(n, true);
        try {
            RunImport(options);
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    return WaitFor(child);
}

// Runs `fresh` in a child that dies before its 1st, 2nd, 3rd... write, until one finishes.
// After each death `afterDeath` checks what the death left in `workDir`, then the old
// tables go back for the next one. `deaths` counts the deaths.
void KillAtEveryWrite(const ImportOptions& fresh, const std::filesystem::path& workDir, const Tables& oldBytes,
                      const std::function<void()>& afterDeath, std::uint64_t& deaths)
{
    for (std::uint64_t n = 1;; ++n) {
        SCOPED_TRACE("the import dies before write " + std::to_string(n));
        const int status = ImportDyingBeforeWrite(n, fresh);
        if (status == 0)
            return;
        deaths = n;
        ASSERT_EQ(status, kWriteFaultExitStatus) << "the import failed instead of dying";
        afterDeath();
        if (::testing::Test::HasFatalFailure())
            return;
        for (const auto& [table, bytes] : oldBytes)
            test::WriteBytes(workDir / (table + ".DBF"), bytes);
    }
}
#endif

// The computer may stop in the middle of an import (power cut, the user ending the task):
// the six tables are then all from before or, once the journal is replayed, all from the
// new file. The command line is killed at random moments of a run, many times over.
class KilledImportTest : public test::ImportTest {};

TEST_F(KilledImportTest, TablesAreAllOldOrAllNewWhereverTheImportIsKilled)
{
#ifndef __linux__
    GTEST_SKIP() << "stopping a program at a random moment is done with fork and SIGKILL, on Linux only";
#else
    const std::string cli = test::CliPath();
    if (cli.empty())
        GTEST_SKIP() << "PASARELA_CLI is not set; it names the pasarela-cli program this test kills";

    // Two schools, the first tables of each built apart as the reference.
    const std::filesystem::path xml[2] = {folder_ / "a.xml", folder_ / "b.xml"};
    test::WriteBytes(xml[0], test::GeneratedSchool(300, "uno"));
    test::WriteBytes(xml[1], test::GeneratedSchool(1000, "dos"));
    Tables expected[2];
    double fullRun = 0;
    for (int i = 0; i < 2; ++i) {
        const auto reference = folder_ / ("referencia" + std::to_string(i));
        std::filesystem::create_directory(reference);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(WaitFor(StartImport(cli, xml[i], reference)), 0) << "the import itself fails";
        fullRun = std::max(fullRun, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        expected[i] = WithoutDates(test::ImportedTableBytes(reference));
    }
    ASSERT_NE(expected[0], expected[1]);

    std::random_device device;
    const unsigned seed = device();
    SCOPED_TRACE("random seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // A third of the kills anywhere in the run; the rest close to the moment the tables are
    // swapped, which is short and the one that matters most. That moment is tracked as a
    // staircase: a kill that came too late (new tables) moves the aim earlier, one that
    // came too early moves it later, so the aim hovers where the outcome flips.
    std::uniform_real_distribution<double> anywhere(0, 1.1 * fullRun);
    std::uniform_real_distribution<double> jitter(-0.003, 0.003);
    double aim = 0.9 * fullRun;
    constexpr double kStep = 0.002;

    ASSERT_EQ(WaitFor(StartImport(cli, xml[0], workDir_)), 0);
    int holds = 0;  // which school the folder holds
    int replayed = 0;
    int finished = 0;
    constexpr int kRounds = 60;
    for (int round = 0; round < kRounds; ++round) {
        const int next = 1 - holds;
        const bool aimed = round % 3 != 0;
        const double delay = std::max(0.0, aimed ? aim + jitter(random) : anywhere(random));
        SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + std::to_string(delay) + " s");
        const pid_t child = StartImport(cli, xml[next], workDir_);
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        ::kill(child, SIGKILL);
        if (WaitFor(child) == 0)
            ++finished;

        // What the next run does first.
        const auto staging = workDir_ / ".pasarela-import";
        if (HasPendingCommit(staging))
            ++replayed;
        RecoverFileSet(staging, workDir_, JournalFileNames());
        const Tables now = WithoutDates(test::ImportedTableBytes(workDir_));
        const bool swapped = now == expected[next];
        if (aimed)
            aim += swapped ? -kStep : kStep;
        if (swapped) {
            holds = next;
            continue;
        }
        ASSERT_EQ(now, expected[holds]) << Describe(now, expected[holds], expected[next]);
    }
    RecordProperty("runs_finished_before_the_kill", std::to_string(finished));
    RecordProperty("commits_replayed", std::to_string(replayed));

    // An import after all that goes through and leaves nothing behind.
    ASSERT_EQ(WaitFor(StartImport(cli, xml[1 - holds], workDir_)), 0);
    EXPECT_EQ(WithoutDates(test::ImportedTableBytes(workDir_)), expected[1 - holds]);
    EXPECT_TRUE(test::Leftovers(workDir_).empty()) << ::testing::PrintToString(test::Leftovers(workDir_));
#endif
}

TEST_F(KilledImportTest, TablesAreAllOldOrAllNewWhicheverWriteTheImportDiesAt)
{
#ifndef __linux__
    GTEST_SKIP() << "a run that dies at a chosen write is a forked child, on Linux only";
#else
    const auto reference = folder_ / "referencia";
    std::filesystem::create_directory(reference);
    ImportOptions fresh;
    fresh.xmlFile = WriteXml(test::GeneratedSchool(40, "nuevo"), "nuevo.xml");
    fresh.workingDir = reference;
    RunImport(fresh);
    const Tables expectedNew = WithoutDates(test::ImportedTableBytes(reference));
    fresh.workingDir = workDir_;
    // A set kept before, which no death may touch.
    RunImport(OptionsFor(test::GeneratedSchool(5, "previo")));
    const Tables earlier = test::ImportedTableBytes(workDir_);
    RunImport(OptionsFor(test::GeneratedSchool(3, "antiguo")));
    const Tables oldBytes = test::ImportedTableBytes(workDir_);
    const Tables expectedOld = WithoutDates(oldBytes);
    const auto staging = workDir_ / ".pasarela-import";
    const auto earlierGeneration = KeptGenerationsFolder(workDir_) / "0000000001";
    ASSERT_EQ(test::ImportedTableBytes(earlierGeneration), earlier);
    // Every generation whole: the earlier one as it was, and the old set, once kept, whole.
    const auto expectWholeGenerations = [&] {
        for (const auto& folder : KeptGenerationFolders(workDir_)) {
            SCOPED_TRACE(folder.filename().string());
            if (folder == earlierGeneration) {
                EXPECT_EQ(test::ImportedTableBytes(folder), earlier);
            } else {
                EXPECT_EQ(WithoutDates(test::ImportedTableBytes(folder)), expectedOld);
            }
        }
    };
    // Orlavi's indexes beside the old tables: they describe the old rows, so they go with
    // them, but for the time slots' (as the import does when it is not interrupted).
    const auto writeIndexes = [&] {
        for (const std::string& table : ImportedTableNames())
            test::WriteBytes(workDir_ / (table + ".MDX"), "índice de " + table);
    };
    const auto indexes = [&] {
        std::vector<std::string> names;
        for (const std::string& table : ImportedTableNames())
            if (std::filesystem::exists(workDir_ / (table + ".MDX")))
                names.push_back(table + ".MDX");
        return names;
    };
    writeIndexes();
    const std::vector<std::string> oldIndexes = indexes();

    int replayed = 0;
    std::uint64_t deaths = 0;
    ASSERT_NO_FATAL_FAILURE(KillAtEveryWrite(fresh, workDir_, oldBytes, [&] {
        if (HasPendingCommit(staging))
            ++replayed;
        RecoverFileSet(staging, workDir_, JournalFileNames());
        const Tables now = WithoutDates(test::ImportedTableBytes(workDir_));
        if (now != expectedNew) {
            ASSERT_EQ(now, expectedOld) << Describe(now, expectedOld, expectedNew);
            EXPECT_EQ(indexes(), oldIndexes);
        } else {
            EXPECT_EQ(indexes(), std::vector<std::string>{"DIASHORAST.MDX"});
        }
        expectWholeGenerations();
        // The next death starts from the old tables alone, with only the earlier set kept.
        std::filesystem::remove_all(staging);
        for (const auto& folder : KeptGenerationFolders(workDir_))
            if (folder != earlierGeneration)
                std::filesystem::remove_all(folder);
        writeIndexes();
    }, deaths));
    EXPECT_EQ(WithoutDates(test::ImportedTableBytes(workDir_)), expectedNew);
    EXPECT_EQ(indexes(), std::vector<std::string>{"DIASHORAST.MDX"});
    expectWholeGenerations();
    EXPECT_EQ(KeptGenerationFolders(workDir_).size(), 2u);
    // Every rename of the commit had its death, each finished by the journal.
    EXPECT_GE(replayed, 6);
    RecordProperty("deaths", std::to_string(deaths));
    RecordProperty("commits_replayed", std::to_string(replayed));
#endif
}

TEST_F(KilledImportTest, ExportAfterTheImportDiedAtAnyWriteTranslatesThroughOneWholeSet)
{
#ifndef __linux__
    GTEST_SKIP() << "a run that dies at a chosen write is a forked child, on Linux only";
#else
    // The new school knows 40 teachers, rooms and groups, the old one 3: a timetable that
    // names all 40 translates differently through each set, and through any mix of them.
    ImportOptions fresh;
    fresh.xmlFile = WriteXml(test::GeneratedSchool(40, "nuevo"), "nuevo.xml");
    fresh.workingDir = workDir_;
    ImportOptions old = OptionsFor(test::GeneratedSchool(3, "antiguo"));
    test::WriteSolution(workDir_ / "SOLUC.DBF", 200, 40);
    ExportOptions exportOptions;
    exportOptions.xmlFile = old.xmlFile;
    exportOptions.workingDir = workDir_;
    exportOptions.journalFileNames = JournalFileNames();
    exportOptions.formatDate = [](std::chrono::system_clock::time_point) { return "05/10/2026 09:30:00"; };
    const auto exported = [&] { return test::ReadBytes(RunExport(exportOptions).outputFile); };

    RunImport(fresh);
    const std::string throughNew = exported();
    RunImport(old);
    const std::string throughOld = exported();
    ASSERT_NE(throughNew, throughOld);
    const Tables oldBytes = test::ImportedTableBytes(workDir_);
    const auto staging = workDir_ / ".pasarela-import";

    int throughNewCount = 0;
    std::uint64_t deaths = 0;
    ASSERT_NO_FATAL_FAILURE(KillAtEveryWrite(fresh, workDir_, oldBytes, [&] {
        // The export comes next, without anything else finishing the import first.
        const std::string output = exported();
        if (output == throughNew)
            ++throughNewCount;
        else
            ASSERT_EQ(output, throughOld) << "the export translated through a mix of tables";
        EXPECT_FALSE(std::filesystem::exists(staging));
    }, deaths));
    // Every death inside the swap gave the new set: the export finished those commits.
    EXPECT_GE(throughNewCount, 6);
    RecordProperty("deaths", std::to_string(deaths));
    RecordProperty("exports_through_the_new_set", std::to_string(throughNewCount));
#endif
}

TEST_F(KilledImportTest, RestoreDyingAtAnyWriteLeavesOneWholeSetAndEveryGenerationWhole)
{
#ifndef __linux__
    GTEST_SKIP() << "a run that dies at a chosen write is a forked child, on Linux only";
#else
    RunImport(OptionsFor(test::GeneratedSchool(12, "primero")));
    const Tables first = test::ImportedTableBytes(workDir_);
    RunImport(OptionsFor(test::GeneratedSchool(3, "segundo")));
    const Tables second = test::ImportedTableBytes(workDir_);
    const auto kept = KeptGenerationsFolder(workDir_) / "0000000001";
    ASSERT_EQ(test::ImportedTableBytes(kept), first);
    // What each death starts from: the second set in place, the first kept.
    const auto start = folder_ / "inicio";
    std::filesystem::copy(workDir_, start, std::filesystem::copy_options::recursive);

    std::uint64_t deaths = 0;
    for (std::uint64_t n = 1;; ++n) {
        SCOPED_TRACE("the restore dies before write " + std::to_string(n));
        const pid_t child = ::fork();
        if (child == 0) {
            FailNthWrite(n, true);
            try {
                RunRestore({.workingDir = workDir_, .checkOnly = false, .generation = 1});
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        const int status = WaitFor(child);
        if (status == 0)
            break;
        ASSERT_EQ(status, kWriteFaultExitStatus) << "the restore failed instead of dying";
        deaths = n;

        // The next run finishes or forgets the restore: one whole set in place, and every
        // generation whole: the first set where it was, and the second, once kept, whole.
        StagingLock::Take(workDir_, StagingLock::Use::Import, JournalFileNames()).Release();
        const Tables now = test::ImportedTableBytes(workDir_);
        if (now != first) {
            ASSERT_EQ(now, second) << Describe(now, second, first);
        }
        EXPECT_EQ(test::ImportedTableBytes(kept), first);
        const auto generations = KeptGenerationFolders(workDir_);
        for (const auto& folder : generations) {
            if (folder != kept) {
                EXPECT_EQ(test::ImportedTableBytes(folder), second) << folder;
            }
        }
        // Once the first set is back, the second is kept.
        EXPECT_EQ(generations.size(), now == first ? 2u : 1u);
        EXPECT_FALSE(std::filesystem::exists(workDir_ / ".pasarela-import"));
        if (HasFailure())
            return;

        std::filesystem::remove_all(workDir_);
        std::filesystem::copy(start, workDir_, std::filesystem::copy_options::recursive);
    }
    EXPECT_EQ(test::ImportedTableBytes(workDir_), first);
    EXPECT_EQ(test::ImportedTableBytes(KeptGenerationFolders(workDir_).front()), second);
    // Six copies, the description, the journal, and each rename of the commit and of the keeping.
    EXPECT_GT(deaths, 6u * 3u);
    RecordProperty("deaths", std::to_string(deaths));
#endif
}

}  // namespace
}  // namespace pasarela
