#include "dbf/dbf_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_test_support.h"
#include "os/error.h"

namespace pasarela {
namespace {

using test::Bytes;
using test::ErrorMessageOf;
using test::ReadFileBytes;
using test::Zeros;

struct Date {
    int yearsSince1900, month, day;
};

Date LocalDate()
{
    std::time_t now = std::time(nullptr);
    std::tm parts = *std::localtime(&now);
    return {parts.tm_year, parts.tm_mon + 1, parts.tm_mday};
}

std::string Le16(unsigned value) { return Bytes({static_cast<int>(value & 0xFF), static_cast<int>(value >> 8)}); }
std::string Le32(unsigned value)
{
    return Le16(value & 0xFFFF) + Le16(value >> 16);
}
std::string NulPadded(std::string_view text, std::size_t size)
{
    std::string padded(text);
    padded.resize(size, '\0');
    return padded;
}

// The 48-byte descriptor a level-7 reader expects: name NUL-filled to 32, type, length, then zeros.
std::string Level7Descriptor(std::string_view name, char type, int length)
{
    return NulPadded(name, 32) + type + static_cast<char>(length) + Zeros(14);
}

// Bytes as "04 7C 05 ..." so a mismatch shows where it is.
std::string Hex(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[c >> 4];
        text += digits[c & 0xF];
    }
    return text;
}

// The four kinds of field Orlavi's tables use, as the import steps define them.
const FieldSpec kFields[] = {
    {"NOMBRE", FieldKind::Character, 12},
    {"ESTAREA", FieldKind::Logical, 0},
    {"MAXALUM", FieldKind::Integer, 0},
    {"HORAS", FieldKind::Float, 0},
};
constexpr std::size_t kNombre = 0, kEstarea = 1, kMaxalum = 2, kHoras = 3;
constexpr std::size_t kHeaderLength = 68 + 48 * 4 + 1;
constexpr std::size_t kRecordLength = 1 + 12 + 1 + 4 + 8;
// Offsets of the fields inside a record, after the deletion flag.
constexpr std::size_t kFieldOffset[] = {1, 13, 14, 18};
constexpr std::size_t kFieldWidth[] = {12, 1, 4, 8};

// As many fields as the time-slot table, names up to its 12-character SESION_ORDEN.
std::vector<FieldSpec> ThirteenFields()
{
    std::vector<FieldSpec> fields;
    for (int i = 1; i <= 13; ++i)
        fields.push_back({"SESION_ORD" + std::to_string(i), FieldKind::Integer, 0});
    return fields;
}

class DbfWriterTest : public test::TempFolderTest {
protected:
    std::filesystem::path Table() const { return folder_ / "ASIGT.DBF"; }

    DbfTable CreateAndOpen()
    {
        DbfTable::Create(Table(), kFields);
        return DbfTable::Open(Table(), test::ReadWrite());
    }
};

TEST_F(DbfWriterTest, CreateWritesTheLevel7HeaderByteForByte)
{
    const Date before = LocalDate();
    DbfTable::Create(Table(), kFields);
    const Date after = LocalDate();
    const std::string bytes = ReadFileBytes(Table());
    ASSERT_GE(bytes.size(), 4u);

    // Bytes 1-3 are today's date; checked against the clock on both sides of Create so
    // that a run across midnight still passes.
    const Date stamped{static_cast<unsigned char>(bytes[1]), bytes[2], bytes[3]};
    const auto sameDay = [&](const Date& d) {
        return d.yearsSince1900 == stamped.yearsSince1900 && d.month == stamped.month && d.day == stamped.day;
    };
    EXPECT_TRUE(sameDay(before) || sameDay(after))
        << "stamped " << stamped.yearsSince1900 << "/" << stamped.month << "/" << stamped.day;

    const std::string expected = Bytes({0x04, stamped.yearsSince1900, stamped.month, stamped.day}) + Le32(0) +
                                 Le16(kHeaderLength) + Le16(kRecordLength) + Zeros(20) +
                                 NulPadded("DBWINUS0", 32) + Zeros(4) + Level7Descriptor("NOMBRE", 'C', 12) +
                                 Level7Descriptor("ESTAREA", 'L', 1) + Level7Descriptor("MAXALUM", 'I', 4) +
                                 Level7Descriptor("HORAS", 'O', 8) + "\x0D" + "\x1A";
    EXPECT_EQ(Hex(bytes), Hex(expected));
}

TEST_F(DbfWriterTest, EmptyTableIsHeaderTerminatorAndEndMark)
{
    struct Case {
        std::string_view name;
        std::vector<FieldSpec> fields;
        std::size_t size;
    };
    const Case cases[] = {
        {"one field", {{"COD", FieldKind::Character, 10}}, 68 + 48 + 1 + 1},
        {"four kinds", {std::begin(kFields), std::end(kFields)}, 68 + 48 * 4 + 1 + 1},
        {"thirteen fields", ThirteenFields(), 68 + 48 * 13 + 1 + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DbfTable::Create(Table(), c.fields);
        EXPECT_EQ(std::filesystem::file_size(Table()), c.size);
        DbfTable table = DbfTable::Open(Table());
        EXPECT_EQ(table.RecordCount(), 0u);
        EXPECT_EQ(table.Fields().size(), c.fields.size());
        table.First();
        EXPECT_TRUE(table.Eof());
    }
}

TEST_F(DbfWriterTest, PostedRecordsAreStoredInOrderWithCountAndEndMark)
{
    DbfTable table = CreateAndOpen();
    table.Append();
    table.SetString(kNombre, "Matemáticas");
    table.SetLogical(kEstarea, true);
    table.SetInteger(kMaxalum, 42);
    table.SetFloat(kHoras, 43.65);
    table.Post();
    table.Append();  // nothing assigned: every field stays empty
    table.Post();
    table.Close();

    const std::string bytes = ReadFileBytes(Table());
    ASSERT_EQ(bytes.size(), kHeaderLength + 2 * kRecordLength + 1);
    EXPECT_EQ(Hex(bytes.substr(4, 4)), Hex(Le32(2)));
    const std::string first = std::string(" ") + "Matem\xE1ticas " + "T" + Bytes({0x80, 0x00, 0x00, 0x2A}) +
                              Bytes({0xC0, 0x45, 0xD3, 0x33, 0x33, 0x33, 0x33, 0x33});
    const std::string second = std::string(" ") + std::string(12, ' ') + " " + Zeros(4) + Zeros(8);
    EXPECT_EQ(Hex(bytes.substr(kHeaderLength, kRecordLength)), Hex(first));
    EXPECT_EQ(Hex(bytes.substr(kHeaderLength + kRecordLength, kRecordLength)), Hex(second));
    EXPECT_EQ(bytes.back(), '\x1A');
}

TEST_F(DbfWriterTest, AssigningOverAnOpenTableFirstStoresWhatItHadPosted)
{
    const std::filesystem::path other = folder_ / "AULAS.DBF";
    DbfTable::Create(other, kFields);
    DbfTable table = CreateAndOpen();
    table.Append();
    table.SetString(kNombre, "MAT");
    table.Post();  // still in the pending buffer, not on disk

    DbfTable source = DbfTable::Open(other, test::ReadWrite());
    table = std::move(source);
    EXPECT_FALSE(source.IsOpen());  // NOLINT(bugprone-use-after-move): what a move leaves is the point
    EXPECT_EQ(table.Path(), other);

    // The table assigned over was closed as Close() does: record, count and lock.
    DbfTable reread = DbfTable::Open(Table());
    ASSERT_EQ(reread.RecordCount(), 1u);
    reread.First();
    EXPECT_EQ(reread.AsString(kNombre), "MAT");

    // The one moved in writes on to its own file.
    table.Append();
    table.SetString(kNombre, "FIS");
    table.Post();
    table.Close();
    DbfTable moved = DbfTable::Open(other);
    ASSERT_EQ(moved.RecordCount(), 1u);
    moved.First();
    EXPECT_EQ(moved.AsString(kNombre), "FIS");
}

TEST_F(DbfWriterTest, EachValueIsEncodedAsLevel7Stores)
{
    struct Case {
        std::string_view name;
        std::size_t field;
        std::function<void(DbfTable&)> set;
        std::string bytes;
    };
    const Case cases[] = {
        {"integer 1", kMaxalum, [](DbfTable& t) { t.SetInteger(kMaxalum, 1); }, Bytes({0x80, 0x00, 0x00, 0x01})},
        {"integer -1", kMaxalum, [](DbfTable& t) { t.SetInteger(kMaxalum, -1); }, Bytes({0x7F, 0xFF, 0xFF, 0xFF})},
        {"integer max", kMaxalum, [](DbfTable& t) { t.SetInteger(kMaxalum, 2147483647); },
         Bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {"integer -2147483647", kMaxalum, [](DbfTable& t) { t.SetInteger(kMaxalum, -2147483647); },
         Bytes({0x00, 0x00, 0x00, 0x01})},
        {"integer 0", kMaxalum, [](DbfTable& t) { t.SetInteger(kMaxalum, 0); }, Bytes({0x80, 0x00, 0x00, 0x00})},
        {"integer unassigned", kMaxalum, [](DbfTable&) {}, Zeros(4)},
        {"integer from empty text", kMaxalum, [](DbfTable& t) { t.SetString(kMaxalum, ""); }, Zeros(4)},
        {"integer from text 42", kMaxalum, [](DbfTable& t) { t.SetString(kMaxalum, "42"); },
         Bytes({0x80, 0x00, 0x00, 0x2A})},
        {"integer from text -7", kMaxalum, [](DbfTable& t) { t.SetString(kMaxalum, "-7"); },
         Bytes({0x7F, 0xFF, 0xFF, 0xF9})},
        {"float -199.99", kHoras, [](DbfTable& t) { t.SetFloat(kHoras, -199.99); },
         Bytes({0x3F, 0x97, 0x00, 0x51, 0xEB, 0x85, 0x1E, 0xB7})},
        {"float 43.65", kHoras, [](DbfTable& t) { t.SetFloat(kHoras, 43.65); },
         Bytes({0xC0, 0x45, 0xD3, 0x33, 0x33, 0x33, 0x33, 0x33})},
        {"float 0.0", kHoras, [](DbfTable& t) { t.SetFloat(kHoras, 0.0); }, Bytes({0x80}) + Zeros(7)},
        {"float -0.0 is zero, not empty", kHoras, [](DbfTable& t) { t.SetFloat(kHoras, -0.0); },
         Bytes({0x80}) + Zeros(7)},
        {"float unassigned", kHoras, [](DbfTable&) {}, Zeros(8)},
        {"float from text", kHoras, [](DbfTable& t) { t.SetString(kHoras, "43.65"); },
         Bytes({0xC0, 0x45, 0xD3, 0x33, 0x33, 0x33, 0x33, 0x33})},
        {"float from empty text", kHoras, [](DbfTable& t) { t.SetString(kHoras, ""); }, Zeros(8)},
        {"logical true", kEstarea, [](DbfTable& t) { t.SetLogical(kEstarea, true); }, "T"},
        {"logical false", kEstarea, [](DbfTable& t) { t.SetLogical(kEstarea, false); }, "F"},
        {"logical unassigned", kEstarea, [](DbfTable&) {}, " "},
        {"text with accent", kNombre, [](DbfTable& t) { t.SetString(kNombre, "Matemáticas"); }, "Matem\xE1ticas "},
        {"text Ñ", kNombre, [](DbfTable& t) { t.SetString(kNombre, "Ñ"); }, "\xD1" + std::string(11, ' ')},
        {"text ½", kNombre, [](DbfTable& t) { t.SetString(kNombre, "½"); }, "\xBD" + std::string(11, ' ')},
        {"text €", kNombre, [](DbfTable& t) { t.SetString(kNombre, "€"); }, "\x80" + std::string(11, ' ')},
        {"text cut to the width", kNombre, [](DbfTable& t) { t.SetString(kNombre, "Lengua castellana"); },
         "Lengua caste"},
        {"text unassigned", kNombre, [](DbfTable&) {}, std::string(12, ' ')},
    };
    DbfTable table = CreateAndOpen();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        table.Append();
        c.set(table);
        table.Post();
    }
    table.Close();

    const std::string bytes = ReadFileBytes(Table());
    ASSERT_EQ(bytes.size(), kHeaderLength + std::size(cases) * kRecordLength + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::size_t at = kHeaderLength + i * kRecordLength;
        EXPECT_EQ(bytes[at], ' ');
        EXPECT_EQ(Hex(bytes.substr(at + kFieldOffset[c.field], kFieldWidth[c.field])), Hex(c.bytes));
    }
}

TEST_F(DbfWriterTest, TextStoreReportsCutsAndReplacedCharacters)
{
    struct Case {
        std::string_view name;
        std::string_view text;
        std::string stored;
        bool truncated;
        std::size_t replaced;
    };
    const Case cases[] = {
        {"fits", "Matemáticas", "Matem\xE1ticas ", false, 0},
        {"exactly the width", "Ciencias 1ºA", "Ciencias 1\xBA" "A", false, 0},
        {"longer than the width", "Lengua castellana", "Lengua caste", true, 0},
        {"only fill blanks beyond the width", "Lengua      " "    ", "Lengua      ", false, 0},
        {"letters outside Windows-1252", "Łódź", "?\xF3" "d?" + std::string(8, ' '), false, 2},
        {"replaced and cut", "Ψυχολογία και Παιδαγωγική", "????????? ??", true, 23},
    };
    DbfTable table = CreateAndOpen();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        table.Append();
        const StoreNote note = table.SetString(kNombre, c.text);
        EXPECT_EQ(note.truncated, c.truncated);
        EXPECT_EQ(note.replaced, c.replaced);
        table.Post();
    }
    table.Close();

    const std::string bytes = ReadFileBytes(Table());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(bytes.substr(kHeaderLength + i * kRecordLength + 1, 12), cases[i].stored);
    }
}

TEST_F(DbfWriterTest, IntegerFieldTakesEmptyOrWholeNumberText)
{
    struct Case {
        std::string_view text;
        std::optional<std::int32_t> stored;  // nullopt: left empty
    };
    const Case accepted[] = {
        {"", std::nullopt}, {"42", 42}, {"-7", -7}, {"+5", 5}, {"0042", 42}, {"2147483647", 2147483647},
    };
    const std::string_view rejected[] = {"4.5", "abc", " 1", "1 ", "1e3", "-", "2147483648", "-2147483648"};

    DbfTable table = CreateAndOpen();
    for (const Case& c : accepted) {
        SCOPED_TRACE(c.text);
        table.Append();
        table.SetString(kMaxalum, c.text);
        table.Post();
    }
    for (std::string_view text : rejected) {
        SCOPED_TRACE(text);
        table.Append();
        EXPECT_EQ(ErrorMessageOf([&] { table.SetString(kMaxalum, text); }),
                  "'" + std::string(text) + "' is not a valid integer value for field 'MAXALUM'");
        table.Post();  // the failed assignment left the field empty
    }
    table.Close();

    DbfTable read = DbfTable::Open(Table());
    read.First();
    for (const Case& c : accepted) {
        SCOPED_TRACE(c.text);
        ASSERT_FALSE(read.Eof());
        EXPECT_EQ(read.AsString(kMaxalum), c.stored ? std::to_string(*c.stored) : "");
        EXPECT_EQ(read.AsInteger(kMaxalum), c.stored.value_or(0));
        EXPECT_EQ(read.Value(kMaxalum).kind, c.stored ? DbfValue::Kind::Integer : DbfValue::Kind::Empty);
        read.Next();
    }
    for (std::string_view text : rejected) {
        SCOPED_TRACE(text);
        ASSERT_FALSE(read.Eof());
        EXPECT_EQ(read.AsString(kMaxalum), "");
        read.Next();
    }
    EXPECT_TRUE(read.Eof());
}

TEST_F(DbfWriterTest, WrongValuesForOtherFieldsAreRefusedWithTheFieldName)
{
    DbfTable table = CreateAndOpen();
    table.Append();
    struct Case {
        std::string_view name;
        std::function<void()> store;
        std::string message;
    };
    const Case cases[] = {
        {"text on the float field", [&] { table.SetString(kHoras, "4,5 horas"); },
         "'4,5 horas' is not a valid floating point value for field 'HORAS'"},
        {"text on the logical field", [&] { table.SetString(kEstarea, "quizá"); },
         "'quizá' is not a valid boolean value for field 'ESTAREA'"},
        {"fraction on the integer field", [&] { table.SetFloat(kMaxalum, 4.5); },
         "'4.5' is not a valid integer value for field 'MAXALUM'"},
        {"logical on the text field", [&] { table.SetLogical(kNombre, true); },
         "La tabla ASIGT.DBF: el campo NOMBRE no es lógico"},
        {"no such field", [&] { table.SetString(7, "x"); }, "La tabla ASIGT.DBF no tiene el campo número 8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorMessageOf(c.store), c.message);
    }
}

TEST_F(DbfWriterTest, WritingNeedsAnOpenRecordAndWriteAccess)
{
    DbfTable::Create(Table(), kFields);
    {
        DbfTable table = DbfTable::Open(Table(), test::ReadWrite());
        EXPECT_EQ(ErrorMessageOf([&] { table.Post(); }), "La tabla ASIGT.DBF: no hay registro nuevo (falta Append)");
        EXPECT_EQ(ErrorMessageOf([&] { table.SetString(kNombre, "MAT"); }),
                  "La tabla ASIGT.DBF: no hay registro nuevo (falta Append)");
    }
    DbfTable readOnly = DbfTable::Open(Table());
    EXPECT_EQ(ErrorMessageOf([&] { readOnly.Append(); }), "La tabla ASIGT.DBF está abierta solo para lectura");
}

TEST_F(DbfWriterTest, WhatIsWrittenReadsBackThroughOurReader)
{
    struct Row {
        std::string_view nombre;
        std::optional<bool> estarea;
        std::string_view maxalum;
        std::optional<double> horas;
    };
    const Row rows[] = {
        {"Matemáticas", true, "30", 4.5},
        {"½ Ñandú", false, "-7", -199.99},
        {"  sangría", std::nullopt, "", std::nullopt},
        {"Precio 3€", true, "0", 0.0},
        {"", false, "2147483647", 43.65},
    };
    {
        DbfTable table = CreateAndOpen();
        for (const Row& row : rows) {
            table.Append();
            table.SetString(kNombre, row.nombre);
            if (row.estarea)
                table.SetLogical(kEstarea, *row.estarea);
            table.SetString(kMaxalum, row.maxalum);
            if (row.horas)
                table.SetFloat(kHoras, *row.horas);
            table.Post();
        }
    }  // closed by the destructor

    DbfTable table = DbfTable::Open(Table());
    EXPECT_EQ(table.Dialect(), DbfDialect::DBase7);
    EXPECT_EQ(table.LanguageDriver(), "DBWINUS0");
    EXPECT_EQ(table.TextCodePage(), CodePage::Windows1252);
    EXPECT_TRUE(table.Warnings().empty());
    ASSERT_EQ(table.RecordCount(), std::size(rows));
    table.First();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.nombre);
        ASSERT_FALSE(table.Eof());
        EXPECT_EQ(table.AsString(kNombre), row.nombre);  // fill blanks dropped, leading blanks kept
        EXPECT_EQ(table.AsLogical(kEstarea), row.estarea);
        EXPECT_EQ(table.AsString(kMaxalum), row.maxalum);
        EXPECT_EQ(table.AsInteger(kMaxalum), row.maxalum.empty() ? 0 : std::stoi(std::string(row.maxalum)));
        EXPECT_DOUBLE_EQ(table.AsFloat(kHoras), row.horas.value_or(0.0));
        EXPECT_EQ(table.Value(kHoras).kind, row.horas ? DbfValue::Kind::Number : DbfValue::Kind::Empty);
        table.Next();
    }
    EXPECT_TRUE(table.Eof());
}

TEST_F(DbfWriterTest, NumbersReadAsTextUseTheChosenDecimalMark)
{
    {
        DbfTable table = CreateAndOpen();
        table.Append();
        table.SetFloat(kHoras, 43.65);
        table.SetInteger(kMaxalum, -1200);
        table.Post();
    }
    DbfTable::OpenOptions options;
    options.decimalSeparator = ',';
    DbfTable table = DbfTable::Open(Table(), options);
    table.First();
    EXPECT_EQ(table.AsString(kHoras), "43,65");
    EXPECT_EQ(table.AsString(kMaxalum), "-1200");
}

TEST_F(DbfWriterTest, LargeTableKeepsEveryRecordInPostedOrder)
{
    // Enough records that posted ones are written out several times before Close.
    constexpr int kRows = 6000;
    {
        DbfTable table = CreateAndOpen();
        for (int i = 0; i < kRows; ++i) {
            table.Append();
            table.SetString(kNombre, "R" + std::to_string(i));
            table.SetInteger(kMaxalum, i);
            table.Post();
        }
        // Reading while still open sees records already written out and those still held.
        table.GoTo(kRows);
        EXPECT_EQ(table.AsString(kNombre), "R5999");
        EXPECT_EQ(table.AsInteger(kMaxalum), 5999);
        table.GoTo(1);
        EXPECT_EQ(table.AsString(kNombre), "R0");
        table.Close();
    }
    EXPECT_EQ(std::filesystem::file_size(Table()), kHeaderLength + kRows * kRecordLength + 1);
    DbfTable table = DbfTable::Open(Table());
    ASSERT_EQ(table.RecordCount(), static_cast<std::size_t>(kRows));
    int expected = 0;
    for (table.First(); !table.Eof(); table.Next(), ++expected) {
        ASSERT_EQ(table.AsInteger(kMaxalum), expected);
        ASSERT_EQ(table.AsString(kNombre), "R" + std::to_string(expected));
    }
    EXPECT_EQ(expected, kRows);
}

TEST_F(DbfWriterTest, CreateReplacesAnExistingTableAndLeavesNoTemporaryFile)
{
    {
        DbfTable table = CreateAndOpen();
        table.Append();
        table.SetString(kNombre, "viejo");
        table.Post();
    }
    const FieldSpec other[] = {{"COD", FieldKind::Character, 10}};
    DbfTable::Create(Table(), other);

    EXPECT_EQ(FolderContents(), std::vector<std::string>{"ASIGT.DBF"});
    DbfTable table = DbfTable::Open(Table());
    EXPECT_EQ(table.RecordCount(), 0u);
    ASSERT_EQ(table.Fields().size(), 1u);
    EXPECT_EQ(table.Fields()[0].name, "COD");
}

TEST_F(DbfWriterTest, CreateRefusesBadDefinitions)
{
    struct Case {
        std::string_view name;
        std::vector<FieldSpec> fields;
        std::string message;
    };
    const std::string path = DisplayPath(Table());
    const Case cases[] = {
        {"no fields", {}, "Una tabla necesita al menos un campo: " + path},
        {"empty name", {{"", FieldKind::Character, 10}}, "Nombre de campo no válido: ''"},
        {"name too long", {{std::string(32, 'A'), FieldKind::Logical, 0}},
         "Nombre de campo no válido: '" + std::string(32, 'A') + "'"},
        {"blank in name", {{"MAX ALUM", FieldKind::Integer, 0}}, "Nombre de campo no válido: 'MAX ALUM'"},
        {"text width 0", {{"COD", FieldKind::Character, 0}}, "El campo 'COD' debe tener entre 1 y 254 caracteres"},
        {"text width 255", {{"COD", FieldKind::Character, 255}},
         "El campo 'COD' debe tener entre 1 y 254 caracteres"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorMessageOf([&] { DbfTable::Create(Table(), c.fields); }), c.message);
        EXPECT_TRUE(FolderContents().empty());
    }
}

TEST_F(DbfWriterTest, CreateInAMissingFolderNamesTheFolder)
{
    const std::filesystem::path missing = folder_ / "VTEMP";
    EXPECT_EQ(ErrorMessageOf([&] { DbfTable::Create(missing / "PROFT.DBF", kFields); }),
              "No existe la carpeta '" + DisplayPath(missing) + "'");
}

}  // namespace
}  // namespace pasarela
