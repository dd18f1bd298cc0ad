#include "os/file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "os/error.h"

namespace pasarela {
namespace {

using test::ErrorMessageOf;
using test::ReadFileBytes;
using ::testing::AllOf;
using ::testing::HasSubstr;

const FieldSpec kFields[] = {{"ABREV", FieldKind::Character, 10}, {"MAXALUM", FieldKind::Integer, 0}};

class FileLockTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        DbfTable::Create(Table(), kFields);
        DbfTable table = DbfTable::Open(Table(), test::ReadWrite());
        table.Append();
        table.SetString(0, "MAT");
        table.SetInteger(1, 30);
        table.Post();
    }

    std::filesystem::path Table() const { return folder_ / "PROFT.DBF"; }
    std::string InUse() const { return "El archivo '" + DisplayPath(Table()) + "' está en uso por otro programa"; }
};

TEST_F(FileLockTest, SecondOpenInTheSameProgramIsRefusedUntilTheFirstCloses)
{
    using Access = DbfTable::Access;
    struct Case {
        std::string_view name;
        Access first;
        Access second;
    };
    const Case cases[] = {
        {"read, then read", Access::Read, Access::Read},
        {"read, then write", Access::Read, Access::ReadWrite},
        {"write, then read", Access::ReadWrite, Access::Read},
        {"write, then write", Access::ReadWrite, Access::ReadWrite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DbfTable::OpenOptions first, second;
        first.access = c.first;
        second.access = c.second;
        DbfTable held = DbfTable::Open(Table(), first);
        EXPECT_EQ(ErrorMessageOf([&] { DbfTable::Open(Table(), second); }), InUse());

        held.Close();
        EXPECT_FALSE(held.IsOpen());
        DbfTable reopened = DbfTable::Open(Table(), second);
        EXPECT_EQ(reopened.RecordCount(), 1u);
    }
}

TEST_F(FileLockTest, TheLockGoesWithAMovedTableAndEndsWithIt)
{
    {
        DbfTable original = DbfTable::Open(Table());
        DbfTable moved = std::move(original);
        EXPECT_EQ(ErrorMessageOf([&] { DbfTable::Open(Table()); }), InUse());
        moved.First();
        EXPECT_EQ(moved.AsString(0), "MAT");
    }
    EXPECT_NO_THROW(DbfTable::Open(Table()));
}

TEST_F(FileLockTest, HeldTableIsNeitherReplacedNorCutNorRemoved)
{
    const std::string before = ReadFileBytes(Table());
    DbfTable held = DbfTable::Open(Table());

    EXPECT_EQ(ErrorMessageOf([&] { DbfTable::Create(Table(), kFields); }), InUse());
    EXPECT_EQ(ErrorMessageOf([&] { File::Open(Table(), File::Mode::Create); }), InUse());
    EXPECT_EQ(ErrorMessageOf([&] { RemoveFile(Table()); }), InUse());

    held.First();
    EXPECT_EQ(held.AsInteger(1), 30);
    held.Close();  // on Windows not even this test may read the file while it is held
    EXPECT_EQ(ReadFileBytes(Table()), before);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"PROFT.DBF"});  // no temporary file left
}

TEST_F(FileLockTest, MissingTableIsNamed)
{
    const auto missing = folder_ / "AULAT.DBF";
    EXPECT_EQ(ErrorMessageOf([&] { DbfTable::Open(missing); }),
              "No existe el archivo '" + DisplayPath(missing) + "'");
}

// Runs `command` through the system shell, the way a user would start the program.
int RunShell(const std::string& command)
{
#ifdef _WIN32
    // cmd /c drops the first and last quote of a line that starts with one; the extra pair
    // keeps the quoted program path intact.
    return std::system(("\"" + command + "\"").c_str());
#else
    return std::system(command.c_str());
#endif
}

std::string Quoted(const std::filesystem::path& path) { return "\"" + DisplayPath(path) + "\""; }

TEST_F(FileLockTest, AnotherProgramCannotOpenAHeldTable)
{
    const char* cli = std::getenv("PASARELA_CLI");
    if (cli == nullptr || *cli == '\0')
        GTEST_SKIP() << "PASARELA_CLI is not set; it names the pasarela-cli program this test runs";
    const auto out = folder_ / "salida.txt";
    const auto err = folder_ / "errores.txt";
    const std::string command = "\"" + std::string(cli) + "\" dump " + Quoted(Table()) + " > " + Quoted(out) +
                                " 2> " + Quoted(err);

    // First on the free table, so a failure below is the lock and not a broken command.
    ASSERT_EQ(RunShell(command), 0) << ReadFileBytes(err);
    EXPECT_THAT(ReadFileBytes(out), HasSubstr("MAT"));

    DbfTable held = DbfTable::Open(Table());
    EXPECT_NE(RunShell(command), 0);
    EXPECT_THAT(ReadFileBytes(err), AllOf(HasSubstr("PROFT.DBF"), HasSubstr("en uso")));

    held.Close();
    EXPECT_EQ(RunShell(command), 0) << ReadFileBytes(err);
}

}  // namespace
}  // namespace pasarela
