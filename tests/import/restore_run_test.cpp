#include "import/restore_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "app/cli.h"
#include "import/import_run.h"
#include "import/import_test_support.h"
#include "os/error.h"
#include "os/error_message.h"
#include "os/file.h"
#include "test_support.h"
#include "workfolder/file_set.h"

namespace pasarela {
namespace {

using Files = std::map<std::string, std::string>;

// An import replaces six tables the school may have adjusted in Orlavi since: the set it
// replaced is kept, and a restore puts it back through the same commit.
class RestoreRunTest : public test::ImportTest {
protected:
    // The first school, imported and then adjusted by Orlavi (indexes beside its tables),
    // then a second school imported over it: the files of the first, as they were.
    Files ImportTwice()
    {
        Import(test::SmallSchool());
        for (const std::string& table : ImportedTableNames())
            test::WriteBytes(workDir_ / (table + ".MDX"), "índice de " + table);
        const Files first = Snapshot();
        secondReport_ = Import(test::SmallSchool({.teacher = "OTRO"}));
        return first;
    }

    RunReport Restore(bool check = false) const { return RunRestore({.workingDir = workDir_, .checkOnly = check}); }

    // The newest kept generation; the generations' folder while none is kept.
    std::filesystem::path Kept() const
    {
        const auto folders = KeptGenerationFolders(workDir_);
        return folders.empty() ? KeptGenerationsFolder(workDir_) : folders.front();
    }

    RunReport secondReport_;
};

TEST_F(RestoreRunTest, ImportImportRestoreGivesBackTheFirstSetByteForByte)
{
    const Files first = ImportTwice();
    EXPECT_EQ(secondReport_.KeptSet(), Kept());
    EXPECT_THAT(secondReport_.Summary(), HasSubstr("Las tablas reemplazadas se guardan en '" + DisplayPath(Kept()) +
                                                   "' (pasarela-cli restore las vuelve a poner)\n"));
    const Files second = Snapshot();

    const RunReport report = Restore();
    EXPECT_EQ(Snapshot(), first);
    EXPECT_EQ(report.Rows("PROFT"), 2u);
    EXPECT_EQ(report.KeptSet(), Kept());
    EXPECT_FALSE(std::filesystem::exists(workDir_ / ".pasarela-import"));

    // The restore kept what it replaced: a second one swaps back.
    Restore();
    EXPECT_EQ(Snapshot(), second);
    Restore();
    EXPECT_EQ(Snapshot(), first);
}

TEST_F(RestoreRunTest, FirstImportKeepsNothingAndReportsNoFolder)
{
    const RunReport report = Import(test::SmallSchool());
    EXPECT_TRUE(report.KeptSet().empty());
    EXPECT_THAT(report.Summary(), Not(HasSubstr("se guardan")));
    EXPECT_FALSE(std::filesystem::exists(Kept()));
}

TEST_F(RestoreRunTest, CheckSaysWhatARestoreWouldPutBackAndChangesNothing)
{
    ImportTwice();
    const Files before = Snapshot();
    std::ostringstream out, err;
    EXPECT_EQ(RunCli({"restore", "--vtemp", DisplayPath(workDir_), "--check"}, out, err), kCliOk) << err.str();
    EXPECT_THAT(out.str(), AllOf(StartsWith("Tablas guardadas en '" + DisplayPath(Kept()) +
                                            "', que una restauración volvería a poner:\nASIGNOMT: "),
                                 HasSubstr("\nPROFT: 2 filas\n"),
                                 EndsWith("Comprobación terminada: no se ha cambiado ninguna tabla\n")));
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(RestoreRunTest, KeptSetThatIsMissingIncompleteOrTamperedWithIsRefusedAndNothingChanges)
{
    struct Case {
        std::string name;
        std::function<bool(std::string&)> spoil;  // false (with why) when this system cannot
        std::string message;
        int status;
    };
    const auto outside = folder_ / "notas.txt";
    const auto refused = [&](const std::string& why) {
        return "pasarela-cli: error: Las tablas guardadas en '" + DisplayPath(Kept()) +
               "' no se pueden restaurar: " + why + ". No se ha cambiado ninguna tabla\n";
    };
    const Case cases[] = {
        {"nothing kept", [&](std::string&) { return std::filesystem::remove_all(Kept()) > 0; },
         "No hay tablas guardadas de una importación anterior en '" + DisplayPath(workDir_) +
             "': no hay nada que restaurar\n",
         kCliMissingInput},
        {"a table missing", [&](std::string&) { return std::filesystem::remove(Kept() / "AULAT.DBF"); },
         refused("falta la tabla 'AULAT.DBF'"), kCliError},
        {"a symbolic link in place of a table",
         [&](std::string& whyNot) {
             std::filesystem::remove(Kept() / "PROFT.DBF");
             std::error_code ec;
             std::filesystem::create_symlink(outside, Kept() / "PROFT.DBF", ec);
             whyNot = ec.message();
             return !ec;
         },
         refused("'PROFT.DBF' no es un archivo corriente (es un enlace o una carpeta)"), kCliError},
        {"a hard link in place of a table",
         [&](std::string& whyNot) {
             std::filesystem::remove(Kept() / "PROFT.DBF");
             std::error_code ec;
             std::filesystem::create_hard_link(outside, Kept() / "PROFT.DBF", ec);
             whyNot = ec.message();
             return !ec;
         },
         refused("'PROFT.DBF' no es un archivo corriente (es un enlace o una carpeta)"), kCliError},
        {"a file of another program", [&](std::string&) {
             test::WriteBytes(Kept() / "notas.txt", "otra cosa");
             return true;
         },
         refused("contiene 'notas.txt', que no es ninguna de las tablas"), kCliError},
        {"a file that is not a table", [&](std::string&) {
             test::WriteBytes(Kept() / "GRUPOST.DBF", "no es una tabla");
             return true;
         },
         "pasarela-cli: error: Las tablas guardadas en '" + DisplayPath(Kept()) +
             "' no se pueden restaurar. No se ha cambiado ninguna tabla: ",
         kCliError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(workDir_);
        std::filesystem::create_directory(workDir_);
        ImportTwice();
        test::WriteBytes(outside, "notas de otro programa");
        std::string whyNot;
        if (!c.spoil(whyNot)) {
            GTEST_SKIP() << "cannot spoil the kept set here: " << whyNot;
        }
        const Files before = Snapshot();
        const auto listing = [&] {
            std::vector<std::string> names;
            for (const auto& item : std::filesystem::recursive_directory_iterator(workDir_))
                names.push_back(item.path().lexically_relative(workDir_).generic_string());
            std::sort(names.begin(), names.end());
            return names;
        };
        const auto listed = listing();
        for (const bool check : {true, false}) {
            SCOPED_TRACE(check ? "--check" : "restore");
            std::ostringstream out, err;
            std::vector<std::string> args = {"restore", "--vtemp", DisplayPath(workDir_)};
            if (check)
                args.push_back("--check");
            EXPECT_EQ(RunCli(args, out, err), c.status);
            EXPECT_THAT(err.str(), StartsWith(c.message));
            EXPECT_EQ(Snapshot(), before);
            EXPECT_EQ(listing(), listed);
            EXPECT_EQ(test::ReadBytes(outside), "notas de otro programa");
        }
    }
}

}  // namespace
}  // namespace pasarela
