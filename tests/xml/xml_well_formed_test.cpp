#include "xml/xml_well_formed.h"

#include <gtest/gtest.h>

#include <expat.h>

#include <string>
#include <string_view>

namespace pasarela {
namespace {

// What expat, a conformant parser, makes of the same text.
bool ExpatAccepts(std::string_view text)
{
    XML_Parser parser = XML_ParserCreate("UTF-8");
    const bool accepted =
        XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return accepted;
}

std::string Repeated(std::string_view text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i) {
        result += text;
    }
    return result;
}

// A DASTENO-like file with every construct the quick check reads itself.
const std::string kPlain =
    "<?xml version=\"1.0\" standalone='yes'?>\r\n<!-- DASTENO - 2026 -->\n"
    "<centro nombre=\"IES &quot;Ram&#243;n&#xF3;&quot; &amp; &lt;&gt;&apos;\" curso='2026/2027'>\n"
    "  <materias><dmateria codigo=\"MAT\" nombre=\"Matemáticas ½ € 𝄞\"\tid = \"1\"/>"
    "<x-y.z_:w a:b=\"\"/></materias>text ] ]> &#10;<!---->\n"
    "</centro >\n<!-- fin -->\n";

TEST(XmlWellFormedTest, PlainFilesAreAcceptedAsExpatAcceptsThem)
{
    struct Case {
        std::string_view name;
        std::string text;
    };
    const Case cases[] = {
        {"every plain construct", kPlain},
        {"a root alone", "<centro/>"},
        {"declaration with encoding", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><c></c>"},
        {"nested deep", Repeated("<a>", 10000) + Repeated("</a >", 10000)},
        {"the highest characters", "<c a=\"&#x10FFFF;\">\xEF\xBF\xBD\xF4\x8F\xBF\xBF</c>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(ExpatAccepts(c.text));
        EXPECT_TRUE(PlainlyWellFormed(c.text));
    }
}

TEST(XmlWellFormedTest, WhatIsNotPlainIsLeftToTheConformantParser)
{
    std::string manyAttributes = "<c";
    for (int i = 0; i < 40; ++i) {
        manyAttributes += " a" + std::to_string(i) + "=\"\"";
    }
    manyAttributes += "/>";
    struct Case {
        std::string_view name;
        std::string text;
        bool wellFormed;  // what expat says
    };
    const Case cases[] = {
        {"DOCTYPE", "<!DOCTYPE c><c/>", true},
        {"CDATA", "<c><![CDATA[x]]></c>", true},
        {"processing instruction", "<?pi x?><c/>", true},
        {"name beyond ASCII", "<año/>", true},
        {"very many attributes", manyAttributes, true},
        {"another version", "<?xml version=\"1.1\"?><c/>", true},
        {"repeated attribute", "<c a=\"1\" a=\"2\"/>", false},
        {"'--' in a comment", "<c><!-- a -- b --></c>", false},
        {"']]>' in text", "<c>]]></c>", false},
        {"declaration not at the start", " <?xml version=\"1.0\"?><c/>", false},
        {"reference to character 0", "<c>&#0;</c>", false},
        {"form feed", "<c>\f</c>", false},
        {"undeclared entity", "<c>&e;</c>", false},
        {"'<' in a value", "<c a=\"<\"/>", false},
        {"name starting with a digit", "<1c/>", false},
        {"unclosed root", "<c>", false},
        {"second root", "<c/><c/>", false},
        {"text after the root", "<c/>x", false},
        {"surrogate in UTF-8", "<c>\xED\xA0\x80</c>", false},
        {"overlong UTF-8", "<c>\xC0\xAF</c>", false},
        {"cut UTF-8", "<c>\xC3</c>", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExpatAccepts(c.text), c.wellFormed);
        EXPECT_FALSE(PlainlyWellFormed(c.text));
    }
}

// Every text one byte away from a plain file (a byte replaced, removed or added, at every
// place): the quick check never accepts one that expat refuses.
TEST(XmlWellFormedTest, NeverAcceptsWhatExpatRefusesOneByteAwayFromAPlainFile)
{
    ASSERT_TRUE(PlainlyWellFormed(kPlain));
    const std::string bytes = std::string("<>&;#x\"'-=/!?]: \t\r\na1Z") + '\0' + "\x01\x7F\x80\xBF\xC3\xE0\xED\xF4\xFF";
    const auto expectAgreement = [](const std::string& text) {
        if (PlainlyWellFormed(text) && !ExpatAccepts(text)) {
            ADD_FAILURE() << "accepted, but not well-formed: " << text;
        }
    };
    for (std::size_t at = 0; at <= kPlain.size(); ++at) {
        if (at < kPlain.size()) {
            expectAgreement(std::string(kPlain).erase(at, 1));
        }
        for (const char byte : bytes) {
            if (at < kPlain.size()) {
                std::string replaced = kPlain;
                replaced[at] = byte;
                expectAgreement(replaced);
            }
            expectAgreement(std::string(kPlain).insert(at, 1, byte));
        }
    }
}

}  // namespace
}  // namespace pasarela
