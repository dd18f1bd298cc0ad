#include "xml/xml_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace pasarela {
namespace {

using namespace std::string_view_literals;

// The writer hands its output over in pieces of any size: cut anywhere, even inside a
// character, the bytes written are those of the whole text.
TEST(Utf8TranscoderTest, GivesTheSameBytesWhereverTheTextIsCut)
{
    struct Case {
        std::string_view name;
        TextEncoding encoding;
        std::string_view expected;
    };
    constexpr std::string_view kText = "a\xC3\xB1\xE2\x82\xAC\xF0\x9D\x84\x9E";  // a ñ € 𝄞
    const Case cases[] = {
        {"windows-1252", TextEncoding::Windows1252, "a\xF1\x80&#119070;"},
        {"ISO-8859-1", TextEncoding::Iso8859_1, "a\xF1&#8364;&#119070;"},
        {"US-ASCII", TextEncoding::UsAscii, "a&#241;&#8364;&#119070;"},
        {"UTF-16LE", TextEncoding::Utf16Le, "a\0\xF1\0\xAC\x20\x34\xD8\x1E\xDD"sv},
        {"UTF-16BE", TextEncoding::Utf16Be, "\0a\0\xF1\x20\xAC\xD8\x34\xDD\x1E"sv},
    };
    for (const Case& c : cases) {
        for (std::size_t cut = 0; cut <= kText.size(); ++cut) {
            SCOPED_TRACE(std::string(c.name) + ", cut at " + std::to_string(cut));
            Utf8Transcoder transcoder(c.encoding);
            std::string out = transcoder.Transcode(kText.substr(0, cut));
            out += transcoder.Transcode(kText.substr(cut));
            out += transcoder.Finish();
            EXPECT_EQ(out, c.expected);
        }
    }
}

TEST(Utf8TranscoderTest, ACharacterThatNeverEndsIsOneReplacementCharacter)
{
    Utf8Transcoder transcoder(TextEncoding::Utf16Le);
    EXPECT_EQ(transcoder.Transcode("a\xE2\x82"), "a\0"sv);
    EXPECT_EQ(transcoder.Finish(), "\xFD\xFF");
    EXPECT_EQ(transcoder.Finish(), "");
}

TEST(DetectByteOrderTest, TellsTheMarkOrTheZeroByteBesideTheFirstBracket)
{
    struct Case {
        std::string_view name;
        std::string_view raw;
        bool utf8Mark;
        bool utf16;
        bool bigEndian;
        std::size_t markSize;
    };
    const Case cases[] = {
        {"UTF-8 mark", "\xEF\xBB\xBF<a/>", true, false, false, 3},
        {"UTF-16LE mark", "\xFF\xFE<\0"sv, false, true, false, 2},
        {"UTF-16BE mark", "\xFE\xFF\0<"sv, false, true, true, 2},
        {"UTF-16LE without mark", "<\0a\0"sv, false, true, false, 0},
        {"UTF-16BE without mark", "\0<\0a"sv, false, true, true, 0},
        {"plain", "<a/>", false, false, false, 0},
        {"empty", "", false, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ByteOrder order = DetectByteOrder(c.raw);
        EXPECT_EQ(order.utf8Mark, c.utf8Mark);
        EXPECT_EQ(order.utf16, c.utf16);
        EXPECT_EQ(order.bigEndian, c.bigEndian);
        EXPECT_EQ(order.markSize, c.markSize);
    }
}

TEST(EncodingByNameTest, ReadsEverySpellingOfANameAndEveryNameItGives)
{
    struct Case {
        std::string_view name;
        TextEncoding encoding;
    };
    const Case cases[] = {
        {"utf8", TextEncoding::Utf8},          {"ISO_8859-1", TextEncoding::Iso8859_1},
        {"Latin-9", TextEncoding::Iso8859_15}, {"x-cp1250", TextEncoding::Windows1250},
        {"CP1252", TextEncoding::Windows1252}, {"US-ASCII", TextEncoding::UsAscii},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodingByName(c.name), c.encoding);
    }
    EXPECT_EQ(EncodingByName("windows-1259"), std::nullopt);
    EXPECT_EQ(EncodingByName("EBCDIC"), std::nullopt);
    for (int e = 0; e <= static_cast<int>(TextEncoding::Windows1258); ++e) {
        const auto encoding = static_cast<TextEncoding>(e);
        SCOPED_TRACE(std::string(EncodingName(encoding)));
        EXPECT_EQ(EncodingByName(EncodingName(encoding)), encoding);
        EXPECT_NE(SupportedEncodings().find(EncodingName(encoding)), std::string::npos);
    }
}

}  // namespace
}  // namespace pasarela
