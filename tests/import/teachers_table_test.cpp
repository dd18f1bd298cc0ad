#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "import/import_test_support.h"
#include "text/text.h"

namespace pasarela {
namespace {

class TeachersTableTest : public test::ImportTest {};

// A `profesores` section with one profesor per code, identifiers 1, 2, 3...
std::string TeachersWithCodes(const std::vector<std::string>& codes)
{
    return test::SectionWithCodes("profesores", "profesor", "idprofesor", codes);
}

TEST_F(TeachersTableTest, WorkedExampleNumbersCodesThatDifferOnlyInCase)
{
    const RunReport report = Import(SchoolXml(R"(
<profesores>
  <profesor codigo="MAT" nombre="Ana" apellido1="Ruiz" apellido2="Gil" documento="X1" idprofesor="501"/>
  <profesor codigo="mat" nombre="Luis" apellido1="Mora" apellido2="" documento="X2" idprofesor="502"/>
  <profesor codigo="MAT" nombre="Eva" apellido1="Sanz" apellido2="Pons" documento="X3" idprofesor="503"/>
</profesores>
)"));

    // "Luis, Mora " ends in a blank, which the table cannot tell from its fill.
    const Rows expected = {
        {"MAT", "Ana, Ruiz Gil", "", "", "X1", "501"},
        {"mat1", "Luis, Mora", "", "", "X2", "502"},
        {"MAT2", "Eva, Sanz Pons", "", "", "X3", "503"},
    };
    ExpectRows(report, "PROFT", expected);
    EXPECT_EQ(NoticeLines(report, "PROFT"),
              (std::vector<std::string>{
                  "código repetido o largo: se usa otro | profesor nº 2: mat «Luis Mora» (identificador 502) -> 'mat1'",
                  "código repetido o largo: se usa otro | profesor nº 3: MAT «Eva Sanz Pons» (identificador 503) -> "
                  "'MAT2'",
              }));
}

TEST_F(TeachersTableTest, EveryTeacherGetsACodeOfItsOwnWithinTenCharacters)
{
    struct Case {
        const char* name;
        std::vector<std::string> codes;
        std::vector<std::string> expected;
    };
    std::vector<std::string> tenRepeats(11, "ABCDEFGHI");
    std::vector<std::string> tenRepeatsCodes = {"ABCDEFGHI"};
    for (int i = 1; i <= 9; ++i)
        tenRepeatsCodes.push_back("ABCDEFGHI" + std::to_string(i));
    tenRepeatsCodes.push_back("ABCDEFGH1");  // ABCDEFGHI10 is too long and ABCDEFGHI1 taken
    const Case cases[] = {
        {"empty codes are numbered from an empty stem", {"", "", ""}, {"", "1", "2"}},
        {"a repeated code of 10 characters gets its first 9 and a counter",
         {"ABCDEFGHIJ", "ABCDEFGHIJ"}, {"ABCDEFGHIJ", "ABCDEFGHI1"}},
        {"a long free code keeps its first 10 characters", {"ABCDEFGHIJKL", "X"}, {"ABCDEFGHIJ", "X"}},
        {"a long code whose first 10 are taken gets its first 8 and a counter",
         {"ABCDEFGHIJKL", "ABCDEFGHIJKL", "ABCDEFGHIJXY"}, {"ABCDEFGHIJ", "ABCDEFGH1", "ABCDEFGH2"}},
        {"the tenth repeat of a 9-character code", tenRepeats, tenRepeatsCodes},
        {"accented capitals match their small letters", {"ÁLV", "álv"}, {"ÁLV", "álv1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Import(TeachersWithCodes(c.codes));
        EXPECT_EQ(ReadColumn("PROFT", "ABREV"), c.expected);
    }
}

TEST_F(TeachersTableTest, CodesStayUniqueOnceStoredInWindows1252)
{
    // Greek letters are stored as '?', so two codes that differ only in them would
    // otherwise reach the table as the same ABREV and the export could not tell them apart.
    const RunReport report = Import(TeachersWithCodes({"Ω1", "Ψ1", "?1"}));

    const std::vector<std::string> codes = ReadColumn("PROFT", "ABREV");
    ASSERT_EQ(codes.size(), 3u);
    std::vector<std::string> folded;
    for (const std::string& code : codes)
        folded.push_back(FoldCase(code));
    std::sort(folded.begin(), folded.end());
    EXPECT_EQ(std::adjacent_find(folded.begin(), folded.end()), folded.end()) << ::testing::PrintToString(codes);
    EXPECT_EQ(report.Count("PROFT", "caracteres que Windows-1252 no admite guardados como '?' en ABREV"), 2u);
}

TEST_F(TeachersTableTest, NameAlwaysHasBothSeparators)
{
    Import(SchoolXml(R"(
<profesores>
  <profesor codigo="A" nombre="Ana" apellido1="Ruiz" apellido2="" idprofesor="1"/>
  <profesor codigo="B" nombre="" apellido1="" apellido2="" idprofesor="2"/>
  <profesor codigo="C" idprofesor="3"/>
  <profesor codigo="D" nombre="  Eva " apellido1=" Sanz" apellido2="Pons  " idprofesor="4"/>
</profesores>
)"));
    // Stored blanks at the end are the field's fill, so "Ana, Ruiz " reads as "Ana, Ruiz".
    const Rows expected = {{"Ana, Ruiz"}, {","}, {","}, {"Eva, Sanz Pons"}};
    EXPECT_EQ(ReadColumns("PROFT", {"NOMBRE"}), expected);
}

TEST_F(TeachersTableTest, LongNameIsCutAndNoted)
{
    const std::string surname(80, 'z');
    const RunReport report = Import(SchoolXml("<profesores>\n" +
                                              EntryXml("profesor", {{"codigo", "A"},
                                                                    {"nombre", "Ana"},
                                                                    {"apellido1", surname},
                                                                    {"idprofesor", "1"}}) +
                                              EntryXml("profesor", {{"codigo", "B"}, {"idprofesor", "2"}}) +
                                              "</profesores>\n"));
    EXPECT_EQ(ReadColumn("PROFT", "NOMBRE").at(0), "Ana, " + std::string(75, 'z'));
    EXPECT_EQ(report.Count("PROFT", "texto recortado al ancho del campo NOMBRE"), 1u);
}

}  // namespace
}  // namespace pasarela
