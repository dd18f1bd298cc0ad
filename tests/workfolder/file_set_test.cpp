#include "workfolder/file_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dbf/dbf_test_support.h"
#include "os/error.h"
#include "os/error_message.h"
#include "os/write_fault.h"
#include "test_support.h"

namespace pasarela {
namespace {

// Three files replaced as one set, with a file outside the folder that a planted link
// could lead to.
class FileSetTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        target_ = folder_ / "VTEMP";
        staging_ = target_ / ".staging";
        outside_ = folder_ / "notas.txt";
        std::filesystem::create_directories(staging_);
        for (const std::string& name : names_) {
            test::WriteFileBytes(target_ / name, "antigua " + name);
            test::WriteFileBytes(staging_ / name, "nueva " + name);
        }
        test::WriteFileBytes(outside_, "notas de otro programa");
    }

    std::map<std::string, std::string> Targets() const
    {
        std::map<std::string, std::string> bytes;
        for (const std::string& name : names_)
            bytes[name] = test::ReadFileBytes(target_ / name);
        return bytes;
    }

    std::map<std::string, std::string> OldTargets() const
    {
        std::map<std::string, std::string> bytes;
        for (const std::string& name : names_)
            bytes[name] = "antigua " + name;
        return bytes;
    }

    const std::vector<std::string> names_ = {"ASIGNOMT.DBF", "PROFT.DBF", "AULAT.DBF"};
    std::filesystem::path target_;
    std::filesystem::path staging_;
    std::filesystem::path outside_;
};

TEST_F(FileSetTest, StagedFileSwappedAfterItWasWrittenIsNeverPublished)
{
    struct Case {
        std::string name;
        std::string swapped;  // which staged file is swapped
        std::function<void(const std::filesystem::path&, std::error_code&)> swap;
    };
    const Case cases[] = {
        {"the last, for a symbolic link out of the folder", "AULAT.DBF",
         [&](const std::filesystem::path& at, std::error_code& ec) {
             std::filesystem::remove(at);
             std::filesystem::create_symlink(outside_, at, ec);
         }},
        {"the last, for a hard link to a file out of the folder", "AULAT.DBF",
         [&](const std::filesystem::path& at, std::error_code& ec) {
             std::filesystem::remove(at);
             std::filesystem::create_hard_link(outside_, at, ec);
         }},
        {"the first, for another plain file", "ASIGNOMT.DBF",
         [](const std::filesystem::path& at, std::error_code& ec) {
             // Made beside it and renamed over it, so the system cannot hand it the freed
             // file's number again.
             test::WriteFileBytes(at.string() + ".otra", "otra tabla");
             std::filesystem::rename(at.string() + ".otra", at, ec);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileSetChange change{RecordStagedFiles(staging_, names_), {}, {}};
        const auto staged = staging_ / c.swapped;
        std::error_code ec;
        c.swap(staged, ec);
        if (ec)
            GTEST_SKIP() << "cannot make a link here: " << ec.message();

        EXPECT_EQ(test::ErrorMessageOf([&] { CommitFileSet(staging_, target_, change); }),
                  "El archivo '" + DisplayPath(staged) +
                      "' ya no es el que escribió Pasarela (otro programa lo ha cambiado o lo ha sustituido por un "
                      "enlace): se mantienen las tablas anteriores");
        EXPECT_EQ(Targets(), OldTargets());
        EXPECT_FALSE(HasPendingCommit(staging_));
        EXPECT_EQ(test::ReadFileBytes(outside_), "notas de otro programa");
        // The next set is written afresh, as the next import would.
        std::filesystem::remove(staged);
        test::WriteFileBytes(staged, "nueva " + c.swapped);
    }
    // The files the commit was given still go through.
    EXPECT_THAT(CommitFileSet(staging_, target_, {RecordStagedFiles(staging_, names_), {}, {}}).warnings, IsEmpty());
    EXPECT_EQ(test::ReadFileBytes(target_ / "PROFT.DBF"), "nueva PROFT.DBF");
}

// Another program that puts its own file in a table's place in the very instant the
// commit publishes it: the file is moved back out, every old table put back, and nothing
// is left for a later run to finish.
TEST_F(FileSetTest, FileSwappedInTheInstantOfItsRenameIsMovedBackOut)
{
    for (const std::string& swapped : names_) {
        SCOPED_TRACE(swapped);
        FileSetChange change{RecordStagedFiles(staging_, names_), {}, {}};
        const auto target = target_ / swapped;
        bool done = false;
        AfterEachRename([&](const std::filesystem::path&, const std::filesystem::path& to) {
            if (to != target || done)
                return;
            done = true;
            // Made beside it and renamed over it, so the system cannot hand it the freed
            // file's number again.
            test::WriteFileBytes(target.string() + ".otra", "otra tabla");
            std::filesystem::rename(target.string() + ".otra", target);
        });
        const std::string message = test::ErrorMessageOf([&] { CommitFileSet(staging_, target_, change); });
        AfterEachRename({});
        EXPECT_EQ(message, "El archivo '" + DisplayPath(target) +
                               "' no es el que escribió Pasarela (otro programa lo ha sustituido al publicarlo): se "
                               "mantienen las tablas anteriores");
        EXPECT_EQ(Targets(), OldTargets());
        EXPECT_FALSE(HasPendingCommit(staging_));
        EXPECT_EQ(test::ReadFileBytes(staging_ / swapped), "otra tabla");
        // The next set is written afresh, as the next import would.
        for (const std::string& name : names_)
            test::WriteFileBytes(staging_ / name, "nueva " + name);
    }
    EXPECT_THAT(CommitFileSet(staging_, target_, {RecordStagedFiles(staging_, names_), {}, {}}).warnings, IsEmpty());
    EXPECT_EQ(test::ReadFileBytes(target_ / "AULAT.DBF"), "nueva AULAT.DBF");
}

TEST_F(FileSetTest, OnlyPlainFilesWithOneNameAreRecorded)
{
    std::filesystem::remove(staging_ / "PROFT.DBF");
    std::error_code ec;
    std::filesystem::create_hard_link(outside_, staging_ / "PROFT.DBF", ec);
    if (ec)
        GTEST_SKIP() << "cannot make a hard link here: " << ec.message();
    EXPECT_EQ(test::ErrorMessageOf([&] { RecordStagedFiles(staging_, names_); }),
              "El archivo '" + DisplayPath(staging_ / "PROFT.DBF") +
                  "' no es un archivo corriente (es un enlace o falta): no se ha cambiado ninguna tabla");
}

}  // namespace
}  // namespace pasarela
