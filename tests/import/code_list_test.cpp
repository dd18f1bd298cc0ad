#include "import/code_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/error.h"
#include "test_support.h"

namespace pasarela {
namespace {

CodeList ListOf(const std::vector<std::string>& codes)
{
    CodeList list;
    for (const std::string& code : codes)
        list.Add(code);
    return list;
}

TEST(CodeListTest, CodesAreTheSameWhateverTheirLetterCase)
{
    const CodeList list = ListOf({"MAT", "Ñu", "ÁLV", "Ωμέγα"});
    for (const char* code : {"mat", "MaT", "ñU", "álv", "ωΜΈΓΑ"}) {
        SCOPED_TRACE(code);
        EXPECT_TRUE(list.Contains(code));
    }
    for (const char* code : {"MA", "MATE", "Nu", "ALV", ""}) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(list.Contains(code));
    }
}

TEST(CodeListTest, CodesAreComparedAsWindows1252StoresThem)
{
    // Ω and Ψ both reach the table as '?', so after one of them the other is taken.
    const CodeList list = ListOf({"Ω1"});
    EXPECT_TRUE(list.Contains("Ψ1"));
    EXPECT_TRUE(list.Contains("?1"));
    EXPECT_FALSE(list.Contains("¿1"));
}

TEST(CodeListTest, FirstFreeWithCounterSkipsTakenCandidates)
{
    struct Case {
        const char* name;
        std::vector<std::string> taken;
        std::string stem;
        std::string tail;
        std::size_t maxLength;
        std::string expected;
    };
    const Case cases[] = {
        {"the first counter", {}, "MAT", "", std::string::npos, "MAT1"},
        {"taken counters compare without case", {"mat1", "MAT2"}, "MAT", "", std::string::npos, "MAT3"},
        {"an empty stem", {"1"}, "", "", std::string::npos, "2"},
        {"the counter goes before the tail", {"2BACH-C1-A"}, "2BACH-CI", "-A", 10, "2BACH-C2-A"},
        {"the stem gives way to the counter", {}, "LABORATO", "", 10, "LABORATO1"},
        {"a stem of accented letters is cut by characters", {}, "ÁÉÍÓÚÑÜÇÀÈ", "", 10, "ÁÉÍÓÚÑÜÇÀ1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ListOf(c.taken).FirstFreeWithCounter(c.stem, c.tail, c.maxLength), c.expected);
    }
}

TEST(CodeListTest, StemShrinksAsTheCounterGrows)
{
    CodeList list;
    for (int i = 1; i <= 99; ++i)
        list.Add("LABORATO" + std::to_string(i));
    EXPECT_EQ(list.FirstFreeWithCounter("LABORATO", "", 10), "LABORAT100");
}

TEST(CodeListTest, NoRoomForAnyCounterIsAnError)
{
    EXPECT_THAT([] { CodeList().FirstFreeWithCounter("AB", "-A", 2); },
                ThrowsMessage<Error>(StrEq("No queda ningún código libre para 'AB'")));
}

}  // namespace
}  // namespace pasarela
