#include "dbf/dbf_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_test_support.h"
#include "os/error.h"

namespace pasarela {
namespace {

using namespace std::string_literals;
using test::Bytes;
using test::DbfBuilder;
using test::ErrorMessageOf;
using test::FieldBytes;
using test::RowBytes;
using test::Zeros;

std::string Le32(std::uint32_t value)
{
    return Bytes({static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF), static_cast<int>(value >> 24)});
}

// Every field of the current record as text, "|"-joined: what a dump would show.
std::string RecordText(const DbfTable& table)
{
    std::string text;
    for (std::size_t i = 0; i < table.Fields().size(); ++i)
        text += (i ? "|" : "") + table.AsString(i);
    return text;
}

// The records a scan visits, as RecordText.
std::vector<std::string> ScanAll(DbfTable& table)
{
    std::vector<std::string> seen;
    for (table.First(); !table.Eof(); table.Next())
        seen.push_back(RecordText(table));
    return seen;
}

// Opens the table and reads every field of every record; an Error is an answer, anything
// else (another exception, a crash) is a defect. Returns whether the table opened.
bool OpensAndReadsOrRefuses(const std::filesystem::path& path, std::size_t* records = nullptr)
{
    try {
        DbfTable table = DbfTable::Open(path);
        if (records)
            *records = table.RecordCount();
        for (table.First(); !table.Eof(); table.Next())
            for (std::size_t i = 0; i < table.Fields().size(); ++i)
                table.AsString(i);
        return true;
    } catch (const Error&) {
        return false;
    }
}

class DbfReaderTest : public test::TempFolderTest {
protected:
    // Checks one of many damaged copies. Each goes to a new name and is removed after:
    // rewriting one file over and over is far slower on some file systems.
    bool CopyOpensOrIsRefused(const std::string& bytes, std::size_t* records = nullptr)
    {
        const auto path = WriteBytes(bytes, "COPIA" + std::to_string(++copies_) + ".DBF");
        const bool opened = OpensAndReadsOrRefuses(path, records);
        std::filesystem::remove(path);
        return opened;
    }

    std::filesystem::path Write(const DbfBuilder& builder, std::string_view name = "DATOS.DBF")
    {
        return WriteBytes(builder.Build(), name);
    }

    std::filesystem::path WriteBytes(const std::string& bytes, std::string_view name = "DATOS.DBF")
    {
        const std::filesystem::path path = folder_ / name;
        test::WriteFileBytes(path, bytes);
        return path;
    }

private:
    int copies_ = 0;
};

TEST_F(DbfReaderTest, ReadsDBase3WithNumbersDatesAndAnsiText)
{
    const DbfBuilder builder{
        .version = 0x03,
        .languageId = 0x57,
        .fields = {{"NOMBRE", 'C', 10}, {"DIA", 'N', 2}, {"HORA", 'N', 6, 2}, {"FECHA", 'D', 8}, {"ACTIVO", 'L', 1}},
        .rows = {{' ', {"Mart\xEDnez", " 1", "  8.50", "20240506", "T"}},
                 {' ', {"\xD1" "and\xFA \xBD", "12", "-10.25", "        ", "?"}}},
    };
    DbfTable table = DbfTable::Open(Write(builder));

    EXPECT_EQ(table.Dialect(), DbfDialect::DBase3);
    EXPECT_EQ(table.VersionByte(), 0x03);
    EXPECT_EQ(table.TextCodePage(), CodePage::Windows1252);
    EXPECT_TRUE(table.Warnings().empty());
    ASSERT_EQ(table.Fields().size(), 5u);
    const DbfField& hora = table.Fields()[2];
    EXPECT_EQ(hora.name, "HORA");
    EXPECT_EQ(hora.type, 'N');
    EXPECT_EQ(hora.length, 6);
    EXPECT_EQ(hora.decimals, 2);
    EXPECT_EQ(hora.offset, 12u);

    EXPECT_EQ(ScanAll(table), (std::vector<std::string>{"Martínez|1|8.5|2024-05-06|T", "Ñandú ½|12|-10.25||"}));
    table.First();
    EXPECT_EQ(table.AsInteger(table.FieldIndex("dia")), 1);
    EXPECT_DOUBLE_EQ(table.AsFloat(table.FieldIndex("HORA")), 8.5);
    const DbfValue fecha = table.Value(3);
    EXPECT_EQ(fecha.kind, DbfValue::Kind::Date);
    EXPECT_EQ(fecha.year * 10000 + fecha.month * 100 + fecha.day, 20240506);
    table.Next();
    EXPECT_EQ(table.Value(3).kind, DbfValue::Kind::Empty);
    EXPECT_EQ(table.AsLogical(4), std::nullopt);
}

TEST_F(DbfReaderTest, LogicalValuesFollowEveryKnownSpelling)
{
    struct Case {
        char stored;
        std::optional<bool> value;
    };
    const Case cases[] = {
        {'T', true},         {'t', true},          {'Y', true},          {'y', true},
        {'F', false},        {'f', false},         {'N', false},         {'n', false},
        {'?', std::nullopt}, {' ', std::nullopt},  {'\0', std::nullopt}, {'1', std::nullopt},
    };
    DbfBuilder builder{.fields = {{"ACTIVO", 'L', 1}}};
    for (const Case& c : cases)
        builder.rows.push_back({' ', {std::string(1, c.stored)}});
    DbfTable table = DbfTable::Open(Write(builder));

    table.First();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("stored byte ") + std::to_string(static_cast<int>(c.stored)));
        ASSERT_FALSE(table.Eof());
        EXPECT_EQ(table.AsLogical(0), c.value);
        EXPECT_EQ(table.AsString(0), c.value ? (*c.value ? "T" : "F") : "");
        table.Next();
    }
}

TEST_F(DbfReaderTest, NumberTextsInTheFormsOtherProgramsWrite)
{
    struct Case {
        std::string_view name;
        char type;
        int width;
        int decimals;
        std::string stored;
        DbfValue::Kind kind;
        double number;
        std::string_view text;
    };
    const Case cases[] = {
        {"right-aligned whole number", 'N', 5, 0, "   42", DbfValue::Kind::Integer, 42, "42"},
        {"x.0 in a field without decimals", 'N', 5, 0, "  4.0", DbfValue::Kind::Integer, 4, "4"},
        {"decimals", 'N', 6, 2, "  8.50", DbfValue::Kind::Number, 8.5, "8.5"},
        {"whole number in a field with decimals", 'N', 6, 2, "  8.00", DbfValue::Kind::Number, 8, "8"},
        {"NUL-padded", 'N', 7, 2, "60.00\0\0"s, DbfValue::Kind::Number, 60, "60"},
        {"NULs in front", 'N', 5, 0, "\0\0\0"s "42", DbfValue::Kind::Integer, 42, "42"},
        {"decimal comma", 'N', 6, 2, "  1,50", DbfValue::Kind::Number, 1.5, "1.5"},
        {"exponent", 'N', 8, 0, "   1.E+3", DbfValue::Kind::Integer, 1000, "1000"},
        {"negative exponent", 'N', 8, 3, " -2.5e-1", DbfValue::Kind::Number, -0.25, "-0.25"},
        {"plus sign", 'N', 4, 0, "  +7", DbfValue::Kind::Integer, 7, "7"},
        {"left-aligned", 'N', 5, 0, "-3   ", DbfValue::Kind::Integer, -3, "-3"},
        {"leading zeros", 'N', 5, 0, "00042", DbfValue::Kind::Integer, 42, "42"},
        {"minus zero", 'N', 3, 0, " -0", DbfValue::Kind::Integer, 0, "0"},
        {"fifteen digits", 'N', 16, 0, "-999999999999999", DbfValue::Kind::Integer, -999999999999999.0, "-999999999999999"},
        {"sixteen digits", 'N', 16, 0, "1234567890123456", DbfValue::Kind::Integer, 1234567890123456.0, "1234567890123456"},
        {"F field", 'F', 8, 2, "   -3.25", DbfValue::Kind::Number, -3.25, "-3.25"},
        {"blank", 'N', 5, 0, "     ", DbfValue::Kind::Empty, 0, ""},
        {"all NULs", 'N', 5, 0, Zeros(5), DbfValue::Kind::Empty, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DbfTable table = DbfTable::Open(
            Write({.fields = {{"HORA", c.type, c.width, c.decimals}}, .rows = {{' ', {c.stored}}}}));
        table.First();
        ASSERT_FALSE(table.Eof());
        EXPECT_EQ(table.Value(0).kind, c.kind);
        EXPECT_DOUBLE_EQ(table.AsFloat(0), c.number);
        EXPECT_EQ(table.AsString(0), c.text);
    }
}

TEST_F(DbfReaderTest, UnreadableNumbersNameTableRecordAndField)
{
    struct Case {
        std::string_view name;
        std::string stored;
        std::function<void(const DbfTable&)> read;
        std::string message;
    };
    const Case cases[] = {
        {"word", "  abc", [](const DbfTable& t) { t.AsInteger(1); },
         "DATOS.DBF, registro 3, campo HORA: 'abc' no es un número válido"},
        {"two points", "1.2.3", [](const DbfTable& t) { t.AsFloat(1); },
         "DATOS.DBF, registro 3, campo HORA: '1.2.3' no es un número válido"},
        {"fraction read as integer", " 8.50", [](const DbfTable& t) { t.AsInteger(1); },
         "DATOS.DBF, registro 3, campo HORA: '8.5' no es un número entero válido"},
        {"text read as logical", " 8.50", [](const DbfTable& t) { t.AsLogical(0); },
         "DATOS.DBF, registro 3, campo NOMBRE: el campo no es lógico"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DbfBuilder builder{
            .fields = {{"NOMBRE", 'C', 6}, {"HORA", 'N', 5, 2}},
            .rows = {{' ', {"LUNES", " 1.00"}}, {'*', {"BORRA", "*****"}}, {' ', {"MARTES", c.stored}}},
        };
        DbfTable table = DbfTable::Open(Write(builder));
        table.First();
        table.Next();
        ASSERT_EQ(table.RecordNumber(), 3u);
        EXPECT_EQ(ErrorMessageOf([&] { c.read(table); }), c.message);
    }
}

TEST_F(DbfReaderTest, DBase4MemoFieldWithoutItsMemoFileReadsEmpty)
{
    const DbfBuilder builder{
        .version = 0x8B,
        .fields = {{"NOMBRE", 'C', 8}, {"NOTAS", 'M', 10}},
        .rows = {{' ', {"LUNES", "         1"}}, {' ', {"MARTES", "          "}}},
    };
    const auto path = Write(builder);
    ASSERT_FALSE(std::filesystem::exists(folder_ / "DATOS.DBT"));
    DbfTable table = DbfTable::Open(path);
    EXPECT_EQ(table.Dialect(), DbfDialect::DBase4);
    EXPECT_EQ(ScanAll(table), (std::vector<std::string>{"LUNES|", "MARTES|"}));
    table.First();
    EXPECT_EQ(table.Value(1).kind, DbfValue::Kind::Empty);
}

TEST_F(DbfReaderTest, DBase7BinaryNumbersAndTimestamps)
{
    struct Row {
        std::string id, num, precio, alta;
        std::string expected;  // RecordText
    };
    const Row rows[] = {
        {Bytes({0x80, 0, 0, 1}), Bytes({0x80, 0, 0, 1}), Bytes({0x3F, 0x97, 0x00, 0x51, 0xEB, 0x85, 0x1E, 0xB7}),
         Bytes({0x42, 0xCC, 0x41, 0x8B, 0xA9, 0x9A, 0x00, 0x00}), "1|1|-199.99|1970-01-01 00:00:00|José"},
        {Bytes({0x80, 0, 0, 2}), Bytes({0x7F, 0xFF, 0xFF, 0xFF}), Bytes({0xC0, 0x45, 0xD3, 0x33, 0x33, 0x33, 0x33, 0x33}),
         Bytes({0x42, 0xCD, 0x09, 0x32, 0x2C, 0xCB, 0x69, 0x00}), "2|-1|43.65|2024-05-06 08:30:15|½"},
        {Bytes({0x80, 0, 0, 3}), Bytes({0xFF, 0xFF, 0xFF, 0xFF}), Bytes({0x80}) + Zeros(7),
         Bytes({0x42, 0xCB, 0x40, 0x62, 0xAA, 0x88, 0x00, 0x00}), "3|2147483647|0|1900-01-01 00:00:00|"},
        {Bytes({0x80, 0, 0, 4}), Bytes({0x00, 0x00, 0x00, 0x01}), Zeros(8), Zeros(8), "4|-2147483647|||"},
        {Bytes({0x80, 0, 0, 5}), Zeros(4), Zeros(8), Zeros(8), "5||||"},
    };
    const std::string nombres[] = {"Jos\xE9", "\xBD", "", "", ""};
    for (std::uint8_t version : {0x04, 0x8C}) {
        SCOPED_TRACE(static_cast<int>(version));
        DbfBuilder builder{
            .version = version,
            .fields = {{"ID", '+', 4}, {"NUM", 'I', 4}, {"PRECIO", 'O', 8}, {"ALTA", '@', 8}, {"NOMBRE", 'C', 10}},
        };
        for (std::size_t i = 0; i < std::size(rows); ++i)
            builder.rows.push_back({' ', {rows[i].id, rows[i].num, rows[i].precio, rows[i].alta, nombres[i]}});
        DbfTable table = DbfTable::Open(Write(builder));

        EXPECT_EQ(table.Dialect(), DbfDialect::DBase7);
        EXPECT_EQ(table.VersionByte(), version);
        EXPECT_EQ(table.LanguageDriver(), "DBWINUS0");
        EXPECT_TRUE(table.Warnings().empty());
        std::vector<std::string> expected;
        for (const Row& row : rows)
            expected.push_back(row.expected);
        EXPECT_EQ(ScanAll(table), expected);

        table.First();
        table.Next();
        const DbfValue alta = table.Value(3);
        EXPECT_EQ(alta.kind, DbfValue::Kind::DateTime);
        EXPECT_EQ(alta.millisecond, 250);
        EXPECT_EQ(table.AsInteger(1), -1);
        EXPECT_DOUBLE_EQ(table.AsFloat(2), 43.65);
    }
}

TEST_F(DbfReaderTest, Level7TextFollowsTheLanguageDriverName)
{
    struct Case {
        std::string driver;
        std::string stored;
        CodePage codePage;
        std::string_view text;
    };
    const Case cases[] = {
        {"DBWINUS0", "Jos\xE9 \xF1 \xBD", CodePage::Windows1252, "José ñ ½"},
        {"DBWINWE0", "Jos\xE9 \x80", CodePage::Windows1252, "José €"},
        {"DB437US0", "Jos\x82 \xA4 \xAB", CodePage::Dos437, "José ñ ½"},
        {"DB850ES0", "Jos\x82 \xA5", CodePage::Dos850, "José Ñ"},
        {"DB866RU0", "\x8C\xA8\xE0", CodePage::Dos866, "Мир"},
        {"", "Jos\xE9", CodePage::Windows1252, "José"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driver);
        DbfTable table = DbfTable::Open(Write(
            {.version = 0x04, .driver = c.driver, .fields = {{"NOMBRE", 'C', 10}}, .rows = {{' ', {c.stored}}}}));
        EXPECT_EQ(table.LanguageDriver(), c.driver);
        EXPECT_EQ(table.TextCodePage(), c.codePage);
        table.First();
        EXPECT_EQ(table.AsString(0), c.text);
    }
}

TEST_F(DbfReaderTest, ClassicTextFollowsTheLanguageIdOrTheCallersChoice)
{
    struct Case {
        std::string_view name;
        std::uint8_t languageId;
        std::optional<CodePage> chosen;
        std::string stored;
        std::string_view text;
        bool warns;
    };
    const Case cases[] = {
        {"dBase ANSI 0x57", 0x57, std::nullopt, "Jos\xE9 \xBD \x80", "José ½ €", false},
        {"Spanish ANSI 0x59", 0x59, std::nullopt, "Jos\xE9", "José", false},
        {"FoxPro mark 0x03", 0x03, std::nullopt, "Jos\xE9", "José", false},
        {"DOS 437", 0x01, std::nullopt, "Jos\x82", "José", false},
        {"DOS 850", 0x02, std::nullopt, "\xA5" "and\xA3", "Ñandú", false},
        {"not declared (0) reads as Windows-1252", 0x00, std::nullopt, "Jos\xE9", "José", true},
        {"unknown id reads as Windows-1252", 0x7E, std::nullopt, "Jos\xE9", "José", true},
        {"caller's choice wins", 0x57, CodePage::Dos850, "Jos\x82", "José", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DbfTable::OpenOptions options;
        options.codePage = c.chosen;
        DbfTable table = DbfTable::Open(
            Write({.languageId = c.languageId, .fields = {{"NOMBRE", 'C', 10}}, .rows = {{' ', {c.stored}}}}), options);
        table.First();
        EXPECT_EQ(table.AsString(0), c.text);
        if (c.warns) {
            ASSERT_EQ(table.Warnings().size(), 1u);
            EXPECT_EQ(table.Warnings()[0], "código de idioma 0x" + std::string(c.languageId ? "7E" : "00") +
                                               " desconocido; se lee como Windows-1252");
        } else {
            EXPECT_TRUE(table.Warnings().empty());
        }
    }
}

TEST_F(DbfReaderTest, FoxProWithMemoField)
{
    const DbfBuilder builder{
        .version = 0xF5,
        .languageId = 0x03,
        .fields = {{"NOMBRE", 'C', 8}, {"NOTAS", 'M', 10}, {"HORAS", 'N', 5, 1}},
        .rows = {{' ', {"Qu\xEDmica", "         3", "  2.5"}}},
    };
    DbfTable table = DbfTable::Open(Write(builder));
    EXPECT_EQ(table.Dialect(), DbfDialect::FoxPro);
    EXPECT_EQ(ScanAll(table), std::vector<std::string>{"Química||2.5"});
}

TEST_F(DbfReaderTest, NumbersFilledWithAsterisksReadEmptyAndAreTold)
{
    const DbfBuilder builder{
        .fields = {{"NOMBRE", 'C', 6}, {"HORA", 'N', 5, 2}, {"DIA", 'F', 3}},
        .rows = {{' ', {"LUNES", "*****", "  *"}}, {' ', {"MARTES", " 2.50", "  3"}}, {' ', {"MIERCO", "", ""}}},
    };
    DbfTable table = DbfTable::Open(Write(builder));
    EXPECT_EQ(ScanAll(table), (std::vector<std::string>{"LUNES||", "MARTES|2.5|3", "MIERCO||"}));
    struct Case {
        std::size_t record;
        bool hora;
        bool dia;
    };
    for (const Case c : {Case{1, true, true}, Case{2, false, false}, Case{3, false, false}}) {
        SCOPED_TRACE(c.record);
        table.GoTo(c.record);
        EXPECT_EQ(table.HoldsOverflow(1), c.hora);
        EXPECT_EQ(table.HoldsOverflow(2), c.dia);
        EXPECT_FALSE(table.HoldsOverflow(0));
    }
    table.GoTo(1);
    EXPECT_EQ(table.Value(1).kind, DbfValue::Kind::Empty);
    EXPECT_EQ(table.AsFloat(1), 0.0);
    EXPECT_EQ(table.AsInteger(2), 0);
    EXPECT_EQ(table.AsString(1), "");
}

TEST_F(DbfReaderTest, VisualFoxProVarcharReadsTheLengthItsNullFlagsBitPointsTo)
{
    // NOTA is nullable, so its null bit sits between the length bits of NOMBRE (bit 0) and
    // CLAVE (bit 2).
    const DbfBuilder builder{
        .version = 0x32,
        .languageId = 0x03,
        .fields = {{"NOMBRE", 'V', 20}, {"NOTA", 'C', 4, 0, 0x02}, {"CLAVE", 'V', 6}, {"_NullFlags", '0', 1, 0, 0x05}},
        .rows = {{' ', {"Bad Meets Evil" + Zeros(5) + "\x0E", "A", "ab" + Zeros(3) + "\x02", Bytes({0x05})}},
                 {' ', {"Hasta el final: 20 c", "B", "abcdef", Bytes({0x00})}},
                 {' ', {"Corto  " + Zeros(12) + "\x07", "C", "xyz", Bytes({0x01})}},
                 {' ', {Zeros(20), "D", "", Bytes({0x01})}}},
    };
    DbfTable table = DbfTable::Open(Write(builder));
    EXPECT_EQ(ScanAll(table), (std::vector<std::string>{"Bad Meets Evil|A|ab|", "Hasta el final: 20 c|B|abcdef|",
                                                         "Corto  |C|xyz|", "|D||"}));
}

TEST_F(DbfReaderTest, VisualFoxProBinaryFieldsAfterTheBacklink)
{
    for (std::uint8_t version : {0x30, 0x31}) {
        SCOPED_TRACE(static_cast<int>(version));
        const DbfBuilder builder{
            .version = version,
            .languageId = 0x03,
            .fields = {{"NUM", 'I', 4}, {"PESO", 'B', 8}, {"PRECIO", 'Y', 8}, {"ALTA", 'T', 8}, {"NOTAS", 'M', 4},
                       {"NOMBRE", 'C', 10}},
            .rows = {{' ', {Le32(static_cast<std::uint32_t>(-5)), Bytes({0, 0, 0, 0, 0, 0x80, 0x29, 0xC0}),
                            Bytes({0x15, 0xCD, 0x5B, 0x07, 0, 0, 0, 0}), Le32(2460437) + Le32(30615250), Le32(7),
                            "Jos\xE9"}},
                     {' ', {Zeros(4), Zeros(8), Zeros(8), Zeros(8), Zeros(4), ""}}},
        };
        const std::string bytes = builder.Build();
        ASSERT_EQ(static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8,
                  32 + 32 * 6 + 1 + 263);
        DbfTable table = DbfTable::Open(WriteBytes(bytes));

        EXPECT_EQ(table.Dialect(), DbfDialect::VisualFoxPro);
        EXPECT_EQ(ScanAll(table), (std::vector<std::string>{"-5|-12.75|12345.6789|2024-05-06 08:30:15||José",
                                                             "0|0|0|||"}));
        table.First();
        const DbfValue alta = table.Value(3);
        EXPECT_EQ(alta.kind, DbfValue::Kind::DateTime);
        EXPECT_EQ(alta.millisecond, 250);
        EXPECT_EQ(table.AsInteger(0), -5);
    }
}

TEST_F(DbfReaderTest, DamagedLayoutsReadWhatTheyHold)
{
    struct Case {
        std::string_view name;
        std::function<void(DbfBuilder&)> damage;
        std::vector<std::string> visible;  // RecordText of the records a scan visits
        std::size_t recordCount;
        std::string warning;  // "" when none is expected
    };
    const std::vector<std::string> all = {"LUNES|1", "MARTES|2", "MIERCOLE|3"};
    const Case cases[] = {
        {"as written", [](DbfBuilder&) {}, all, 3, ""},
        {"no end mark", [](DbfBuilder& b) { b.endMark = false; }, all, 3, ""},
        {"no end mark, a few stray bytes",
         [](DbfBuilder& b) {
             b.endMark = false;
             b.tail = "\r\n\x1A\0x"s;
         },
         all, 3, ""},
        {"a full stray record after the end mark",
         [](DbfBuilder& b) { b.tail = " JUEVES   4" + std::string(20, '#'); }, all, 3,
         "la cabecera declara 3 registros y el archivo contiene 5"},
        {"count 0", [](DbfBuilder& b) { b.count = 0; }, {}, 0,
         "la cabecera declara 0 registros y el archivo contiene 3"},
        {"record length one short of the fields", [](DbfBuilder& b) { b.recordLength = 10; }, all, 3,
         "la longitud de registro de la cabecera (10) no coincide con la suma de los campos (11)"},
        {"record length beyond the fields",
         [](DbfBuilder& b) {
             b.recordLength = 13;
             b.recordPadding = 2;
         },
         all, 3, "la longitud de registro de la cabecera (13) no coincide con la suma de los campos (11)"},
        {"no header terminator", [](DbfBuilder& b) { b.terminator.reset(); }, all, 3, ""},
        {"0x0A terminator", [](DbfBuilder& b) { b.terminator = 0x0A; }, all, 3, ""},
        {"padding after the terminator", [](DbfBuilder& b) { b.headerPadding = 40; }, all, 3, ""},
        {"deleted record", [](DbfBuilder& b) { b.rows[1].flag = '*'; }, {"LUNES|1", "MIERCOLE|3"}, 3, ""},
        {"every record deleted",
         [](DbfBuilder& b) {
             for (RowBytes& row : b.rows)
                 row.flag = '*';
         },
         {}, 3, ""},
        {"NUL deletion flag is active", [](DbfBuilder& b) { b.rows[1].flag = '\0'; }, all, 3, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DbfBuilder builder{
            .fields = {{"NOMBRE", 'C', 8}, {"DIA", 'N', 2}},
            .rows = {{' ', {"LUNES", " 1"}}, {' ', {"MARTES", " 2"}}, {' ', {"MIERCOLE", " 3"}}},
        };
        c.damage(builder);
        DbfTable table = DbfTable::Open(Write(builder));
        EXPECT_EQ(table.RecordCount(), c.recordCount);
        EXPECT_EQ(ScanAll(table), c.visible);
        EXPECT_EQ(table.Warnings(), c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.warning});
    }
}

TEST_F(DbfReaderTest, LongTextHighByteOnlyWhenTheRecordLengthAgrees)
{
    const std::string longText = std::string(297, 'x') + "FIN";
    struct Case {
        std::string_view name;
        FieldBytes text;
        std::uint16_t length;
        std::string stored;
        std::string read;
    };
    const Case cases[] = {
        {"FoxPro 300-byte text", {"LARGO", 'C', 300, 1}, 300, longText, longText},
        {"junk decimals on a text field", {"CORTO", 'C', 8, 2}, 8, "Jos\xE9", "José"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DbfBuilder builder{
            .fields = {c.text, {"DIA", 'N', 2}},
            .rows = {{' ', {c.stored, " 7"}}},
        };
        DbfTable table = DbfTable::Open(Write(builder));
        ASSERT_EQ(table.Fields().size(), 2u);
        EXPECT_EQ(table.Fields()[0].length, c.length);
        EXPECT_EQ(table.Fields()[1].offset, c.length);
        table.First();
        EXPECT_EQ(table.AsString(0), c.read);
        EXPECT_EQ(table.AsInteger(1), 7);
    }
}

TEST_F(DbfReaderTest, FieldsAreFoundIgnoringCaseFirstMatchWinning)
{
    DbfTable table = DbfTable::Open(Write({
        .fields = {{"Point_ID", 'N', 3}, {"Nombre", 'C', 6}, {"POINT_ID", 'N', 3}},
        .rows = {{' ', {"  1", "uno", "  2"}}},
    }));
    EXPECT_EQ(table.FieldIndex("point_id"), 0u);
    EXPECT_EQ(table.FieldIndex("NOMBRE"), 1u);
    EXPECT_EQ(table.FindField("HORA"), std::nullopt);
    EXPECT_EQ(ErrorMessageOf([&] { table.FieldIndex("HORA"); }), "La tabla DATOS.DBF no tiene el campo 'HORA'");
}

TEST_F(DbfReaderTest, MalformedHeadersAreRefusedNamingTheFile)
{
    const DbfBuilder good{.fields = {{"NOMBRE", 'C', 8}}, .rows = {{' ', {"LUNES"}}}};
    const auto with = [&](const std::function<void(DbfBuilder&)>& change) {
        DbfBuilder builder = good;
        change(builder);
        return builder.Build();
    };
    struct Case {
        std::string_view name;
        std::string bytes;
        std::string why;
    };
    const Case cases[] = {
        {"empty file", "", "la cabecera está incompleta"},
        {"31 bytes", good.Build().substr(0, 31), "la cabecera está incompleta"},
        {"version 0x02", with([](DbfBuilder& b) { b.version = 0x02; }), "versión 0x02 desconocida"},
        {"version 0x00", with([](DbfBuilder& b) { b.version = 0x00; }), "versión 0x00 desconocida"},
        {"version 0xFF", with([](DbfBuilder& b) { b.version = 0xFF; }), "versión 0xFF desconocida"},
        {"header length beyond the file", with([](DbfBuilder& b) { b.headerLength = 4000; }),
         "la cabecera dice medir 4000 bytes y el archivo solo tiene 75"},
        {"header length too short", with([](DbfBuilder& b) { b.headerLength = 20; }),
         "la longitud de la cabecera (20) es demasiado corta"},
        {"no fields", with([](DbfBuilder& b) { b.fields.clear(); b.rows.clear(); }), "no tiene campos"},
        {"no fields, level 7", with([](DbfBuilder& b) { b.version = 0x04; b.fields.clear(); b.rows.clear(); }),
         "no tiene campos"},
        {"nameless field", with([](DbfBuilder& b) { b.fields[0].name.clear(); }), "un campo no tiene nombre"},
        {"unknown type letter", with([](DbfBuilder& b) { b.fields[0].type = 'X'; }),
         "el campo 'NOMBRE' es de un tipo desconocido (X)"},
        {"type byte not a letter", with([](DbfBuilder& b) { b.fields[0].type = '\x01'; }),
         "el campo 'NOMBRE' es de un tipo desconocido (0x01)"},
        {"level-7 type in dBase III", with([](DbfBuilder& b) {
             b.fields[0] = {"NUM", 'I', 4};
             b.rows[0].cells[0] = Bytes({0x80, 0, 0, 1});
         }),
         "el campo 'NUM' es de un tipo desconocido (I)"},
        {"field length 0", with([](DbfBuilder& b) {
             b.fields[0].width = 0;
             b.rows[0].cells[0].clear();
         }),
         "el campo 'NOMBRE' tiene longitud 0"},
        {"level-7 integer of 3 bytes",
         with([](DbfBuilder& b) {
             b.version = 0x04;
             b.fields[0] = {"NUM", 'I', 3};
             b.rows[0].cells[0] = Bytes({0x80, 0, 1});
         }),
         "el campo 'NUM' de tipo I debería medir 4 bytes y mide 3"},
        {"level-7 double of 4 bytes",
         with([](DbfBuilder& b) {
             b.version = 0x04;
             b.fields[0] = {"HORAS", 'O', 4};
             b.rows[0].cells[0] = Zeros(4);
         }),
         "el campo 'HORAS' de tipo O debería medir 8 bytes y mide 4"},
        {"logical of 2 bytes", with([](DbfBuilder& b) {
             b.fields[0] = {"ACTIVO", 'L', 2};
             b.rows[0].cells[0] = "T";
         }),
         "el campo 'ACTIVO' de tipo L debería medir 1 byte y mide 2"},
        {"more records announced than present", with([](DbfBuilder& b) { b.count = 3; }),
         "la cabecera anuncia 3 registros de 9 bytes y el archivo solo contiene 1 completo: está incompleto"},
        {"a copy cut inside its last record",
         with([](DbfBuilder& b) {
             b.rows.push_back({' ', {"MARTES"}});
             b.endMark = false;
         }).substr(0, 32 + 32 + 1 + 9 + 5),
         "la cabecera anuncia 2 registros de 9 bytes y el archivo solo contiene 1 completo: está incompleto"},
        {"record length 65535", with([](DbfBuilder& b) { b.recordLength = 65535; }),
         "la cabecera anuncia 1 registro de 65535 bytes y el archivo solo contiene 0 completos; la longitud de "
         "registro de la cabecera (65535) no coincide con la suma de los campos (9)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = WriteBytes(c.bytes);
        EXPECT_EQ(ErrorMessageOf([&] { DbfTable::Open(path); }),
                  "El archivo '" + DisplayPath(path) + "' no es una tabla dBase válida: " + c.why);
    }
}

TEST_F(DbfReaderTest, EveryTruncationOpensWithTheWholeRecordsOrIsRefused)
{
    struct Case {
        std::string_view name;
        DbfBuilder builder;
    };
    const Case cases[] = {
        {"dBase III",
         {.fields = {{"NOMBRE", 'C', 8}, {"DIA", 'N', 2}, {"ACTIVO", 'L', 1}},
          .rows = {{' ', {"LUNES", " 1", "T"}}, {'*', {"MARTES", " 2", "F"}}, {' ', {"MIERCOLE", " 3", "?"}}}}},
        {"level 7",
         {.version = 0x04,
          .fields = {{"NUM", 'I', 4}, {"HORAS", 'O', 8}, {"SESION_ORDEN", 'C', 3}},
          .rows = {{' ', {Bytes({0x80, 0, 0, 1}), Bytes({0x80}) + Zeros(7), "1"}},
                   {' ', {Zeros(4), Zeros(8), "2"}},
                   {' ', {Bytes({0x7F, 0xFF, 0xFF, 0xFF}), Zeros(8), "3"}}}}},
        {"Visual FoxPro",
         {.version = 0x30,
          .fields = {{"NUM", 'I', 4}, {"ALTA", 'T', 8}},
          .rows = {{' ', {Le32(1), Le32(2460437) + Le32(0)}}, {' ', {Le32(2), Zeros(8)}}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string whole = c.builder.Build();
        const std::size_t headerLength = static_cast<unsigned char>(whole[8]) | static_cast<unsigned char>(whole[9]) << 8;
        const std::size_t stride = static_cast<unsigned char>(whole[10]) | static_cast<unsigned char>(whole[11]) << 8;
        for (std::size_t size = 0; size <= whole.size(); ++size) {
            SCOPED_TRACE(size);
            std::size_t records = 0;
            const bool opened = CopyOpensOrIsRefused(whole.substr(0, size), &records);
            // A copy cut anywhere before the end of its last record lacks rows the header
            // announces; what follows the records (the end mark) may go.
            EXPECT_EQ(opened, size >= headerLength + c.builder.rows.size() * stride);
            if (opened) {
                EXPECT_EQ(records, c.builder.rows.size());
            }
        }
    }
}

TEST_F(DbfReaderTest, CorruptedBytesNeverCrashOrHang)
{
    const DbfBuilder builders[] = {
        {.fields = {{"NOMBRE", 'C', 8}, {"DIA", 'N', 2}, {"FECHA", 'D', 8}, {"ACTIVO", 'L', 1}},
         .rows = {{' ', {"LUNES", " 1", "20240506", "T"}}, {' ', {"MARTES", " 2", "        ", " "}}}},
        {.version = 0x04,
         .fields = {{"NUM", 'I', 4}, {"HORAS", 'O', 8}, {"ALTA", '@', 8}, {"NOMBRE", 'C', 5}},
         .rows = {{' ', {Bytes({0x80, 0, 0, 1}), Bytes({0x80}) + Zeros(7), Bytes({0x42, 0xCC, 0x41, 0x8B, 0xA9, 0x9A, 0, 0}),
                         "uno"}}}},
        {.version = 0x30,
         .fields = {{"NUM", 'I', 4}, {"PRECIO", 'Y', 8}, {"ALTA", 'T', 8}, {"PESO", 'B', 8}},
         .rows = {{' ', {Le32(1), Zeros(8), Le32(2460437) + Le32(0), Zeros(8)}}}},
    };
    std::mt19937 random(20240506);  // fixed, so a failure can be replayed
    int opened = 0;
    for (const DbfBuilder& builder : builders) {
        const std::string whole = builder.Build();
        for (int round = 0; round < 300; ++round) {
            std::string bytes = whole;
            const int changes = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < changes; ++i) {
                // Mostly the first 80 bytes (header and first descriptors), where damage matters.
                const std::size_t span = random() % 4 ? std::min<std::size_t>(80, bytes.size()) : bytes.size();
                bytes[random() % span] = static_cast<char>(random() % 256);
            }
            SCOPED_TRACE("version " + std::to_string(static_cast<int>(builder.version)) + ", round " +
                         std::to_string(round));
            opened += CopyOpensOrIsRefused(bytes) ? 1 : 0;
        }
    }
    EXPECT_GT(opened, 0);  // the damage is not so heavy that nothing opens
}

}  // namespace
}  // namespace pasarela
