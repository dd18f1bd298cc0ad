#include "os/atomic_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbf/dbf_test_support.h"
#include "os/error.h"
#include "os/file.h"

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
        EXPECT_EQ(ErrorMessageOf<FileInUseError>([&] { out.Commit(); }),
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

TEST_F(AtomicFileTest, TemporaryNameIsNeverLongerThanTheTargetsFromThirteenCharactersUp)
{
    // Up to 255 bytes, the longest name Linux takes; accented letters (two bytes each) so the
    // cut also falls inside a character.
    struct Case {
        std::string_view name;
        std::string fileName;
    };
    const std::string accented = "Resultado\xC3\xA1\xC3\xA9";
    const Case cases[] = {
        {"short", "A.DBF"},
        {"13 characters", "ABCDEFGHI.DBF"},
        {"an export's usual name", "ResultadoOrlaviscentro.xml"},
        {"255 bytes", std::string(251, 'x') + ".xml"},
        {"254 bytes with accents", accented + std::string(254 - accented.size() - 4, 'n') + ".xml"},
        {"240 bytes, accents where the cut falls", std::string(226, 'z') + "\xC3\xB1\xC3\xB1\xC3\xB1.xml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path target = folder_ / std::filesystem::path(c.fileName);
#ifdef _WIN32
        // Byte lengths and names from UTF-8 are the Linux view; here only the ASCII names
        // that fit in MAX_PATH.
        if (target.native().size() >= 260 ||
            std::any_of(c.fileName.begin(), c.fileName.end(), [](char ch) { return (ch & 0x80) != 0; }))
            continue;
#endif
        AtomicFile out(target);
        out.Write("contenido");
        const std::vector<std::string> during = FolderContents();
        ASSERT_EQ(during.size(), 1u);
        const std::string temp = during[0];
        EXPECT_TRUE(temp.ends_with(".tmp")) << temp;
        EXPECT_LE(temp.size(), std::max<std::size_t>(c.fileName.size(), 13)) << temp;
        out.Commit();
        EXPECT_EQ(ReadFileBytes(target), "contenido");
        EXPECT_EQ(FolderContents(), std::vector<std::string>{c.fileName});
        std::filesystem::remove(target);
    }
}

}  // namespace
}  // namespace pasarela
