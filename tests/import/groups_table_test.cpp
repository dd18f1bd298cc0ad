#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/import_test_support.h"

namespace pasarela {
namespace {

class GroupsTableTest : public test::ImportTest {};

// A `grupos` section with one dgrupo per code, identifiers 1, 2, 3...
std::string GroupsWithCodes(const std::vector<std::string>& codes)
{
    return test::SectionWithCodes("grupos", "dgrupo", "idgrupo", codes);
}

TEST_F(GroupsTableTest, WorkedExampleKeepsTheGroupLetterOfLongCodes)
{
    const RunReport report = Import(SchoolXml(R"(
<grupos>
  <dgrupo codigo="1A" nombre="1 ESO A" codigo_nivel="ESO" curso="1" cgrupo="A" idgrupo="7001" idcurso="301"/>
  <dgrupo codigo="1a" nombre="1 ESO A tarde" codigo_nivel="ESO" curso="1" cgrupo="A" idgrupo="7002" idcurso="301"/>
  <dgrupo codigo="2BACH-CIEN-A" nombre="2 Bachillerato Ciencias A" codigo_nivel="BACH" curso="2" cgrupo="A"
          idgrupo="7003" idcurso="302"/>
  <dgrupo codigo="2BACH-CIEN-B" nombre="2 Bachillerato Ciencias B" codigo_nivel="BACH" curso="2" cgrupo="B"
          idgrupo="7004" idcurso="302"/>
</grupos>
)"));

    // ABREV, TURNO, NIVEL, CURSO, GRUPO, MARCO, IDGRUPO, IDCURSO, DESCRIP, TUTOR
    const Rows expected = {
        {"1A", "", "ESO", "1", "A", "0", "7001", "301", "1 ESO A", ""},
        {"1a1", "", "ESO", "1", "A", "0", "7002", "301", "1 ESO A tarde", ""},
        {"2BACH-CI-A", "", "BACH", "2", "A", "0", "7003", "302", "2 Bachillerato Ciencias A", ""},
        {"2BACH-CI-B", "", "BACH", "2", "B", "0", "7004", "302", "2 Bachillerato Ciencias B", ""},
    };
    ExpectRows(report, "GRUPOST", expected);
    EXPECT_EQ(NoticeLines(report, "GRUPOST"),
              (std::vector<std::string>{
                  "código repetido o largo: se usa otro | grupo nº 2: 1a «1 ESO A tarde» (identificador 7002) -> '1a1'",
                  "código repetido o largo: se usa otro | grupo nº 3: 2BACH-CIEN-A «2 Bachillerato Ciencias A» "
                  "(identificador 7003) -> '2BACH-CI-A'",
                  "código repetido o largo: se usa otro | grupo nº 4: 2BACH-CIEN-B «2 Bachillerato Ciencias B» "
                  "(identificador 7004) -> '2BACH-CI-B'",
              }));
}

TEST_F(GroupsTableTest, EveryGroupGetsACodeOfItsOwnEndingInItsLetter)
{
    struct Case {
        const char* name;
        std::vector<std::string> codes;
        std::vector<std::string> expected;
    };
    std::vector<std::string> elevenRepeats(11, "1ESO-ABCD");
    std::vector<std::string> elevenCodes = {"1ESO-ABCD"};
    for (int i = 1; i <= 9; ++i)
        elevenCodes.push_back("1ESO-ABCD" + std::to_string(i));
    elevenCodes.push_back("1ESO-ABC10");  // 1ESO-ABCD10 keeps its first 8 and last 2
    const Case cases[] = {
        {"a free code of 10 characters stays", {"2BACH-CC-A", "B"}, {"2BACH-CC-A", "B"}},
        {"a free code of 11 characters keeps its first 8 and last 2", {"2BACH-CIE-A", "B"}, {"2BACH-CI-A", "B"}},
        {"a repeated code of 10 characters gets its first 9 and a counter",
         {"2BACH-CC-A", "2BACH-CC-A"}, {"2BACH-CC-A", "2BACH-CC-1"}},
        {"the tenth repeat of a 9-character code", elevenRepeats, elevenCodes},
        {"empty codes are numbered from an empty stem", {"", "", ""}, {"", "1", "2"}},
        {"the same long code twice: the counter goes before the last 2",
         {"2BACH-CIEN-A", "2BACH-CIEN-A", "2BACH-CIEN-A"}, {"2BACH-CI-A", "2BACH-C1-A", "2BACH-C2-A"}},
        {"a long code shortened to an earlier group's code", {"2BACH-CI-A", "2BACH-CIEN-A"},
         {"2BACH-CI-A", "2BACH-C1-A"}},
        {"shortened codes are compared without regard to case", {"2bach-ci-a", "2BACH-CIEN-A"},
         {"2bach-ci-a", "2BACH-C1-A"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Import(GroupsWithCodes(c.codes));
        EXPECT_EQ(ReadColumn("GRUPOST", "ABREV"), c.expected);
    }
}

TEST_F(GroupsTableTest, NarrowFieldsKeepTheirFirstCharactersAndAreNoted)
{
    const RunReport report = Import(SchoolXml(R"(
<grupos>
  <dgrupo codigo="1A" codigo_nivel="BACHIL" curso="1" cgrupo="ABC" idgrupo="70010000001" idcurso="301"/>
  <dgrupo codigo="1B" codigo_nivel="ESO" curso="1" cgrupo="B" idgrupo="7002" idcurso="301"/>
</grupos>
)"));
    const Rows expected = {{"BACHI", "AB", "7001000000"}, {"ESO", "B", "7002"}};
    EXPECT_EQ(ReadColumns("GRUPOST", {"NIVEL", "GRUPO", "IDGRUPO"}), expected);
    const std::string group = "grupo nº 1: 1A (identificador 70010000001)";
    EXPECT_EQ(NoticeLines(report, "GRUPOST"),
              (std::vector<std::string>{
                  "texto recortado al ancho del campo NIVEL | " + group + ": 'BACHIL'",
                  "texto recortado al ancho del campo GRUPO | " + group + ": 'ABC'",
                  "identificador más largo que el campo IDGRUPO: sus asignaciones no se podrán enlazar | " + group +
                      ": '70010000001'",
              }));
}

}  // namespace
}  // namespace pasarela
