#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "test_support.h"

namespace pasarela {
namespace {

// Other programs' tables may have numeric fields far wider than any of ours (up to 255
// bytes): a number stored into one was formatted in a 64-byte buffer and read past its end.
class WideNumberFieldTest : public test::TempFolderTest {};

TEST_F(WideNumberFieldTest, NumbersFillFieldsOfAnyWidthAndTooLongOnesAreRefused)
{
    test::DbfBuilder builder;
    builder.fields = {{"ANCHO", 'N', 200, 2}, {"ESTRECHO", 'N', 4, 1}};
    const auto path = folder_ / "AJENA.DBF";
    test::WriteFileBytes(path, builder.Build());

    {
        DbfTable table = DbfTable::Open(path, test::ReadWrite());
        table.Append();
        table.SetFloat(0, 1234.5);
        table.SetFloat(1, 2.5);
        table.Post();
        table.Append();
        EXPECT_THAT(test::ErrorMessageOf([&] { table.SetFloat(1, 12345.0); }),
                    AllOf(StartsWith("AJENA.DBF"), EndsWith("campo ESTRECHO: el valor 12345 no cabe en el campo")));
        table.Close();
    }
    // Read before opening: Windows lets no one read a table that is held.
    const std::string bytes = test::ReadFileBytes(path);
    DbfTable table = DbfTable::Open(path);
    table.First();
    EXPECT_EQ(table.AsString(0), "1234.5");
    EXPECT_EQ(table.AsString(1), "2.5");
    EXPECT_NE(bytes.find(std::string(193, ' ') + "1234.50"), std::string::npos);
}

}  // namespace
}  // namespace pasarela
