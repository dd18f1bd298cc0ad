#include "workfolder/staging_lock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli.h"
#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "export/export_run.h"
#include "import/import_run.h"
#include "os/error.h"
#include "os/file.h"
#include "robustness/robustness_test_support.h"
#include "test_support.h"

namespace pasarela {
namespace {

// Every file, folder and link under `root` with what it holds (a link: where it leads),
// without following links: what must not change when a run refuses to start.
std::map<std::string, std::string> Contents(const std::filesystem::path& root)
{
    std::map<std::string, std::string> contents;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = item.path().lexically_relative(root).generic_string();
        if (item.is_symlink())
            contents[name] = "enlace a " + std::filesystem::read_symlink(item.path()).generic_string();
        else if (item.is_directory())
            contents[name] = "carpeta";
        else  // a fingerprint keeps a failure's message short
            contents[name] = std::to_string(std::hash<std::string>{}(test::ReadBytes(item.path())));
    }
    return contents;
}

// The working folder of a school that was imported once and timetabled by Orlavi; the
// runs every case tries (an import, a check, an export) and what each says.
class StagingLockTest : public test::ImportTest {
protected:
    static constexpr int kEntries = 5;

    void SetUp() override
    {
        test::ImportTest::SetUp();
        RunImport(OptionsFor(test::GeneratedSchool(kEntries, "primero")));
        test::WriteSolution(workDir_ / "SOLUC.DBF", 20, kEntries);
        xml_ = folder_ / "dasteno.xml";
        staging_ = workDir_ / ".pasarela-import";
    }

    struct Run {
        std::string name;
        std::function<void()> start;
    };

    std::vector<Run> Runs() const
    {
        return {
            {"import", [this] { RunImport(ImportOf(false)); }},
            {"import --check", [this] { RunImport(ImportOf(true)); }},
            {"export", [this] { RunExport(ExportOf()); }},
        };
    }

    ImportOptions ImportOf(bool check) const
    {
        ImportOptions options;
        options.xmlFile = xml_;
        options.workingDir = workDir_;
        options.checkOnly = check;
        return options;
    }

    ExportOptions ExportOf() const
    {
        ExportOptions options;
        options.xmlFile = xml_;
        options.workingDir = workDir_;
        options.formatDate = [](std::chrono::system_clock::time_point) { return "05/10/2026 09:30:00"; };
        return options;
    }

    // Makes a link, or says why this system cannot (Windows without the right to).
    static bool MakeLink(const std::filesystem::path& to, const std::filesystem::path& at, std::string& whyNot)
    {
        std::error_code ec;
        if (std::filesystem::is_directory(to))
            std::filesystem::create_directory_symlink(to, at, ec);
        else
            std::filesystem::create_symlink(to, at, ec);
        whyNot = ec ? "cannot make a symbolic link here: " + ec.message() : "";
        return !ec;
    }

    std::filesystem::path xml_;
    std::filesystem::path staging_;
};

TEST_F(StagingLockTest, StagingFolderThatIsALinkIsRefusedAndWhereItLeadsIsUntouched)
{
    const auto elsewhere = folder_ / "otra";
    std::filesystem::create_directory(elsewhere);
    test::WriteBytes(elsewhere / "apuntes.txt", "apuntes de otro programa");
    test::WriteBytes(elsewhere / "PROFT.DBF", "una tabla de otro programa");
    std::string whyNot;
    if (!MakeLink(elsewhere, staging_, whyNot))
        GTEST_SKIP() << whyNot;
    const auto before = Contents(folder_);

    for (const Run& run : Runs()) {
        SCOPED_TRACE(run.name);
        EXPECT_EQ(test::ErrorMessageOf(run.start),
                  "La carpeta '" + DisplayPath(staging_) +
                      "' es un enlace a otro lugar: Pasarela no la sigue ni cambia nada en ella. Borre el enlace y "
                      "vuelva a intentarlo");
        EXPECT_EQ(Contents(folder_), before);
    }
}

TEST_F(StagingLockTest, LockFileThatIsALinkIsNeitherCutNorCreatedElsewhere)
{
    struct Case {
        std::string name;
        bool targetExists;
        bool hard;  // a second name of the same file, which no O_NOFOLLOW refuses
    };
    const Case cases[] = {{"to a file with content", true, false},
                          {"to a file not yet there", false, false},
                          {"a hard link to a file with content", true, true}};
    const auto elsewhere = folder_ / "notas.txt";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(staging_);
        std::filesystem::remove(elsewhere);
        std::filesystem::create_directory(staging_);
        if (c.targetExists)
            test::WriteBytes(elsewhere, "notas que nadie debe vaciar");
        std::string whyNot;
        if (c.hard) {
            std::error_code ec;
            std::filesystem::create_hard_link(elsewhere, staging_ / "LOCK", ec);
            if (ec)
                GTEST_SKIP() << "cannot make a hard link here: " << ec.message();
        } else if (!MakeLink(elsewhere, staging_ / "LOCK", whyNot)) {
            GTEST_SKIP() << whyNot;
        }
        const auto before = Contents(folder_);
        for (const Run& run : Runs()) {
            SCOPED_TRACE(run.name);
            EXPECT_EQ(test::ErrorMessageOf(run.start), "El archivo '" + DisplayPath(staging_ / "LOCK") +
                                                           "' es un enlace a otro lugar y no se sigue");
            EXPECT_EQ(Contents(folder_), before);
        }
    }
}

TEST_F(StagingLockTest, LinksLeftInTheStagingFolderGoWithoutWhatTheyLeadTo)
{
    const auto elsewhere = folder_ / "otra";
    std::filesystem::create_directory(elsewhere);
    test::WriteBytes(elsewhere / "apuntes.txt", "apuntes de otro programa");
    std::filesystem::create_directory(staging_);
    std::string whyNot;
    if (!MakeLink(elsewhere, staging_ / "tablas", whyNot) ||
        !MakeLink(elsewhere / "apuntes.txt", staging_ / "ASIGT.DBF", whyNot))
        GTEST_SKIP() << whyNot;
    const auto before = Contents(elsewhere);

    RunImport(ImportOf(false));

    EXPECT_EQ(Contents(elsewhere), before);
    EXPECT_EQ(test::ReadBytes(elsewhere / "apuntes.txt"), "apuntes de otro programa");
    EXPECT_FALSE(std::filesystem::exists(staging_));
}

TEST_F(StagingLockTest, JournalNamingAnythingButTheTablesMovesNothingAndSaysWhichFolderToRemove)
{
    struct Case {
        std::string name;
        std::string journal;
        std::string why;
        std::function<bool(std::string&)> prepare;  // more than the journal; false to skip
    };
    const auto outside = folder_ / "notas.txt";
    const std::string absolute = DisplayPath(outside);
    const Case cases[] = {
        {"a file outside the folder", "../notas.txt\nEND\n", "nombra '../notas.txt', que no es ninguna de las tablas",
         [&](std::string&) {
             test::WriteBytes(workDir_ / "notas.txt", "se movería fuera");
             return true;
         }},
        {"an absolute path", absolute + "\nEND\n", "nombra '" + absolute + "', que no es ninguna de las tablas",
         [](std::string&) { return true; }},
        {"Orlavi's timetable", "PROFT.DBF\nSOLUC.DBF\nEND\n", "nombra 'SOLUC.DBF', que no es ninguna de las tablas",
         [&](std::string&) {
             test::WriteBytes(staging_ / "PROFT.DBF", "otra tabla");
             test::WriteBytes(staging_ / "SOLUC.DBF", "otro horario");
             return true;
         }},
        {"a table twice", "PROFT.DBF\nPROFT.DBF\nEND\n", "nombra 'PROFT.DBF' dos veces",
         [&](std::string&) {
             test::WriteBytes(staging_ / "PROFT.DBF", "otra tabla");
             return true;
         }},
        {"no end", "PROFT.DBF\n", "está incompleto",
         [&](std::string&) {
             test::WriteBytes(staging_ / "PROFT.DBF", "otra tabla");
             return true;
         }},
        {"a staged table that is a link", "PROFT.DBF\nEND\n", "'PROFT.DBF' no es un archivo",
         [&](std::string& whyNot) { return MakeLink(outside, staging_ / "PROFT.DBF", whyNot); }},
        {"old tables kept through a link", "PROFT.DBF\nEND\n", "'old' no es una carpeta",
         [&](std::string& whyNot) {
             test::WriteBytes(staging_ / "PROFT.DBF", "otra tabla");
             std::filesystem::create_directory(folder_ / "otra");
             return MakeLink(folder_ / "otra", staging_ / "old", whyNot);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(staging_);
        std::filesystem::remove_all(folder_ / "otra");
        std::filesystem::remove(workDir_ / "notas.txt");
        std::filesystem::create_directory(staging_);
        test::WriteBytes(outside, "fuera de la carpeta");
        std::string whyNot;
        if (!c.prepare(whyNot)) {
            std::cout << "skipped: " << whyNot << "\n";
            continue;
        }
        test::WriteBytes(staging_ / "COMMIT", c.journal);
        test::WriteBytes(staging_ / "LOCK", "");  // left, like the journal, by the run before
        const auto before = Contents(folder_);
        for (const Run& run : Runs()) {
            SCOPED_TRACE(run.name);
            EXPECT_EQ(test::ErrorMessageOf(run.start),
                      "Una importación anterior quedó a medias y no se pudo completar: El registro de cambios '" +
                          DisplayPath(staging_ / "COMMIT") + "' está dañado (" + c.why +
                          "): no se ha movido ningún archivo. Compruebe las tablas, borre la carpeta '" +
                          DisplayPath(staging_) + "' y vuelva a intentarlo");
            EXPECT_EQ(Contents(folder_), before);
        }
        // What the message says to do is enough.
        std::filesystem::remove_all(staging_);
        EXPECT_NO_THROW(RunImport(ImportOf(false)));
        EXPECT_FALSE(std::filesystem::exists(staging_));
    }
}

TEST_F(StagingLockTest, RunsRefuseToStartWhileTheLockIsHeldAndItsFolderGoesWithIt)
{
    {
        StagingLock held = StagingLock::Take(workDir_, StagingLock::Use::Import, JournalFileNames());
        EXPECT_EQ(test::ErrorMessageOf([&] { RunImport(ImportOf(false)); }),
                  "Ya hay otra importación en curso en '" + DisplayPath(workDir_) + "'");
        EXPECT_EQ(test::ErrorMessageOf([&] { RunExport(ExportOf()); }),
                  "Hay una importación en curso en '" + DisplayPath(workDir_) +
                      "': espere a que termine y vuelva a exportar");
        EXPECT_TRUE(std::filesystem::exists(staging_ / "LOCK"));
    }
    EXPECT_FALSE(std::filesystem::exists(staging_));
    EXPECT_NO_THROW(RunExport(ExportOf()));
    EXPECT_FALSE(std::filesystem::exists(staging_));
}

TEST_F(StagingLockTest, OnlyOneRunHoldsTheFolderWhileRunsStartAndFinishTogether)
{
    // Each run marks the staging folder as its own while it holds the lock; another run's
    // mark seen there means two held it at once. A run that finishes removes the folder
    // while others are starting, the moment the lock was once lost at.
    constexpr int kRuns = 3;
    constexpr int kHoldsEach = 150;
    std::mutex seenMutex;
    std::vector<std::string> overlaps;
    std::vector<std::string> failures;
    auto note = [&](std::vector<std::string>& list, std::string what) {
        const std::lock_guard<std::mutex> guard(seenMutex);
        list.push_back(std::move(what));
    };
    std::vector<std::thread> runs;
    for (int run = 0; run < kRuns; ++run) {
        runs.emplace_back([&, run] {
            const std::string mark = "run" + std::to_string(run);
            for (int held = 0; held < kHoldsEach;) {
                try {
                    StagingLock lock = StagingLock::Take(workDir_, run == 0 ? StagingLock::Use::Export
                                                                            : StagingLock::Use::Import,
                                                         JournalFileNames());
                    test::WriteBytes(lock.Folder() / mark, mark);
                    // A folder or mark removed under a holder is another run at work too, and
                    // so is a folder the holder may not list.
                    std::error_code ec;
                    for (const auto& item : std::filesystem::directory_iterator(lock.Folder(), ec)) {
                        const std::string name = item.path().filename().string();
                        if (name != mark && name != "LOCK")
                            note(overlaps, mark + " saw " + name);
                    }
                    if (ec)
                        note(overlaps, mark + " could not list the folder: " + ec.message());
                    if (!std::filesystem::exists(lock.Folder() / mark))
                        note(overlaps, mark + " lost its mark");
                    ++held;
                } catch (const Error& e) {
                    if (std::string(e.what()).find("en curso") == std::string::npos)
                        note(failures, mark + ": " + e.what());
                    std::this_thread::yield();
                }
            }
        });
    }
    for (std::thread& run : runs)
        run.join();
    EXPECT_THAT(overlaps, IsEmpty());
    EXPECT_THAT(failures, IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(staging_));
}

TEST_F(StagingLockTest, RecoveryNeverReplacesAHeldTableAndACheckSaysWhatItChanged)
{
    // A commit interrupted after its journal: the new PROFT waits in the staging folder.
    const auto reference = folder_ / "referencia";
    std::filesystem::create_directory(reference);
    ImportOptions other;
    other.xmlFile = WriteXml(test::GeneratedSchool(kEntries + 2, "segundo"), "segundo.xml");
    other.workingDir = reference;
    RunImport(other);
    const std::string oldTeachers = test::ReadBytes(workDir_ / "PROFT.DBF");
    const std::string newTeachers = test::ReadBytes(reference / "PROFT.DBF");
    std::filesystem::create_directory(staging_);
    test::WriteBytes(staging_ / "PROFT.DBF", newTeachers);
    test::WriteBytes(staging_ / "COMMIT", "PROFT.DBF\nEND\n");

    {
        DbfTable heldByOrlavi = DbfTable::Open(workDir_ / "PROFT.DBF");
        for (const Run& run : Runs()) {
            SCOPED_TRACE(run.name);
            EXPECT_EQ(test::ErrorMessageOf(run.start),
                      "Una importación anterior quedó a medias y no se pudo completar: El archivo '" +
                          DisplayPath(workDir_ / "PROFT.DBF") + "' está en uso por otro programa");
            EXPECT_TRUE(std::filesystem::exists(staging_ / "COMMIT"));
        }
    }
    // Read once released: Windows lets nobody read a held table.
    EXPECT_EQ(test::ReadBytes(workDir_ / "PROFT.DBF"), oldTeachers);

    // Once the table is free, a check finishes the commit first and says so.
    std::ostringstream out, err;
    EXPECT_EQ(RunCli({"import", DisplayPath(xml_), "--vtemp", DisplayPath(workDir_), "--check"}, out, err), kCliOk)
        << err.str();
    EXPECT_THAT(out.str(), HasSubstr("Comprobación terminada: este archivo no ha cambiado ninguna tabla, pero antes "
                                     "se ha completado una importación anterior que había quedado a medias\n"));
    EXPECT_THAT(out.str(), ::testing::Not(HasSubstr("no se ha cambiado ninguna tabla")));
    EXPECT_EQ(test::ReadBytes(workDir_ / "PROFT.DBF"), newTeachers);
    EXPECT_FALSE(std::filesystem::exists(staging_));

    // With nothing pending, a check changes nothing and says that.
    out.str("");
    EXPECT_EQ(RunCli({"import", DisplayPath(xml_), "--vtemp", DisplayPath(workDir_), "--check"}, out, err), kCliOk);
    EXPECT_THAT(out.str(), HasSubstr("Comprobación terminada: no se ha cambiado ninguna tabla\n"));
}

}  // namespace
}  // namespace pasarela
