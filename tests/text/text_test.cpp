#include "text/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "os/error.h"
#include "os/error_message.h"
#include "os/locale_settings.h"

namespace pasarela {
namespace {

using namespace std::string_view_literals;

using test::ErrorMessageOf;

struct TrimCase {
    std::string_view name;
    std::string_view input;
    std::string_view expected;
};

TEST(TrimTest, RemovesControlCharactersAndBlanksAtBothEndsOnly)
{
    const TrimCase cases[] = {
        {"blanks", "  MAT  ", "MAT"},
        {"tabs and newlines", "\t\r\nMAT 1\r\n\t", "MAT 1"},
        {"NUL padding", "\0\0MAT\0\0"sv, "MAT"},
        {"inner blanks kept", " Lengua  castellana ", "Lengua  castellana"},
        {"nothing to trim", "Núñez", "Núñez"},
        {"accented letters at the ends kept", " ñÁ ", "ñÁ"},
        {"only blanks", " \t\0 "sv, ""},
        {"empty", "", ""},
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Trim(c.input), c.expected);
    }
}

TEST(TrimTest, SpaceAndTabLeavesOtherControlCharacters)
{
    const TrimCase cases[] = {
        {"spaces and tabs", " \t clave = valor\t ", "clave = valor"},
        {"line ends kept", "\r\nvalor\r\n", "\r\nvalor\r\n"},
        {"NUL kept", "\0valor\0"sv, "\0valor\0"sv},
        {"only spaces and tabs", " \t ", ""},
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Trim(c.input, Blanks::SpaceAndTab), c.expected);
    }
}

TEST(TrimTest, SpaceAndNulTakesOffAFieldsFillOnly)
{
    const TrimCase cases[] = {
        {"blanks and NULs", "  \0 12,5\0\0  "sv, "12,5"},
        {"a tab is not fill", "\t12\t", "\t12\t"},
        {"only fill", " \0 "sv, ""},
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Trim(c.input, Blanks::SpaceAndNul), c.expected);
    }
}

TEST(LowerAsciiTest, LowersAsciiLettersOnly)
{
    EXPECT_EQ(LowerAscii("ISO_8859-1 Latin1"), "iso_8859-1 latin1");
    EXPECT_EQ(LowerAscii("ÁRBOL Ñu"), "Árbol Ñu");  // bytes beyond ASCII as they are
    EXPECT_EQ(LowerAscii('@'), '@');
    EXPECT_EQ(LowerAscii('['), '[');
}

TEST(ReadUtf8CharTest, ReadsOneCharacterOrOneMalformedByte)
{
    struct Case {
        std::string_view name;
        std::string_view text;
        char32_t codePoint;
        std::size_t length;
    };
    const Case cases[] = {
        {"ASCII", "ab", U'a', 1},
        {"two bytes", "\xC3\xB1x", U'ñ', 2},
        {"three bytes", "\xE2\x82\xAC", U'€', 3},
        {"four bytes", "\xF0\x9D\x84\x9E", U'𝄞', 4},
        {"stray continuation", "\x80", kMalformedUtf8, 1},
        {"lead byte never used", "\xC0\x80", kMalformedUtf8, 1},
        {"overlong three bytes", "\xE0\x80\x80", kMalformedUtf8, 1},
        {"overlong four bytes", "\xF0\x80\x80\x80", kMalformedUtf8, 1},
        {"surrogate", "\xED\xA0\x80", kMalformedUtf8, 1},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", kMalformedUtf8, 1},
        {"continuation missing", "\xC3x", kMalformedUtf8, 1},
        {"cut short by the end", "\xE2\x82", kMalformedUtf8, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Utf8Char read = ReadUtf8Char(c.text);
        EXPECT_EQ(read.codePoint, c.codePoint);
        EXPECT_EQ(read.length, c.length);
    }
}

// Text that comes in pieces: a sequence cut by the end of a piece waits for the next one,
// but only while every byte of it so far could belong to it.
TEST(ReadUtf8CharTest, IncompleteAtTheEndWhenOnlyContinuationBytesFollow)
{
    struct Case {
        std::string_view name;
        std::string_view text;
        std::size_t length;
    };
    const Case cases[] = {
        {"lead byte alone", "\xC3", 0},
        {"two of three", "\xE2\x82", 0},
        {"three of four", "\xF0\x9D\x84", 0},
        {"cut before the ranges are known", "\xE0\x80", 0},
        {"not a continuation", "\xE2\x41", 1},
        {"whole but malformed", "\xE0\x80\x80", 1},
        {"stray continuation", "\x80", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReadUtf8Char(c.text, CutShort::Incomplete).length, c.length);
    }
    const Utf8Char whole = ReadUtf8Char("\xE2\x82\xAC", CutShort::Incomplete);
    EXPECT_EQ(whole.codePoint, U'€');
    EXPECT_EQ(whole.length, 3u);
}

TEST(AppendUtf8Test, WritesWhatReadUtf8CharReads)
{
    for (const char32_t codePoint : {U'a', U'\x7F', U'ñ', U'\x7FF', U'€', U'\xFFFD', U'𝄞', U'\x10FFFF'}) {
        std::string text;
        AppendUtf8(text, codePoint);
        const Utf8Char read = ReadUtf8Char(text);
        EXPECT_EQ(read.codePoint, codePoint);
        EXPECT_EQ(read.length, text.size());
    }
}

// The encoder is the decoder read backwards, for every byte of every page.
TEST(EncodeCodePointTest, GivesBackEveryDefinedByteOfEveryCodePage)
{
    for (int page = 0; page <= static_cast<int>(CodePage::UsAscii); ++page) {
        const auto codePage = static_cast<CodePage>(page);
        for (int byte = 0; byte <= 0xFF; ++byte) {
            SCOPED_TRACE("page " + std::to_string(page) + ", byte " + std::to_string(byte));
            const char32_t codePoint = DecodeByte(static_cast<unsigned char>(byte), codePage);
            EXPECT_EQ(EncodeCodePoint(codePoint, codePage), codePoint == 0xFFFD ? -1 : byte);
        }
    }
}

TEST(EncodeCodePointTest, RefusesWhatThePageLacks)
{
    struct Case {
        std::string_view name;
        char32_t codePoint;
        CodePage codePage;
        int byte;
    };
    const Case cases[] = {
        {"euro in 1252", U'€', CodePage::Windows1252, 0x80},
        {"euro in 8859-15", U'€', CodePage::Iso8859_15, 0xA4},
        {"euro in Latin-1", U'€', CodePage::Iso8859_1, -1},
        {"C1 control in 1252", U'\x81', CodePage::Windows1252, -1},
        {"C1 control in Latin-1", U'\x81', CodePage::Iso8859_1, 0x81},
        {"e acute in US-ASCII", U'é', CodePage::UsAscii, -1},
        {"beyond the BMP", U'𝄞', CodePage::Windows1252, -1},
        {"replacement character", U'\xFFFD', CodePage::Windows1252, -1},
        {"malformed", kMalformedUtf8, CodePage::Iso8859_1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodeCodePoint(c.codePoint, c.codePage), c.byte);
    }
}

TEST(Utf8ToWindows1252Test, EncodesEveryCharacterOfTheCodePageAndDecodesItBack)
{
    struct Case {
        std::string_view utf8;
        std::string_view bytes;
    };
    const Case cases[] = {
        {"€", "\x80"},  {"‚", "\x82"},  {"ƒ", "\x83"},  {"„", "\x84"},  {"…", "\x85"},
        {"†", "\x86"},  {"‡", "\x87"},  {"ˆ", "\x88"},  {"‰", "\x89"},  {"Š", "\x8A"},
        {"‹", "\x8B"},  {"Œ", "\x8C"},  {"Ž", "\x8E"},  {"‘", "\x91"},  {"’", "\x92"},
        {"“", "\x93"},  {"”", "\x94"},  {"•", "\x95"},  {"–", "\x96"},  {"—", "\x97"},
        {"˜", "\x98"},  {"™", "\x99"},  {"š", "\x9A"},  {"›", "\x9B"},  {"œ", "\x9C"},
        {"ž", "\x9E"},  {"Ÿ", "\x9F"},  {"\u00A0", "\xA0"}, {"½", "\xBD"}, {"ÿ", "\xFF"},
        {"Peña Núñez", "Pe\xF1" "a N\xFA\xF1" "ez"},
        {"ÁÉÍÓÚÜÑ", "\xC1\xC9\xCD\xD3\xDA\xDC\xD1"},
        {"áéíóúüñ¿¡ºª", "\xE1\xE9\xED\xF3\xFA\xFC\xF1\xBF\xA1\xBA\xAA"},
        {"Matemáticas 2º ½", "Matem\xE1ticas 2\xBA \xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        const EncodedText encoded = Utf8ToWindows1252(c.utf8);
        EXPECT_EQ(encoded.bytes, c.bytes);
        EXPECT_EQ(encoded.replaced, 0u);
        EXPECT_EQ(DecodeToUtf8(encoded.bytes, CodePage::Windows1252), c.utf8);
    }
}

TEST(Utf8ToWindows1252Test, EveryDefinedByteSurvivesDecodeAndEncode)
{
    for (int value = 0; value < 256; ++value) {
        SCOPED_TRACE(value);
        const std::string byte(1, static_cast<char>(value));
        const std::string utf8 = DecodeToUtf8(byte, CodePage::Windows1252);
        const bool undefined =
            value == 0x81 || value == 0x8D || value == 0x8F || value == 0x90 || value == 0x9D;
        if (undefined) {
            EXPECT_EQ(utf8, "\uFFFD");
            continue;
        }
        const EncodedText encoded = Utf8ToWindows1252(utf8);
        EXPECT_EQ(encoded.bytes, byte);
        EXPECT_EQ(encoded.replaced, 0u);
    }
}

TEST(Utf8ToWindows1252Test, ReplacesWhatItCannotHoldWithQuestionMarksAndCountsThem)
{
    struct Case {
        std::string_view name;
        std::string_view utf8;
        std::string_view bytes;
        std::size_t replaced;
    };
    const Case cases[] = {
        {"Esperanto letter", "ŝ", "?", 1},
        {"Chinese", "a中文b", "a??b", 2},
        {"emoji", "Hola 😀", "Hola ?", 1},
        {"C1 control, not the 0x80 byte's euro", "\u0080", "?", 1},
        {"Windows-1250 letter", "Łódź", "?\xF3" "d?", 2},
        {"stray continuation byte", "a\x80" "b", "a?b", 1},
        {"sequence cut at the end", "ma\xC3", "ma?", 1},
        {"three-byte sequence cut short", "\xE2\x82" "x", "??x", 2},
        {"overlong slash", "\xC0\xAF", "??", 2},
        {"UTF-16 surrogate", "\xED\xA0\x80", "???", 3},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "????", 4},
        {"byte never used in UTF-8", "\xFF" "A", "?A", 1},
        {"Windows-1252 bytes given as UTF-8", "Pe\xF1" "a", "Pe?a", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EncodedText encoded = Utf8ToWindows1252(c.utf8);
        EXPECT_EQ(encoded.bytes, c.bytes);
        EXPECT_EQ(encoded.replaced, c.replaced);
        // One byte per character counted, so a text cut to a field's width by
        // Utf8Prefix fits that field once encoded.
        EXPECT_EQ(encoded.bytes.size(), Utf8Length(c.utf8));
    }
}

TEST(DecodeToUtf8Test, DecodesEachCodePage)
{
    struct Case {
        std::string_view name;
        CodePage codePage;
        std::string_view bytes;
        std::string_view utf8;
    };
    const Case cases[] = {
        {"DOS 850 n tilde", CodePage::Dos850, "Pe\xA4" "a", "Peña"},
        {"DOS 850 capital N tilde", CodePage::Dos850, "\xA5", "Ñ"},
        {"DOS 437 e acute", CodePage::Dos437, "caf\x82", "café"},
        {"DOS 437 n tilde", CodePage::Dos437, "\xA4", "ñ"},
        {"DOS 437 keeps ASCII", CodePage::Dos437, "MAT 1\t~", "MAT 1\t~"},
        {"DOS 852", CodePage::Dos852, "\xE6\x9F", "Šč"},
        {"DOS 865", CodePage::Dos865, "\x9B\xAF", "ø¤"},
        {"DOS 866", CodePage::Dos866, "\x80\xF1", "Аё"},
        {"Windows-1250", CodePage::Windows1250, "\x8A\xB9", "Šą"},
        {"Windows-1251", CodePage::Windows1251, "\xC0\xB8", "Аё"},
        {"Windows-1253", CodePage::Windows1253, "\xC1\xF3", "Ασ"},
        {"Windows-1253 undefined byte", CodePage::Windows1253, "\xAA", "\uFFFD"},
        {"Windows-1252 undefined byte", CodePage::Windows1252, "a\x81", "a\uFFFD"},
        {"ISO-8859-1 has C1 controls where Windows-1252 has the euro", CodePage::Iso8859_1,
         "\x80\xF1", "\u0080ñ"},
        {"empty", CodePage::Dos850, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeToUtf8(c.bytes, c.codePage), c.utf8);
    }
}

TEST(Utf8CountingTest, CountsAndCutsByCharacter)
{
    struct Case {
        std::string_view name;
        std::string_view text;
        std::size_t length;
        std::size_t count;
        std::string_view prefix;
        std::string_view suffix;
    };
    const Case cases[] = {
        {"ASCII", "ABREV", 5, 2, "AB", "EV"},
        {"accents", "Núñez", 5, 2, "Nú", "ez"},
        {"cut inside accents", "Núñez", 5, 3, "Núñ", "ñez"},
        {"three and four byte characters", "中😀x", 3, 2, "中😀", "😀x"},
        {"shorter than count", "ñá", 2, 10, "ñá", "ñá"},
        {"count zero", "ñá", 2, 0, "", ""},
        {"empty", "", 0, 3, "", ""},
        {"malformed bytes count one each", "a\x80\xC3" "b", 4, 2, "a\x80", "\xC3" "b"},
        {"subject name", "Matemáticas", 11, 6, "Matemá", "áticas"},
        {"accent last", "Año2024ñ", 8, 2, "Añ", "4ñ"},
        {"code shorter than a field", "MAT", 3, 10, "MAT", "MAT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf8Length(c.text), c.length);
        EXPECT_EQ(Utf8Prefix(c.text, c.count), c.prefix);
        EXPECT_EQ(Utf8Suffix(c.text, c.count), c.suffix);
    }
}

TEST(ExcerptTest, QuotesUpToTwoHundredCharactersAndTellsTheLengthBeyond)
{
    const auto repeat = [](std::string_view text, int times) {
        std::string repeated;
        for (int i = 0; i < times; ++i)
            repeated += text;
        return repeated;
    };
    struct Case {
        std::string name;
        std::string value;
        std::string excerpt;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"short", "Matemáticas", "Matemáticas"},
        {"exactly 200", std::string(200, 'a'), std::string(200, 'a')},
        {"201", std::string(201, 'a'), std::string(200, 'a') + "… (201 caracteres)"},
        {"characters, not bytes", std::string(150, 'a') + repeat("ñ", 100),
         std::string(150, 'a') + repeat("ñ", 50) + "… (250 caracteres)"},
        {"a 20 MB name", std::string(20 << 20, 'N'), std::string(200, 'N') + "… (20971520 caracteres)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Excerpt(c.value), c.excerpt);
    }
    // The conversion errors quote a value so too, in their fixed wording.
    EXPECT_EQ(ErrorMessageOf([] { ParseInteger(std::string(300, '9')); }),
              "'" + std::string(200, '9') + "… (300 caracteres)' is not a valid integer value");
}

TEST(FoldCaseTest, FoldsCapitalAndSmallLettersToTheSameText)
{
    struct Case {
        std::string_view upper;
        std::string_view lower;
    };
    const Case cases[] = {
        {"MAT", "mat"},         {"Á", "á"}, {"Ñ", "ñ"}, {"Ü", "ü"}, {"Ç", "ç"},
        {"Ø", "ø"},             {"Þ", "þ"}, {"Š", "š"}, {"Ž", "ž"}, {"Œ", "œ"},
        {"Ÿ", "ÿ"},             {"Ł", "ł"}, {"Č", "č"}, {"Ő", "ő"}, {"Ź", "ź"},
        {"Ж", "ж"},             {"Ё", "ё"}, {"Я", "я"}, {"Ω", "ω"}, {"Ά", "ά"},
        {"Σ", "σ"},             {"ΟΔΟΣ", "\u03BF\u03B4\u03BF\u03C2"},  // written with final sigma
        {"LENGUA CASTELLANA 1º", "lengua castellana 1º"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.upper) + " / " + std::string(c.lower));
        EXPECT_EQ(FoldCase(c.upper), FoldCase(c.lower));
        EXPECT_TRUE(EqualsIgnoreCase(c.upper, c.lower));
        EXPECT_TRUE(EqualsIgnoreCase(c.lower, c.upper));
    }
    EXPECT_EQ(FoldCase("ÁÑÜ ŠŒŸ MAT Ж"), "áñü šœÿ mat ж");
}

TEST(FoldCaseTest, KeepsDistinctLettersDistinct)
{
    struct Case {
        std::string_view name;
        std::string_view a;
        std::string_view b;
    };
    const Case cases[] = {
        {"sharp s is not ss", "ß", "ss"},
        {"sharp s is not SS", "ß", "SS"},
        {"n is not n tilde", "n", "ñ"},
        {"a is not a acute", "A", "á"},
        {"dotless i is not i", "ı", "i"},
        {"dotted capital I is not i outside Turkish", "İ", "i"},
        {"multiplication sign is not division sign", "×", "÷"},
        {"Latin A is not Greek Alpha", "A", "Α"},
        {"Latin A is not Cyrillic A", "a", "а"},
        {"prefix is not equal", "MAT", "MATE"},
        {"empty is not a letter", "", "a"},
        {"malformed byte is not a question mark", "\xFF", "?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(FoldCase(c.a), FoldCase(c.b));
        EXPECT_FALSE(EqualsIgnoreCase(c.a, c.b));
        EXPECT_FALSE(EqualsIgnoreCase(c.b, c.a));
    }
}

TEST(FoldCaseTest, LeavesUnpairedLettersAndMalformedBytesAsWritten)
{
    struct Case {
        std::string_view name;
        std::string_view input;
        std::string_view folded;
    };
    const Case cases[] = {
        {"sharp s", "ß", "ß"},
        {"dotted capital I", "İ", "İ"},
        {"kra", "ĸ", "ĸ"},
        {"already small", "ñandú", "ñandú"},
        {"outside the folded blocks", "中😀", "中😀"},
        {"malformed bytes among letters", "A\xFF" "B\xC3", "a\xFF" "b\xC3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FoldCase(c.input), c.folded);
    }
    EXPECT_TRUE(EqualsIgnoreCase("A\xFF" "B", "a\xFF" "b"));
}

TEST(ParseIntegerTest, AcceptsSignedDecimalDigits)
{
    struct Case {
        std::string_view text;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"-12", -12},
        {"+7", 7},
        {"0042", 42},
        {"-0", 0},
        {"00000000000000000001", 1},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseInteger(c.text), c.expected);
    }
}

TEST(ParseIntegerTest, RejectsAnythingElseQuotingTheText)
{
    const std::string_view texts[] = {
        "", " 1", "1 ", "2,5", "1.0", "abc", "12a", "+", "-", "+-1", "--1",
        "0x10", "1e3", "2147483648", "-2147483649", "99999999999999999999",
    };
    for (const std::string_view text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ErrorMessageOf([text] { ParseInteger(text); }),
                  "'" + std::string(text) + "' is not a valid integer value");
    }
    EXPECT_EQ(ErrorMessageOf([] { ParseInteger("2,5"); }), "'2,5' is not a valid integer value");
}

TEST(ParseNumberTest, AcceptsPointOrTheGivenSeparator)
{
    struct Case {
        std::string_view text;
        char separator;
        double expected;
    };
    const Case cases[] = {
        {"2.5", ',', 2.5},
        {"2,5", ',', 2.5},
        {"2.5", '.', 2.5},
        {"-0,75", ',', -0.75},
        {"+3", '.', 3.0},
        {"007", '.', 7.0},
        {"5.", '.', 5.0},
        {",5", ',', 0.5},
        {"1e3", '.', 1000.0},
        {"1,5E-2", ',', 0.015},
        {"-2.5e+1", '.', -25.0},
        {"0.1", '.', 0.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " with separator " + c.separator);
        EXPECT_DOUBLE_EQ(ParseNumber(c.text, c.separator), c.expected);
    }
}

TEST(ParseNumberTest, RejectsAnythingElseQuotingTheText)
{
    struct Case {
        std::string_view text;
        char separator;
    };
    const Case cases[] = {
        {"", '.'},
        {".", '.'},
        {"-", '.'},
        {" 1", '.'},
        {"1 ", '.'},
        {"2,5", '.'},        // comma is not the separator here
        {"1.234,5", ','},    // thousands separator
        {"1,234.5", ','},
        {"1.000.000", '.'},
        {"1'5", '.'},
        {"1e", '.'},
        {"1e+", '.'},
        {"e5", '.'},
        {"1e5.5", '.'},
        {"--1", '.'},
        {"inf", '.'},
        {"nan", '.'},
        {"0x1p3", '.'},
        {"1e400", '.'},      // beyond a double
        {"-1e400", '.'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " with separator " + c.separator);
        EXPECT_EQ(ErrorMessageOf([&c] { ParseNumber(c.text, c.separator); }),
                  "'" + std::string(c.text) + "' is not a valid floating point value");
    }
}

TEST(GroupThousandsTest, SetsApartEachThreeDigitsFromTheRight)
{
    struct Case {
        std::size_t count;
        const char* expected;
    };
    const Case cases[] = {
        {0, "0"},          {7, "7"},
        {999, "999"},      {1000, "1.000"},
        {1234, "1.234"},   {12345, "12.345"},
        {100000, "100.000"}, {1234567, "1.234.567"},
        {4294967295u, "4.294.967.295"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        EXPECT_EQ(GroupThousands(c.count), c.expected);
    }
}

TEST(UserDecimalSeparatorTest, IsACharacterThatParseNumberAccepts)
{
    const char separator = UserDecimalSeparator();
    EXPECT_GT(static_cast<unsigned char>(separator), 32u);
    EXPECT_FALSE(separator >= '0' && separator <= '9');
    EXPECT_DOUBLE_EQ(ParseNumber(std::string("1") + separator + "5", separator), 1.5);
}

}  // namespace
}  // namespace pasarela
