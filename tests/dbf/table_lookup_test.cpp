#include "dbf/table_lookup.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "dbf/text_index.h"

namespace pasarela {
namespace {

using namespace std::string_literals;
using test::DbfBuilder;

TEST(TextIndexTest, FindsEachTextExactlyAndKeepsTheFirstValue)
{
    // Texts of 11 bytes are held inside the index's slots, longer ones apart: both kinds,
    // and texts that differ only past the held part, must be told apart.
    const std::string twelve = "ABCDEFGHIJKL";
    const std::string twelveOther = "ABCDEFGHIJKM";
    struct Insert {
        std::string text;
        std::uint32_t value;
        bool added;
    };
    const Insert inserts[] = {
        {"MAT", 1, true},         {"mat", 2, true},       {"MAT", 3, false},
        {"", 4, true},            {"ABCDEFGHIJK", 5, true}, {twelve, 6, true},
        {twelveOther, 7, true},   {twelve, 8, false},     {"A\0B"s, 9, true},
        {"A", 10, true},          {"Ñ½", 11, true},
    };
    TextIndex index;
    for (const Insert& insert : inserts) {
        SCOPED_TRACE(insert.text);
        EXPECT_EQ(index.Insert(insert.text, insert.value), insert.added);
    }
    EXPECT_EQ(index.Size(), 9u);

    struct Case {
        std::string text;
        std::optional<std::uint32_t> value;
    };
    const Case cases[] = {
        {"MAT", 1},          {"mat", 2},          {"Mat", std::nullopt}, {"", 4},
        {"ABCDEFGHIJK", 5},  {twelve, 6},         {twelveOther, 7},      {"ABCDEFGHIJ", std::nullopt},
        {"A\0B"s, 9},        {"A", 10},           {"A\0"s, std::nullopt}, {"Ñ½", 11},
        {"ABCDEFGHIJKLM", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(index.Find(c.text), c.value);
    }
}

TEST(TextIndexTest, KeepsEveryTextAsItGrows)
{
    // Without a reservation the slots are rebuilt many times over; every text, short or
    // long, must come through each rebuild.
    constexpr std::uint32_t kCount = 100'000;
    const auto text = [](std::uint32_t i) { return (i % 3 == 0 ? "PROFESORA-LARGA-" : "P") + std::to_string(i); };
    TextIndex index;
    for (std::uint32_t i = 0; i < kCount; ++i)
        ASSERT_TRUE(index.Insert(text(i), i));
    EXPECT_EQ(index.Size(), kCount);
    for (std::uint32_t i = 0; i < kCount; ++i)
        ASSERT_EQ(index.Find(text(i)), i) << text(i);
    EXPECT_EQ(index.Find(text(kCount)), std::nullopt);
    EXPECT_EQ(index.Find("P"), std::nullopt);
}

TEST(TextIndexTest, AnEmptyIndexFindsNothing)
{
    TextIndex index;
    EXPECT_EQ(index.Find(""), std::nullopt);
    index.Prefetch("MAT");  // harmless on an index without slots
    index.Reserve(1000);
    EXPECT_EQ(index.Find("MAT"), std::nullopt);
}

class TableLookupTest : public test::TempFolderTest {
protected:
    std::filesystem::path WriteBytes(const std::string& bytes) const
    {
        const auto path = folder_ / "DATOS.DBF";
        test::WriteFileBytes(path, bytes);
        return path;
    }
};

TEST_F(TableLookupTest, GivesTheFieldsOfTheFirstLiveRecordWithEachKey)
{
    // A Windows-1252 table from another program: a deleted record, a duplicate key, a
    // key with letters beyond ASCII, a number field given as text.
    const DbfBuilder builder{
        .fields = {{"ABREV", 'C', 10}, {"IDPROF", 'C', 10}, {"HORAS", 'N', 4, 1}},
        .rows = {{'*', {"MAT", "borrado", " 1.0"}},
                 {' ', {"MAT", "501", " 2.5"}},
                 {' ', {"MAT", "502", " 3.0"}},
                 {' ', {"N\xD1" "O", "503", ""}},
                 {' ', {"", "504", " 4.0"}}},
    };
    DbfTable table = DbfTable::Open(WriteBytes(builder.Build()));
    const TableLookup lookup(table, "ABREV", {"IDPROF", "HORAS"});

    struct Case {
        std::string_view key;
        std::optional<std::vector<std::string>> fields;
    };
    const Case cases[] = {
        {"MAT", std::vector<std::string>{"501", "2.5"}},
        {"NÑO", std::vector<std::string>{"503", ""}},
        {"", std::vector<std::string>{"504", "4"}},
        {"mat", std::nullopt},
        {"MAT ", std::nullopt},
        {"borrado", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const auto found = lookup.Find(c.key);
        ASSERT_EQ(found.has_value(), c.fields.has_value());
        if (found) {
            EXPECT_EQ(std::vector<std::string>(found->begin(), found->end()), *c.fields);
        }
        EXPECT_EQ(lookup.Contains(c.key), c.fields.has_value());
    }
}

TEST_F(TableLookupTest, FindsTheFirstLiveRecordWithExactlyTheKey)
{
    const DbfBuilder builder{
        .fields = {{"COD", 'C', 6}, {"NUM", 'N', 3}},
        .rows = {{' ', {"LEN", "  1"}}, {'*', {"FIS", "  2"}}, {' ', {"MAT", "  3"}}, {' ', {"mat", "  4"}},
                 {' ', {"MAT", "  5"}}, {' ', {"\xBD", "  6"}}, {' ', {"", "  7"}}},
    };
    DbfTable table = DbfTable::Open(WriteBytes(builder.Build()));
    const TableLookup lookup(table, table.FieldIndex("COD"), std::vector<std::size_t>{table.FieldIndex("NUM")});
    struct Case {
        std::string_view key;
        std::optional<std::string_view> number;
    };
    const Case cases[] = {
        {"LEN", "1"}, {"FIS", std::nullopt},  // deleted
        {"MAT", "3"},                         // the first of two
        {"mat", "4"}, {"½", "6"},  {"", "7"}, {"HIS", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const auto found = lookup.Find(c.key);
        ASSERT_EQ(found.has_value(), c.number.has_value());
        if (found) {
            EXPECT_EQ((*found)[0], *c.number);
        }
    }
}

TEST_F(TableLookupTest, TextReadsWhatAsStringReadsAndGoToMovesToAnyRecord)
{
    const DbfBuilder builder{
        .fields = {{"NOMBRE", 'C', 8}, {"DIA", 'N', 2}, {"ALTA", 'D', 8}},
        .rows = {{' ', {"LUNES", " 1", "20240506"}}, {'*', {"MARTES", " 2", ""}}, {' ', {"MI\xC9RC", "", ""}}},
    };
    DbfTable table = DbfTable::Open(WriteBytes(builder.Build()));
    std::string buffer;
    for (std::size_t record : {3u, 2u, 1u}) {
        table.GoTo(record);
        EXPECT_EQ(table.RecordNumber(), record);
        for (std::size_t field = 0; field < table.Fields().size(); ++field) {
            SCOPED_TRACE("record " + std::to_string(record) + ", field " + std::to_string(field));
            EXPECT_EQ(table.Text(field, buffer), table.AsString(field));
        }
    }
    table.GoTo(3);
    EXPECT_EQ(table.Text(0, buffer), "MIÉRC");
    EXPECT_THROW(table.GoTo(0), Error);
    EXPECT_THROW(table.GoTo(4), Error);
}

}  // namespace
}  // namespace pasarela
