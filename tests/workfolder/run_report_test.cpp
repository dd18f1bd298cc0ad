#include "workfolder/run_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dbf/dbf_test_support.h"
#include "os/date_stamp.h"
#include "os/file.h"
#include "test_support.h"

namespace pasarela {
namespace {

TEST(RunReportTest, NotepadTextHasAByteOrderMarkAndCrLfLines)
{
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", "", "\xEF\xBB\xBF"},
        {"line feeds become CR LF", "Resumen\nAULAT: 2 filas\n", "\xEF\xBB\xBFResumen\r\nAULAT: 2 filas\r\n"},
        {"CR LF stays as it is", "a\r\nb\r\n", "\xEF\xBB\xBF" "a\r\nb\r\n"},
        {"a line feed first", "\nx", "\xEF\xBB\xBF\r\nx"},
        {"accented letters keep their UTF-8 bytes", "c\xC3\xB3" "digo vac\xC3\xAD" "o\n",
         "\xEF\xBB\xBF" "c\xC3\xB3" "digo vac\xC3\xAD" "o\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NotepadText(c.text), c.expected);
    }
}

TEST(RunReportTest, HeadingSaysWhatRanWhenOnWhatAndHowItEnded)
{
    const ReportHeading heading{"15/03/2013 09:05:07", "Pasarela 1.4.0", "importación (de DASTENO a Orlavi)",
                                fs::path("Datos") / "centro.xml", fs::path("VTEMP"), "Proceso finalizado"};
    const std::string head = "Informe de Pasarela\n"
                             "Fecha y hora: 15/03/2013 09:05:07\n"
                             "Programa: Pasarela 1.4.0\n"
                             "Trabajo: importación (de DASTENO a Orlavi)\n"
                             "Archivo: " + DisplayPath(fs::path("Datos") / "centro.xml") + "\n"
                             "Carpeta de trabajo: VTEMP\n"
                             "Resultado: Proceso finalizado\n";
    RunReport report;
    report.SetRows("PROFT", 2);

    // A run that failed has no summary to give: the heading says why it stopped.
    EXPECT_EQ(ReportText(heading, nullptr), head);
    EXPECT_EQ(ReportText(heading, &report), head + "\n" + report.FullText());
}

TEST(RunReportTest, SummaryComparesEachTableWithTheOneBefore)
{
    using Earlier = RunReport::Comparison::Earlier;
    struct Case {
        const char* name;
        RunReport::Comparison comparison;
        std::string line;
    };
    const Case cases[] = {
        {"nothing changed", {Earlier::Compared, 0, 0, "", 0},
         "PROFT: 2 filas (frente a la tabla que había: 0 nuevas, 0 que faltan, 0 cambiadas)\n"},
        {"one of each", {Earlier::Compared, 1, 1, "", 1},
         "PROFT: 2 filas (frente a la tabla que había: 1 nueva, 1 que falta, 1 cambiada)\n"},
        {"a partial file", {Earlier::Compared, 0, 310, "", 0},
         "PROFT: 2 filas (frente a la tabla que había: 0 nuevas, 310 que faltan, 0 cambiadas)\n"},
        {"first import", {Earlier::Missing, 0, 0, "", 0}, "PROFT: 2 filas (no había tabla antes)\n"},
        {"earlier table unreadable", {Earlier::Unreadable, 0, 0, "El archivo 'PROFT.DBF' no es una tabla dBase", 0},
         "PROFT: 2 filas (no se pudo comparar con la tabla que había: El archivo 'PROFT.DBF' no es una tabla "
         "dBase)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunReport report;
        report.SetRows("PROFT", 2);
        report.SetComparison("PROFT", c.comparison);
        report.Note("PROFT", "texto recortado al ancho del campo", "profesor nº 1");
        // The notices' counts stay under their table's line.
        EXPECT_EQ(report.Summary(), c.line + "  texto recortado al ancho del campo: 1\n");
    }
}

TEST(RunReportTest, ChangesBlockIsAFewLinesAndHeadlinesLeadTheSummary)
{
    using Earlier = RunReport::Comparison::Earlier;
    RunReport report;
    for (const char* table : {"ASIGNOMT", "PROFT", "AULAT", "ASIGT"})
        report.SetRows(table, 2);
    report.SetComparison("ASIGNOMT", {Earlier::Compared, 0, 0, "", 0});
    report.SetComparison("PROFT", {Earlier::Compared, 3, 1, "", 2});
    report.SetComparison("AULAT", {Earlier::Compared, 0, 0, "", 0});
    report.SetComparison("ASIGT", {Earlier::Unreadable, 0, 0, "en uso", 0});
    EXPECT_EQ(report.ChangesBlock(), "PROFT: 3 nuevas, 1 que falta, 2 cambiadas\n"
                                     "ASIGT: no se pudo comparar\n"
                                     "Sin cambios en: ASIGNOMT, AULAT\n");

    report.AddHeadline("ATENCIÓN: otro centro.");
    EXPECT_THAT(report.Summary(), StartsWith("ATENCIÓN: otro centro.\n\nASIGNOMT: 2 filas"));

    // A first import compares with nothing.
    RunReport first;
    first.SetRows("PROFT", 2);
    first.SetComparison("PROFT", {Earlier::Missing, 0, 0, "", 0});
    EXPECT_EQ(first.ChangesBlock(), "");
}

// A file of a whole region gives notices by the hundred thousand; past a few hundred
// kilobytes the report keeps them in a scratch file, and must give every one back, in order.
TEST(RunReportTest, ManyNoticesComeBackWholeAndInTheOrderNoted)
{
    std::vector<RunReport::Notice> noted;
    RunReport report;
    report.SetRows("PROFT", 40000);
    for (int i = 0; i < 40000; ++i) {
        // Entries of every length, one far longer than the part held in memory, so that
        // records run across the blocks the scratch file is read back in.
        std::string entry = "profesor nº " + std::to_string(i + 1) + std::string(i % 97, 'x');
        if (i == 20000)
            entry.append(std::size_t{700} << 10, 'y');
        const bool teacher = i % 3 != 0;
        noted.push_back({teacher ? "PROFT" : "AULAT", teacher ? "código repetido o largo: se usa otro" : "capacidad",
                         entry});
        report.Note(noted.back().table, noted.back().reason, noted.back().entry);
    }
    RunReport earlier;
    earlier.Note("ASIGNOMT", "lo primero", "materia nº 1");
    earlier.AppendNotices(report);
    noted.insert(noted.begin(), RunReport::Notice{"ASIGNOMT", "lo primero", "materia nº 1"});
    const RunReport moved = std::move(earlier);

    ASSERT_EQ(moved.NoticeCount(), noted.size());
    EXPECT_EQ(moved.Count("AULAT", "capacidad"), 13334u);
    EXPECT_EQ(moved.Count("PROFT", "código repetido o largo: se usa otro"), 26666u);
    const std::vector<RunReport::Notice> given = moved.Notices();
    ASSERT_EQ(given.size(), noted.size());
    for (std::size_t i = 0; i < noted.size(); ++i) {
        ASSERT_EQ(given[i].table, noted[i].table) << i;
        ASSERT_EQ(given[i].reason, noted[i].reason) << i;
        ASSERT_EQ(given[i].entry, noted[i].entry) << i;
    }
    std::string detail;
    for (const RunReport::Notice& notice : noted)
        detail += notice.table + " | " + notice.reason + " | " + notice.entry + "\n";
    EXPECT_EQ(moved.FullText(), "Resumen\n" + moved.Summary() + "\nDetalle\n" + detail);
}

class SavedReportsTest : public test::TempFolderTest {
protected:
    // The text of a report whose one notice names `entry`, so each saved report can be told apart.
    static std::string ReportOf(const std::string& entry)
    {
        RunReport report;
        report.SetRows("PROFT", 2);
        report.Note("PROFT", "código repetido o largo: se usa otro", entry);
        return report.FullText();
    }

    // The name a report written at `when` is kept under.
    static std::string KeptName(fs::file_time_type when, const std::string& counter = "")
    {
        const auto sys = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(when));
        const std::tm local = LocalTime(sys);
        char name[80];
        std::snprintf(name, sizeof name, "PASARELA-INFORME-%04d%02d%02d-%02d%02d%02d%s.TXT", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, counter.c_str());
        return name;
    }

    // Whole seconds, some days apart, so each kept name is distinct in any time zone.
    static fs::file_time_type Day(int day)
    {
        using namespace std::chrono;
        return file_clock::from_sys(sys_days{2026y / March / day} + 9h + 30min + 5s);
    }

    fs::path Latest() const { return folder_ / "PASARELA-INFORME.TXT"; }
};

TEST_F(SavedReportsTest, FirstReportIsWrittenForNotepadAndNothingElse)
{
    SaveReportKeepingEarlier(Latest(), ReportOf("ARG"), 5);

    const std::string text = test::ReadFileBytes(Latest());
    EXPECT_THAT(text, StartsWith("\xEF\xBB\xBFResumen\r\nPROFT: 2 filas\r\n"));
    EXPECT_THAT(text, HasSubstr("PROFT | c\xC3\xB3" "digo repetido o largo: se usa otro | ARG\r\n"));
    EXPECT_THAT(FolderContents(), ElementsAre("PASARELA-INFORME.TXT"));
}

TEST_F(SavedReportsTest, EarlierReportsAreKeptUnderTheirTimeAndOnlyTheNewestStay)
{
    // Eight runs; before each later one, the report of the run before is dated a day apart.
    for (int run = 1; run <= 8; ++run) {
        if (run > 1)
            fs::last_write_time(Latest(), Day(run - 1));
        SaveReportKeepingEarlier(Latest(), ReportOf("run " + std::to_string(run)), 5);
    }

    // The five newest earlier reports stay (runs 3 to 7); runs 1 and 2 went.
    std::vector<std::string> expected;
    for (int day = 3; day <= 7; ++day)
        expected.push_back(KeptName(Day(day)));
    expected.push_back("PASARELA-INFORME.TXT");
    EXPECT_THAT(FolderContents(), ElementsAreArray(expected));
    EXPECT_THAT(test::ReadFileBytes(Latest()), HasSubstr("| run 8\r\n"));
    EXPECT_THAT(test::ReadFileBytes(folder_ / KeptName(Day(7))), HasSubstr("| run 7\r\n"));
    EXPECT_THAT(test::ReadFileBytes(folder_ / KeptName(Day(3))), HasSubstr("| run 3\r\n"));
}

TEST_F(SavedReportsTest, ReportsOfTheSameSecondAreAllKept)
{
    SaveReportKeepingEarlier(Latest(), ReportOf("first"), 5);
    fs::last_write_time(Latest(), Day(1));
    SaveReportKeepingEarlier(Latest(), ReportOf("second"), 5);
    fs::last_write_time(Latest(), Day(1));
    SaveReportKeepingEarlier(Latest(), ReportOf("third"), 5);

    EXPECT_THAT(test::ReadFileBytes(folder_ / KeptName(Day(1))), HasSubstr("| first\r\n"));
    EXPECT_THAT(test::ReadFileBytes(folder_ / KeptName(Day(1), "-2")), HasSubstr("| second\r\n"));
    EXPECT_THAT(test::ReadFileBytes(Latest()), HasSubstr("| third\r\n"));
}

// The report is written a piece at a time, never held whole: what reaches the file must
// be the text itself, line ends turned for Notepad across the pieces' edges too.
TEST_F(SavedReportsTest, ReportsWrittenInPiecesHoldTheWholeText)
{
    const ReportHeading heading{"15/03/2013 09:05:07", "Pasarela 1.4.0", "importación (de DASTENO a Orlavi)",
                                folder_ / "centro.xml", folder_, "Proceso finalizado"};
    RunReport report;
    report.SetRows("AULAT", 30000);
    for (int i = 0; i < 30000; ++i)
        report.Note("AULAT", "código vacío, repetido o largo: se usa otro",
                    "aula nº " + std::to_string(i) + (i % 1000 == 0 ? "\r\n" : "") + " «Aula» -> 'A1'");
    const std::string text = ReportText(heading, &report);

    SaveReport(folder_ / "informe.txt", heading, &report);
    EXPECT_EQ(test::ReadFileBytes(folder_ / "informe.txt"), text);
    SaveReportKeepingEarlier(Latest(), heading, &report, 5);
    EXPECT_EQ(test::ReadFileBytes(Latest()), NotepadText(text));
}

TEST_F(SavedReportsTest, OtherFilesOfTheFolderAreLeftAlone)
{
    const std::vector<std::string> others = {"PASARELA-INFORME-VIEJO.TXT", "PASARELA-INFORME-20260301.TXT",
                                             "PROFT.DBF", "informe.txt"};
    for (const std::string& name : others)
        test::WriteFileBytes(folder_ / name, "x");
    for (int run = 1; run <= 3; ++run) {
        if (run > 1)
            fs::last_write_time(Latest(), Day(run));
        SaveReportKeepingEarlier(Latest(), ReportOf("run"), 1);
    }

    for (const std::string& name : others)
        EXPECT_TRUE(fs::exists(folder_ / name)) << name;
    EXPECT_FALSE(fs::exists(folder_ / KeptName(Day(2))));
    EXPECT_TRUE(fs::exists(folder_ / KeptName(Day(3))));
}

}  // namespace
}  // namespace pasarela
