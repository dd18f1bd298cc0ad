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

class SavedReportsTest : public test::TempFolderTest {
protected:
    // A report whose one notice names `entry`, so each saved report can be told apart.
    static RunReport ReportOf(const std::string& entry)
    {
        RunReport report;
        report.SetRows("PROFT", 2);
        report.Note("PROFT", "código repetido o largo: se usa otro", entry);
        return report;
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
