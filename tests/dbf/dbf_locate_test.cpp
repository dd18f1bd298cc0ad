#include "dbf/dbf_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "dbf/dbf_test_support.h"
#include "os/error.h"

namespace pasarela {
namespace {

using test::DbfBuilder;
using test::ErrorMessageOf;

const FieldSpec kFields[] = {{"CODIGO", FieldKind::Character, 10}, {"NUM", FieldKind::Integer, 0}};
constexpr std::size_t kCodigo = 0, kNum = 1;

struct Row {
    std::string_view codigo;
    std::optional<int> num;
};

class DbfLocateTest : public test::TempFolderTest {
protected:
    std::filesystem::path Table() const { return folder_ / "ASIGNOMT.DBF"; }

    // Our own level-7 table with these rows, in this order.
    void CreateWith(std::initializer_list<Row> rows)
    {
        DbfTable::Create(Table(), kFields);
        DbfTable table = DbfTable::Open(Table(), test::ReadWrite());
        for (const Row& row : rows)
            Add(table, row);
        table.Close();
    }

    static void Add(DbfTable& table, const Row& row)
    {
        table.Append();
        table.SetString(kCodigo, row.codigo);
        if (row.num)
            table.SetInteger(kNum, *row.num);
        table.Post();
    }
};

TEST_F(DbfLocateTest, FindsTheFirstExactMatchInStoredOrder)
{
    CreateWith({{"LEN", 1}, {"MAT", 2}, {"mat", 3}, {"MAT", 4}, {"Ñ½", 5}, {"HIS", std::nullopt}, {"", 7}});
    struct Case {
        std::string_view name;
        std::size_t field;
        std::string_view key;
        std::optional<std::size_t> record;  // nullopt: not found
    };
    const Case cases[] = {
        {"first of two duplicates", kCodigo, "MAT", 2},
        {"lower case is another key", kCodigo, "mat", 3},
        {"mixed case matches nothing", kCodigo, "Mat", std::nullopt},
        {"accented key", kCodigo, "Ñ½", 5},
        {"absent key", kCodigo, "FIS", std::nullopt},
        {"empty key finds the empty value", kCodigo, "", 7},
        {"integer by its text", kNum, "4", 4},
        {"integer text with a sign is another text", kNum, "+4", std::nullopt},
        {"empty integer", kNum, "", 6},
        {"absent integer", kNum, "-1", std::nullopt},
    };
    DbfTable table = DbfTable::Open(Table());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        table.First();
        table.Next();  // record 2: where a failed search must leave the table
        EXPECT_EQ(table.Locate(c.field, c.key), c.record.has_value());
        EXPECT_EQ(table.RecordNumber(), c.record.value_or(2));
        if (c.record && c.field == kCodigo) {
            EXPECT_EQ(table.AsInteger(kNum), static_cast<int>(*c.record));  // the whole record is current
        }
    }
}

TEST_F(DbfLocateTest, SeesRecordsPostedToTheOpenTable)
{
    CreateWith({{"LEN", 1}, {"MAT", 2}});
    DbfTable table = DbfTable::Open(Table(), test::ReadWrite());
    ASSERT_TRUE(table.Locate(kCodigo, "MAT"));  // the search is ready before the appends

    Add(table, {"FIS", 3});
    Add(table, {"MAT", 4});
    EXPECT_TRUE(table.Locate(kCodigo, "FIS"));
    EXPECT_EQ(table.RecordNumber(), 3u);
    EXPECT_EQ(table.AsInteger(kNum), 3);
    EXPECT_TRUE(table.Locate(kCodigo, "MAT"));
    EXPECT_EQ(table.RecordNumber(), 2u);  // the later duplicate does not take over
    EXPECT_TRUE(table.Locate(kNum, "4"));  // a field searched for the first time after the appends
    EXPECT_EQ(table.AsString(kCodigo), "MAT");
}

TEST_F(DbfLocateTest, WorksOnATableThatStartedEmpty)
{
    CreateWith({});
    DbfTable table = DbfTable::Open(Table(), test::ReadWrite());
    EXPECT_FALSE(table.Locate(kCodigo, "MAT"));
    Add(table, {"MAT", 1});
    Add(table, {"LEN", 2});
    ASSERT_TRUE(table.Locate(kCodigo, "LEN"));
    EXPECT_EQ(table.AsInteger(kNum), 2);
    table.Close();

    DbfTable reopened = DbfTable::Open(Table());
    ASSERT_TRUE(reopened.Locate(kCodigo, "LEN"));
    EXPECT_EQ(reopened.RecordNumber(), 2u);
}

TEST_F(DbfLocateTest, SkipsDeletedRecordsAndMatchesNumbersByTheirText)
{
    const DbfBuilder builder{
        .fields = {{"CODIGO", 'C', 6}, {"DIA", 'N', 2}, {"HORA", 'N', 5, 2}},
        .rows = {{'*', {"LEN", " 1", " 8.50"}},
                 {' ', {"MAT", " 2", "10.00"}},
                 {' ', {"LEN", " 1", " 9.25"}},
                 {'*', {"FIS", " 3", "11.00"}}},
    };
    const auto path = folder_ / "SOLUC.DBF";
    test::WriteFileBytes(path, builder.Build());
    struct Case {
        std::string_view field;
        std::string_view key;
        std::optional<std::size_t> record;
    };
    const Case cases[] = {
        {"CODIGO", "LEN", 3},           // record 1 is deleted
        {"CODIGO", "FIS", std::nullopt},  // only in a deleted record
        {"DIA", "1", 3},
        {"DIA", " 1", std::nullopt},     // the stored fill is not part of the value
        {"HORA", "10", 2},                // 10.00 reads as 10
        {"HORA", "10.00", std::nullopt},
        {"HORA", "9.25", 3},
    };
    DbfTable table = DbfTable::Open(path);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " = '" + std::string(c.key) + "'");
        EXPECT_EQ(table.Locate(table.FieldIndex(c.field), c.key), c.record.has_value());
        if (c.record) {
            EXPECT_EQ(table.RecordNumber(), *c.record);
        }
    }
}

TEST_F(DbfLocateTest, AnUnreadableValueFailsEverySearchOnItsField)
{
    const DbfBuilder builder{
        .fields = {{"CODIGO", 'C', 6}, {"HORA", 'N', 5, 2}},
        .rows = {{' ', {"LEN", " 1.00"}}, {' ', {"MAT", "1.2.3"}}, {' ', {"FIS", " 3.00"}}},
    };
    const auto path = folder_ / "SOLUC.DBF";
    test::WriteFileBytes(path, builder.Build());
    DbfTable table = DbfTable::Open(path);
    table.First();
    const std::string message = "SOLUC.DBF, registro 2, campo HORA: '1.2.3' no es un número válido";
    // Twice: a failed search must not leave a partial index that then answers "not found".
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        EXPECT_EQ(ErrorMessageOf([&] { table.Locate(1, "3"); }), message);
        EXPECT_EQ(table.RecordNumber(), 1u);
    }
    EXPECT_TRUE(table.Locate(0, "FIS"));  // other fields are searched as usual
    EXPECT_EQ(table.RecordNumber(), 3u);
}

TEST_F(DbfLocateTest, RefusesAFieldTheTableDoesNotHave)
{
    CreateWith({{"MAT", 1}});
    DbfTable table = DbfTable::Open(Table());
    EXPECT_EQ(ErrorMessageOf([&] { table.Locate(2, "MAT"); }), "La tabla ASIGNOMT.DBF no tiene el campo número 3");
}

}  // namespace
}  // namespace pasarela
