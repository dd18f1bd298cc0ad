#include "platform/atomic_file.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dbf_test_support.h"
#include "platform/error.h"
#include "platform/file.h"

namespace pasarela {
namespace {

using test::ErrorMessageOf;
using test::ReadFileBytes;
using test::WriteFileBytes;

class AtomicFileTest : public test::TempFolderTest {
protected:
    std::filesystem::path Target() const { return folder_ / "GRUPOST.DBF"; }
};

TEST_F(AtomicFileTest, CommitPublishesEveryByteAndLeavesNothingElse)
{
    // Pieces around the internal buffer size, one larger than it, so every path is taken.
    std::string expected;
    AtomicFile out(Target());
    for (std::size_t size : {10u, 65536u - 10u, 20u, 200000u, 1u, 65536u}) {
        const std::string piece(size, static_cast<char>('a' + expected.size() % 26));
        out.Write(piece);
        expected += piece;
    }
    EXPECT_FALSE(std::filesystem::exists(Target()));  // nothing published before Commit
    out.Commit();

    EXPECT_EQ(ReadFileBytes(Target()), expected);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"GRUPOST.DBF"});
}

TEST_F(AtomicFileTest, FailureBeforeCommitKeepsThePreviousTarget)
{
    struct Case {
        std::string_view name;
        bool targetExists;
    };
    const Case cases[] = {{"over an existing table", true}, {"where there was none", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(Target());
        if (c.targetExists)
            WriteFileBytes(Target(), "previous");
        try {
            AtomicFile out(Target());
            out.Write("half a table");
            throw std::runtime_error("the run failed");  // before Commit
        } catch (const std::runtime_error&) {
        }
        if (c.targetExists) {
            EXPECT_EQ(ReadFileBytes(Target()), "previous");
            EXPECT_EQ(FolderContents(), std::vector<std::string>{"GRUPOST.DBF"});
        } else {
            EXPECT_TRUE(FolderContents().empty());
        }
    }
}

TEST_F(AtomicFileTest, FailedCommitKeepsTheHeldTargetAndRemovesTheTemporaryFile)
{
    WriteFileBytes(Target(), "previous");
    {
        File held = File::Open(Target(), File::Mode::Read);
        AtomicFile out(Target());
        out.Write("new");
        EXPECT_EQ(ErrorMessageOf([&] { out.Commit(); }),
                  "El archivo '" + DisplayPath(Target()) + "' está en uso por otro programa");
    }
    EXPECT_EQ(ReadFileBytes(Target()), "previous");
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"GRUPOST.DBF"});
}

TEST_F(AtomicFileTest, MissingFolderIsNamed)
{
    const auto missing = folder_ / "VTEMP";
    EXPECT_EQ(ErrorMessageOf([&] { AtomicFile out(missing / "GRUPOST.DBF"); }),
              "No existe la carpeta '" + DisplayPath(missing) + "'");
}

}  // namespace
}  // namespace pasarela
