#include "import/table_changes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "import/import_test_support.h"
#include "orlavi/orlavi_tables.h"
#include "test_support.h"

namespace pasarela {
namespace {

using Earlier = RunReport::Comparison::Earlier;

// The comparison in one line, so a failing row shows it whole.
std::string Describe(const RunReport::Comparison* comparison)
{
    if (comparison == nullptr)
        return "<none>";
    switch (comparison->earlier) {
    case Earlier::Missing:
        return "missing";
    case Earlier::Unreadable:
        return "unreadable: " + comparison->problem;
    case Earlier::Compared:
        break;
    }
    return "added " + std::to_string(comparison->added) + ", gone " + std::to_string(comparison->gone);
}

// As an import compares; with so little memory that a table is counted a part at a time
// from the file written aside from its first rows; and with memory for the first rows
// only, so that codes already counted go aside with their balances. All must agree.
const ComparisonLimits kLimits[] = {{}, {.codesInMemory = 2}, {.codesInMemory = 20}};

// "T<first>" to "T<last - 1>".
std::vector<std::string> Codes(int first, int last)
{
    std::vector<std::string> codes;
    for (int n = first; n < last; ++n)
        codes.push_back("T" + std::to_string(n));
    return codes;
}

std::vector<std::string> Reversed(std::vector<std::string> codes)
{
    std::reverse(codes.begin(), codes.end());
    return codes;
}

// `count` rows of `code` before `rest`.
std::vector<std::string> Repeated(const std::string& code, int count, std::vector<std::string> rest)
{
    rest.insert(rest.begin(), static_cast<std::size_t>(count), code);
    return rest;
}

// The names of the files in `folder`: what the comparison leaves behind.
std::vector<std::string> ListDir(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& item : fs::directory_iterator(folder))
        names.push_back(item.path().filename().string());
    return names;
}

class TableChangesTest : public test::ImportTest {
protected:
    // A table with the registry's fields, one row per element of `rows`, each a value per
    // named field.
    static void WriteTable(const fs::path& path, std::string_view name,
                           const std::vector<std::vector<std::pair<std::string, std::string>>>& rows)
    {
        DbfTable::Create(path, ImportedTableNamed(name).fields);
        DbfTable table = DbfTable::Open(path, test::ReadWrite());
        for (const auto& row : rows) {
            table.Append();
            for (const auto& [field, value] : row)
                table.SetString(table.FieldIndex(field), value);
            table.Post();
        }
        table.Close();
    }

    static void WriteTeachers(const fs::path& path, const std::vector<std::string>& codes)
    {
        std::vector<std::vector<std::pair<std::string, std::string>>> rows;
        for (const std::string& code : codes)
            rows.push_back({{"ABREV", code}, {"NOMBRE", "Nombre de " + code}});
        WriteTable(path, "PROFT", rows);
    }
};

TEST_F(TableChangesTest, CountsRowsNewAndGoneByCode)
{
    const fs::path earlier = folder_ / "antes";
    const fs::path built = folder_ / "ahora";
    fs::create_directory(earlier);
    fs::create_directory(built);
    struct Case {
        const char* name;
        std::vector<std::string> earlier;
        std::vector<std::string> built;
        std::string expected;
    };
    const Case cases[] = {
        {"the same codes in another order", {"ARG", "LMM", "PQR"}, {"PQR", "ARG", "LMM"}, "added 0, gone 0"},
        {"one teacher replaced", {"ARG", "LMM"}, {"ARG", "NEW"}, "added 1, gone 1"},
        {"a file with no teachers", {"ARG", "LMM", "PQR"}, {}, "added 0, gone 3"},
        {"into an empty table", {}, {"ARG", "LMM"}, "added 2, gone 0"},
        {"rows, not codes, are counted", {"ARG", "ARG", "LMM"}, {"ARG", "LMM", "LMM"}, "added 1, gone 1"},
        {"letter case tells codes apart", {"arg"}, {"ARG"}, "added 1, gone 1"},
        {"a large school, half its teachers replaced", Codes(0, 3000), Codes(1500, 4500), "added 1500, gone 1500"},
        {"one code on many rows, then others", Repeated("ARG", 16, Codes(0, 10)), Repeated("ARG", 1, Codes(0, 16)),
         "added 6, gone 15"},
        {"a large school in reverse order", Codes(0, 3000), Reversed(Codes(0, 3000)), "added 0, gone 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTeachers(earlier / "PROFT.DBF", c.earlier);
        WriteTeachers(built / "PROFT.DBF", c.built);
        for (const ComparisonLimits& limits : kLimits) {
            SCOPED_TRACE("codes in memory: " + std::to_string(limits.codesInMemory));
            RunReport report;

            CompareWithEarlierTables(earlier, built, report, limits);

            EXPECT_EQ(Describe(report.ComparisonOf("PROFT")), c.expected);
            EXPECT_EQ(Describe(report.ComparisonOf("AULAT")), "missing");
            EXPECT_THAT(ListDir(built), ::testing::UnorderedElementsAre("PROFT.DBF"));
        }
    }
}

TEST_F(TableChangesTest, AnotherProgramsTableIsComparedByItsCodesAsRead)
{
    const fs::path earlier = folder_ / "antes";
    const fs::path built = folder_ / "ahora";
    fs::create_directory(earlier);
    fs::create_directory(built);
    WriteTeachers(built / "PROFT.DBF", {"ARG", "NEW", "MUÑOZ", "LMM"});
    struct Case {
        const char* name;
        test::DbfBuilder theirs;
    };
    // Each holds MUÑOZ, ARG filled with NULs, a deleted LMM and PQR: 2 rows added, 1 gone.
    const Case cases[] = {
        {"dBase III in code page 850 (0xA5 is Ñ), a wider code field",
         {.version = 0x03,
          .languageId = 0x02,
          .fields = {{"NOMBRE", 'C', 12}, {"ABREV", 'C', 20}},
          .rows = {{' ', {"Uno", "MU\xA5OZ"}},
                   {' ', {"Dos", std::string("ARG\0\0\0", 6)}},
                   {'*', {"Borrado", "LMM"}},
                   {' ', {"Tres", "PQR"}}}}},
        // Rows side by side with ours whose bytes differ only in the fill.
        {"dBase III in Windows-1252, the code field as wide as ours",
         {.version = 0x03,
          .languageId = 0x57,
          .fields = {{"ABREV", 'C', 10}},
          .rows = {{' ', {std::string("ARG\0\0\0\0\0\0\0", 10)}},
                   {' ', {"PQR"}},
                   {' ', {"MU\xD1OZ"}},
                   {'*', {"LMM"}}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFileBytes(earlier / "PROFT.DBF", c.theirs.Build());
        for (const ComparisonLimits& limits : kLimits) {
            RunReport report;

            CompareWithEarlierTables(earlier, built, report, limits);

            EXPECT_EQ(Describe(report.ComparisonOf("PROFT")), "added 2, gone 1");
        }
    }
}

TEST_F(TableChangesTest, AssignmentsAreComparedBySubjectActivityTeacherAndGroup)
{
    const fs::path earlier = folder_ / "antes";
    const fs::path built = folder_ / "ahora";
    fs::create_directory(earlier);
    fs::create_directory(built);
    using Assignment = std::vector<std::pair<std::string, std::string>>;
    const Assignment kept = {{"CASIG", "MAT"}, {"CTAREA", "LEC"}, {"CPROF", "ARG"}, {"CGRUP", "1A"}, {"HORAS", "3"}};
    WriteTable(earlier / "ASIGT.DBF", "ASIGT",
               {kept, {{"CASIG", "MAT"}, {"CTAREA", "LEC"}, {"CPROF", "LMM"}, {"CGRUP", "1B"}}});
    // The hours change, which is no new assignment; the second goes to another teacher.
    WriteTable(built / "ASIGT.DBF", "ASIGT",
               {{{"CASIG", "MAT"}, {"CTAREA", "LEC"}, {"CPROF", "ARG"}, {"CGRUP", "1A"}, {"HORAS", "4"}},
                {{"CASIG", "MAT"}, {"CTAREA", "LEC"}, {"CPROF", "NEW"}, {"CGRUP", "1B"}}});
    for (const ComparisonLimits& limits : kLimits) {
        RunReport report;

        CompareWithEarlierTables(earlier, built, report, limits);

        EXPECT_EQ(Describe(report.ComparisonOf("ASIGT")), "added 1, gone 1");
    }
}

TEST_F(TableChangesTest, AssignmentCodesAreToldApartFieldByField)
{
    const fs::path earlier = folder_ / "antes";
    const fs::path built = folder_ / "ahora";
    fs::create_directory(earlier);
    fs::create_directory(built);
    // The same letters split differently between the fields, even around a control
    // character that another program may have left in a code.
    WriteTable(earlier / "ASIGT.DBF", "ASIGT",
               {{{"CASIG", "AB"}, {"CTAREA", "C"}}, {{"CASIG", "X\x1F"}, {"CTAREA", "Y"}}, {{"CPROF", "P"}}});
    WriteTable(built / "ASIGT.DBF", "ASIGT",
               {{{"CASIG", "A"}, {"CTAREA", "BC"}}, {{"CASIG", "X"}, {"CTAREA", "\x1FY"}}, {{"CPROF", "P"}}});
    for (const ComparisonLimits& limits : kLimits) {
        RunReport report;

        CompareWithEarlierTables(earlier, built, report, limits);

        EXPECT_EQ(Describe(report.ComparisonOf("ASIGT")), "added 2, gone 2");
    }
}

TEST_F(TableChangesTest, EarlierTableThatCannotBeReadIsSaidAndTheImportGoesOn)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> write;
        std::string problem;
    };
    const Case cases[] = {
        {"not a table", [](const fs::path& path) { test::WriteFileBytes(path, "cambiado a mano"); },
         "no es una tabla dBase"},
        {"a table without the code field",
         [](const fs::path& path) {
             const FieldSpec fields[] = {{"NOMBRE", FieldKind::Character, 20}};
             DbfTable::Create(path, fields);
         },
         "no tiene el campo 'ABREV'"},
    };
    Import(test::SmallSchool());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.write(TablePath("PROFT"));

        const RunReport report = Import(test::SmallSchool());

        EXPECT_THAT(Describe(report.ComparisonOf("PROFT")),
                    AllOf(StartsWith("unreadable: "), HasSubstr("PROFT.DBF"), HasSubstr(c.problem)));
        EXPECT_EQ(ReadColumn("PROFT", "ABREV"), (std::vector<std::string>{"ARG", "LMM"}));
        EXPECT_EQ(Describe(report.ComparisonOf("AULAT")), "added 0, gone 0");
    }
}

TEST_F(TableChangesTest, ImportAndCheckCompareWithTheTablesInTheWorkingFolder)
{
    const RunReport first = Import(test::SmallSchool());
    for (const ImportedTable& table : kImportedTables)
        EXPECT_EQ(Describe(first.ComparisonOf(std::string(table.name))), "missing") << table.name;

    ImportOptions check = OptionsFor(test::SmallSchool({.teacher = "NEW"}));
    check.checkOnly = true;
    const RunReport checked = RunImport(check);
    const RunReport second = Import(test::SmallSchool({.teacher = "NEW"}));

    for (const RunReport* report : {&checked, &second}) {
        EXPECT_EQ(Describe(report->ComparisonOf("PROFT")), "added 1, gone 1");
        EXPECT_EQ(Describe(report->ComparisonOf("ASIGT")), "added 1, gone 1");
        EXPECT_EQ(Describe(report->ComparisonOf("GRUPOST")), "added 0, gone 0");
    }
    const RunReport again = Import(test::SmallSchool({.teacher = "NEW"}));
    EXPECT_EQ(Describe(again.ComparisonOf("PROFT")), "added 0, gone 0");
}

}  // namespace
}  // namespace pasarela
