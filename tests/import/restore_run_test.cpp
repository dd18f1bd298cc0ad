#include "import/restore_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "app/cli.h"
#include "dbf/dbf_table.h"
#include "import/import_run.h"
#include "import/import_test_support.h"
#include "os/error.h"
#include "os/error_message.h"
#include "os/file.h"
#include "os/write_fault.h"
#include "test_support.h"
#include "workfolder/file_set.h"
#include "workfolder/kept_set.h"

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
            test::WriteBytes(workDir_ / (table + ".MDX"), IndexOf(table));
        const Files first = Snapshot();
        secondReport_ = Import(test::SmallSchool({.teacher = "OTRO"}));
        return first;
    }

    // The head of a dBase IV index of `table`, as Orlavi leaves one beside it.
    static std::string IndexOf(const std::string& table)
    {
        std::string bytes = "\x02\x1A\x03\x0A" + table;
        bytes.resize(512, '\0');
        return bytes;
    }

    RunReport Restore(bool check = false, int generation = 1) const
    {
        return RunRestore({.workingDir = workDir_, .checkOnly = check, .generation = generation});
    }

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
    EXPECT_EQ(secondReport_.KeptSet(), KeptGenerationsFolder(workDir_) / "0000000001");
    EXPECT_EQ(secondReport_.KeptSet(), Kept());
    EXPECT_THAT(secondReport_.Summary(), HasSubstr("Las tablas reemplazadas se guardan en '" + DisplayPath(Kept()) +
                                                   "' (pasarela-cli restore las vuelve a poner)\n"));
    const Files second = Snapshot();

    const RunReport report = Restore();
    EXPECT_EQ(Snapshot(), first);
    EXPECT_EQ(report.Rows("PROFT"), 2u);
    EXPECT_EQ(report.KeptSet(), Kept());
    EXPECT_EQ(ListKeptGenerations(workDir_).size(), 2u);
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
    EXPECT_THAT(out.str(), AllOf(StartsWith("Una restauración volvería a poner las tablas guardadas número 1, del "
                                            "centro 41000001 (IES Ejemplo, 2013), importadas el "),
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
    // Where ImportTwice keeps the first set.
    const auto newest = KeptGenerationsFolder(workDir_) / "0000000001";
    const auto refused = [&](const std::string& why) {
        return "pasarela-cli: error: Las tablas guardadas en '" + DisplayPath(newest) +
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
         "pasarela-cli: error: Las tablas guardadas en '" + DisplayPath(newest) +
             "' no se pueden restaurar. No se ha cambiado ninguna tabla: ",
         kCliError},
        {"a table with another table's fields", [&](std::string&) {
             std::filesystem::copy_file(Kept() / "AULAT.DBF", Kept() / "PROFT.DBF",
                                        std::filesystem::copy_options::overwrite_existing);
             return true;
         },
         refused("'PROFT.DBF' no tiene los campos de la tabla PROFT: su campo 3 es EDIFICIO y debería ser DEPART"),
         kCliError},
        {"a field of another width", [&](std::string&) {
             const std::vector<FieldSpec> fields = {{"ABREV", FieldKind::Character, 10},
                                                    {"NOMBRE", FieldKind::Character, 30},
                                                    {"EDIFICIO", FieldKind::Character, 1},
                                                    {"MAXALUM", FieldKind::Integer, 0},
                                                    {"IDAULA", FieldKind::Character, 20}};
             std::filesystem::remove(Kept() / "AULAT.DBF");
             DbfTable::Create(Kept() / "AULAT.DBF", fields);
             return true;
         },
         refused("'AULAT.DBF' no tiene los campos de la tabla AULAT: el campo NOMBRE tiene 30 caracteres y debería "
                 "tener 80"),
         kCliError},
        {"an index that is not one", [&](std::string&) {
             test::WriteBytes(Kept() / "PROFT.MDX", "basura");
             return true;
         },
         refused("'PROFT.MDX' no es un índice de dBase"), kCliError},
        {"another table's index", [&](std::string&) {
             test::WriteBytes(Kept() / "PROFT.MDX", IndexOf("AULAT"));
             return true;
         },
         refused("'PROFT.MDX' es el índice de AULAT, no de PROFT"), kCliError},
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

TEST_F(RestoreRunTest, SameImportRepeatedKeepsNothingNewSoTheRestoreGivesTheSetBeforeBack)
{
    Import(test::SmallSchool());
    const Files first = Snapshot();
    Import(test::SmallSchool({.teacher = "OTRO"}));
    // Enter three times: the same file again.
    const RunReport repeated = Import(test::SmallSchool({.teacher = "OTRO"}));
    EXPECT_EQ(ListKeptGenerations(workDir_).size(), 1u);
    EXPECT_EQ(repeated.KeptSet(), Kept());

    Restore();
    EXPECT_EQ(Snapshot(), first);
}

TEST_F(RestoreRunTest, TenGenerationsAreKeptAndAnEleventhLetsTheOldestGo)
{
    std::vector<Files> sets;
    for (int i = 0; i < 12; ++i) {
        Import(test::SmallSchool({.teacher = "T" + std::to_string(i)}));
        sets.push_back(Snapshot());
    }
    // Eleven sets were replaced: the first one went.
    const std::vector<KeptGeneration> generations = ListKeptGenerations(workDir_);
    ASSERT_EQ(generations.size(), kKeptGenerations);
    for (const KeptGeneration& generation : generations) {
        SCOPED_TRACE(generation.number);
        const Files& set = sets[static_cast<std::size_t>(11 - generation.number)];
        EXPECT_EQ(test::ReadBytes(generation.folder / "PROFT.DBF"), set.at("PROFT.DBF"));
        EXPECT_EQ(test::ReadBytes(generation.folder / "PASARELA-CENTRO.TXT"), set.at("PASARELA-CENTRO.TXT"));
        EXPECT_EQ(generation.job, "importación");
        EXPECT_EQ(generation.file, folder_ / "dasteno.xml");
        EXPECT_EQ(generation.school, (SchoolIdentity{"41000001", "IES Ejemplo", "2013"}));
        EXPECT_FALSE(generation.dateTime.empty());
        EXPECT_THAT(generation.rows, ::testing::Contains(std::pair<std::string, std::size_t>{"PROFT", 2}));
        EXPECT_EQ(generation.rows.size(), 6u);
    }
    std::size_t folders = 0;
    for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(KeptGenerationsFolder(workDir_)))
        ++folders;
    EXPECT_EQ(folders, kKeptGenerations);

    // The oldest kept can be put back, and the set it replaces becomes the newest.
    Restore(false, 10);
    EXPECT_EQ(Snapshot(), sets[1]);
    EXPECT_EQ(test::ReadBytes(ListKeptGenerations(workDir_).front().folder / "PROFT.DBF"), sets[11].at("PROFT.DBF"));
    EXPECT_EQ(test::ErrorMessageOf<MissingInputError>([&] { Restore(false, 11); }),
              "No hay tablas guardadas con el número 11 en '" + DisplayPath(workDir_) + "': hay 10, de la 1 a la 10");
}

TEST_F(RestoreRunTest, SetKeptByAnOlderVersionIsTheOldestAndCanBePutBack)
{
    Import(test::SmallSchool());
    Files first = Snapshot();
    Import(test::SmallSchool({.teacher = "OTRO"}));
    // An older version kept the tables alone, in one folder.
    std::filesystem::rename(Kept(), LegacyKeptSetFolder(workDir_));
    std::filesystem::remove(LegacyKeptSetFolder(workDir_) / kKeptDescriptionName);
    std::filesystem::remove(LegacyKeptSetFolder(workDir_) / kSchoolRecordName);
    first.erase(kSchoolRecordName);

    const std::vector<KeptGeneration> listed = ListKeptGenerations(workDir_);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].folder, LegacyKeptSetFolder(workDir_));
    EXPECT_EQ(listed[0].school, std::nullopt);

    // Put back, it takes the newer record away with the newer tables.
    Restore();
    EXPECT_EQ(Snapshot(), first);
    // The next change moves it among the generations, as the oldest.
    EXPECT_FALSE(std::filesystem::exists(LegacyKeptSetFolder(workDir_)));
    const std::vector<KeptGeneration> after = ListKeptGenerations(workDir_);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[1].folder, KeptGenerationsFolder(workDir_) / "0000000000");
    EXPECT_EQ(after[0].school, (SchoolIdentity{"41000001", "IES Ejemplo", "2013"}));
}

TEST_F(RestoreRunTest, SetThatCannotBeKeptIsSaidPlainlyAndTheEarlierGenerationsStay)
{
    const auto prepare = [&] {
        std::filesystem::remove_all(workDir_);
        std::filesystem::create_directory(workDir_);
        for (const char* teacher : {"A1", "B2", "C3"})
            Import(test::SmallSchool({.teacher = teacher}));
    };
    // The last rename of an import that keeps what it replaced is the keeping itself.
    prepare();
    FailFileChanges(FileChange::Rename, 1000000);
    Import(test::SmallSchool({.teacher = "D4"}));
    const std::uint64_t renames = FileChangesSeen(FileChange::Rename);
    FailFileChanges(FileChange::Rename, 0);

    prepare();
    std::map<std::filesystem::path, std::string> before;
    for (const KeptGeneration& generation : ListKeptGenerations(workDir_))
        before[generation.folder] = test::ReadBytes(generation.folder / "PROFT.DBF");
    ASSERT_EQ(before.size(), 2u);
    FailFileChanges(FileChange::Rename, renames);
    const RunReport report = Import(test::SmallSchool({.teacher = "D4"}));
    FailFileChanges(FileChange::Rename, 0);

    EXPECT_THAT(test::ReadBytes(workDir_ / "PROFT.DBF"), HasSubstr("D4"));
    ASSERT_THAT(report.Headlines(), Not(IsEmpty()));
    EXPECT_THAT(report.Headlines().front(),
                AllOf(StartsWith("Las tablas que había antes de este cambio no se han podido guardar, así que no se "
                                 "podrá deshacer: "),
                      EndsWith(". Se conservan las 2 copias guardadas antes")));
    EXPECT_THAT(report.Summary(), StartsWith(report.Headlines().front()));
    EXPECT_TRUE(report.KeptSet().empty());
    EXPECT_EQ(report.Count("tablas", "limpieza pendiente tras completar el cambio (la hará la próxima ejecución)"), 0u);
    std::map<std::filesystem::path, std::string> after;
    for (const KeptGeneration& generation : ListKeptGenerations(workDir_))
        after[generation.folder] = test::ReadBytes(generation.folder / "PROFT.DBF");
    EXPECT_EQ(after, before);
    EXPECT_FALSE(std::filesystem::exists(workDir_ / ".pasarela-import"));
}

TEST_F(RestoreRunTest, RestoreNamesWhatIsNowInTheFolderAndListsTheGenerations)
{
    Import(test::SmallSchool());
    Import(test::SmallSchool({.teacher = "OTRO", .schoolCode = "29000002", .schoolName = "IES Otro"}));
    const KeptGeneration newest = ListKeptGenerations(workDir_).front();

    const RunReport report = Restore();
    ASSERT_TRUE(report.TablesInFolder());
    EXPECT_EQ(report.TablesInFolder()->school, (SchoolIdentity{"41000001", "IES Ejemplo", "2013"}));
    EXPECT_EQ(report.TablesInFolder()->dateTime, newest.dateTime);
    EXPECT_EQ(report.TablesInFolder()->file, folder_ / "dasteno.xml");
    EXPECT_THAT(report.Headlines(),
                ElementsAre("Se han vuelto a poner las tablas del centro 41000001 (IES Ejemplo, 2013), importadas el " +
                            newest.dateTime + " de '" + DisplayPath(folder_ / "dasteno.xml") + "'."));
    EXPECT_EQ(RecordedSchool(workDir_), (SchoolIdentity{"41000001", "IES Ejemplo", "2013"}));

    std::ostringstream out, err;
    EXPECT_EQ(RunCli({"restore", "--list", "--vtemp", DisplayPath(workDir_)}, out, err), kCliOk) << err.str();
    // The second school's set, kept by the restore, is the newest.
    const std::vector<KeptGeneration> kept = ListKeptGenerations(workDir_);
    ASSERT_EQ(kept.size(), 2u);
    const std::string file = DisplayPath(folder_ / "dasteno.xml");
    EXPECT_EQ(out.str(), "Tablas guardadas en '" + DisplayPath(workDir_) + "' (la 1, las más recientes):\n"
                         "1. fecha: " + kept[0].dateTime + "; archivo: " + file + "; centro: 29000002 (IES Otro, 2013)\n"
                         "   filas: ASIGNOMT 2, PROFT 2, AULAT 2, GRUPOST 2, DIASHORAST 2, ASIGT 2\n"
                         "2. fecha: " + kept[1].dateTime + "; archivo: " + file +
                             "; centro: 41000001 (IES Ejemplo, 2013)\n"
                             "   filas: ASIGNOMT 2, PROFT 2, AULAT 2, GRUPOST 2, DIASHORAST 2, ASIGT 2\n");

    // --set chooses which; the report is written like any run's.
    const auto report2 = folder_ / "informe.txt";
    EXPECT_EQ(RunCli({"restore", "--set", "1", "--vtemp", DisplayPath(workDir_), "--report", DisplayPath(report2)},
                     out, err),
              kCliOk)
        << err.str();
    EXPECT_EQ(RecordedSchool(workDir_), (SchoolIdentity{"29000002", "IES Otro", "2013"}));
    EXPECT_THAT(test::ReadBytes(report2), HasSubstr("Se han vuelto a poner las tablas del centro 29000002"));
    std::ostringstream bad;
    EXPECT_EQ(RunCli({"restore", "--set", "cero", "--vtemp", DisplayPath(workDir_)}, out, bad), kCliUsage);
    EXPECT_THAT(bad.str(), StartsWith("pasarela-cli: --set necesita el número de unas tablas guardadas"));
}

}  // namespace
}  // namespace pasarela
