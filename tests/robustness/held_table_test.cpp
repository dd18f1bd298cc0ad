#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include "app/cli.h"
#include "dbf/dbf_table.h"
#include "export/export_run.h"
#include "import/import_run.h"
#include "os/file.h"
#include "robustness/robustness_test_support.h"
#include "test_support.h"

namespace pasarela {
namespace {

// Orlavi keeps its tables open while the user works: the command line, run as a program of
// its own while this test holds one file, must refuse cleanly and change nothing.
class HeldTableTest : public test::ImportTest {
protected:
    static constexpr int kEntries = 5;

    void SetUp() override
    {
        test::ImportTest::SetUp();
        if (test::CliPath().empty())
            GTEST_SKIP() << "PASARELA_CLI is not set; it names the pasarela-cli program these tests run";
        Import(test::GeneratedSchool(kEntries, "primero"));
        test::WriteSolution(workDir_ / "SOLUC.DBF", 20, kEntries);
    }

    test::CliResult Cli(const std::string& command, const std::filesystem::path& xml) const
    {
        return test::RunCliProgram({command, DisplayPath(xml), "--vtemp", DisplayPath(workDir_)}, folder_);
    }

    static std::string InUse(const std::filesystem::path& path)
    {
        return "pasarela-cli: error: El archivo '" + DisplayPath(path) + "' está en uso por otro programa\n";
    }
};

TEST_F(HeldTableTest, ImportRefusesAndKeepsEveryTableWhileOneIsHeld)
{
    const auto xml = WriteXml(test::GeneratedSchool(kEntries + 2, "segundo"), "segundo.xml");
    for (const std::string& table : ImportedTableNames()) {
        SCOPED_TRACE(table);
        const auto path = TablePath(table);
        const auto before = Snapshot();  // read before holding: Windows lets no one read a held file
        test::CliResult result;
        {
            DbfTable held = DbfTable::Open(path);
            result = Cli("import", xml);
        }
        EXPECT_EQ(result.status, kCliError);
        EXPECT_EQ(result.errors, InUse(path));
        EXPECT_EQ(Snapshot(), before);
        EXPECT_THAT(test::Leftovers(workDir_), IsEmpty());
    }
    EXPECT_EQ(Cli("import", xml).status, kCliOk);  // and goes through once nothing is held
    EXPECT_EQ(ReadColumn("PROFT", "ABREV").size(), static_cast<std::size_t>(kEntries + 2));
}

TEST_F(HeldTableTest, TableUnderARecordLockIsInUseAsOneUnderFlock)
{
#ifndef __linux__
    GTEST_SKIP() << "record locks apart from the file's own lock are a POSIX matter";
#else
    // Programs on Linux lock files with lockf or fcntl as often as with flock, and the
    // kinds do not see each other: each must keep the import off the table.
    struct Case {
        std::string name;
        int openFlags;
        std::function<int(int)> lock;  // 0 when the lock was taken
    };
    const auto whole = [](short type) {
        struct flock lock {};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        return lock;
    };
    const Case cases[] = {
        {"lockf", O_RDWR, [](int fd) { return ::lockf(fd, F_TLOCK, 0); }},
        {"fcntl read lock", O_RDONLY,
         [&](int fd) {
             struct flock lock = whole(F_RDLCK);
             return ::fcntl(fd, F_SETLK, &lock);
         }},
        {"open file description lock", O_RDWR,
         [&](int fd) {
             struct flock lock = whole(F_WRLCK);
             return ::fcntl(fd, F_OFD_SETLK, &lock);
         }},
    };
    const auto xml = WriteXml(test::GeneratedSchool(kEntries + 2, "segundo"), "segundo.xml");
    const auto path = TablePath("AULAT");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = Snapshot();
        const int fd = ::open(path.c_str(), c.openFlags | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(c.lock(fd), 0);
        const test::CliResult result = Cli("import", xml);
        ::close(fd);
        EXPECT_EQ(result.status, kCliError);
        EXPECT_EQ(result.errors, InUse(path));
        EXPECT_EQ(Snapshot(), before);
    }
#endif
}

TEST_F(HeldTableTest, SecondImportIntoTheSameFolderIsToldApart)
{
    const auto xml = WriteXml(test::GeneratedSchool(kEntries + 2, "segundo"), "segundo.xml");
    const auto before = Snapshot();
    test::CliResult result;
    {
        // The lock of an import that is running now, as that import holds it.
        std::filesystem::create_directory(workDir_ / ".pasarela-import");
        File lock = File::Open(workDir_ / ".pasarela-import" / "LOCK", File::Mode::Create);
        result = Cli("import", xml);
    }
    EXPECT_EQ(result.status, kCliError);
    EXPECT_EQ(result.errors,
              "pasarela-cli: error: Ya hay otra importación en curso en '" + DisplayPath(workDir_) + "'\n");
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(HeldTableTest, ExportRefusesWhileATableOrTheEarlierOutputIsHeld)
{
    const auto xml = folder_ / "dasteno.xml";
    const auto output = ExportOutputPath(xml);
    std::vector<std::filesystem::path> held = {workDir_ / "SOLUC.DBF", TablePath("GRUPOST"), TablePath("PROFT"),
                                               TablePath("AULAT"), TablePath("ASIGNOMT"), TablePath("ASIGT")};
    held.push_back(output);
    test::WriteBytes(output, "la exportación anterior");
    const auto tables = Snapshot();
    const auto listing = test::TreeListing(folder_);
    for (const auto& path : held) {
        SCOPED_TRACE(DisplayPath(path.filename()));
        test::CliResult result;
        {
            File holder = File::Open(path, File::Mode::Read);
            result = Cli("export", xml);
        }
        EXPECT_EQ(result.status, kCliError);
        EXPECT_EQ(result.errors, InUse(path));
        EXPECT_EQ(test::ReadBytes(output), "la exportación anterior");
        EXPECT_EQ(test::TreeListing(folder_), listing);  // no temporary file beside the output either
        EXPECT_EQ(Snapshot(), tables);
    }
    EXPECT_EQ(Cli("export", xml).status, kCliOk);
    EXPECT_NE(test::ReadBytes(output), "la exportación anterior");
}

}  // namespace
}  // namespace pasarela
