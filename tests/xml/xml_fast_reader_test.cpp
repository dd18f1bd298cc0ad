#include "xml/xml_fast_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_reading_record.h"

namespace pasarela {
namespace {

namespace fs = std::filesystem;

using test::ReadRecorded;
using test::XmlReading;
using xml_detail::XmlReaderPath;

// Who reads a file when the reader chooses: the scanner to the end, expat from the start
// before any event was handed on, or expat after the scanner handed some on.
enum class ReadBy { Scanner, ExpatFromTheStart, ExpatAfterEvents };

struct Case {
    const char* name;
    std::string bytes;
    ReadBy readBy;
};

std::string Many(std::string_view text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

const std::string kManyElements = Many("<e a=\"1\" b='x'/>\n", 200);

std::string ManyAttributes(int count)
{
    std::string tag = "<a";
    for (int i = 0; i < count; ++i)
        tag += " n" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return tag + "/>";
}

// The scanner's reach and its edges, what lies beyond it, and the disagreements the fuzz
// harness found while it was written.
const std::vector<Case>& Cases()
{
    static const std::vector<Case> cases = {
        // Within reach: what the scanner reads to the end.
        {"DeclarationWithEncodingAndStandalone",
         "<?xml version='1.0'  encoding = \"uTf-8\" standalone='yes' ?>\r\n<a/>", ReadBy::Scanner},
        {"DeclarationWithVersionOnly", "<?xml version=\"1.0\"?><a/>", ReadBy::Scanner},
        {"NoDeclarationAndAByteOrderMark", "\xEF\xBB\xBF<a/>\n", ReadBy::Scanner},
        {"CommentsAndInstructionsAroundTheRoot",
         "<!-- one\r\ntwo\rthree -->\n<?first  data with\r\nlines ?><?empty?><?blank ?>"
         "<a><!-- in --><?in x?></a><!--after--><?last x?>\n",
         ReadBy::Scanner},
        {"AttributeValuesNormalised",
         "<a x=\"tab\there\" y='lf\ncr\rcrlf\r\nend' z=\"&#10;&#13;&#9;&#x20AC;&#128512;&#0065;\" "
         "w=\"&lt;&gt;&amp;&apos;&quot; ]]> > 'single'\" v='\"double\"' u=\"\"/>",
         ReadBy::Scanner},
        {"BlanksAroundTheEqualsSignAndBeforeTheEnd", "<a\tx\n=\r\n'1'\n  y = \"2\"\r\n/>", ReadBy::Scanner},
        {"TextReferencesAndCData",
         "<a>text &amp; &#241; &#x1F600; > ]] ]> ñ € 😀<![CDATA[ <no> & ]] ]> ]]]><b>\r\r\n</b ></a>",
         ReadBy::Scanner},
        {"NamesOfEveryAsciiKind", "<_a:b-c.1 :x='1' _y.2-z='2'><A/></_a:b-c.1>", ReadBy::Scanner},
        {"CharactersXmlAllowsAtTheEdges",
         "<a x=\"\x7F \xC2\x80 \xC2\x85 \xEF\xB7\x90 \xEF\xBF\xBD \xF4\x8F\xBF\xBF \xED\x9F\xBF \xEE\x80\x80\">"
         "\x7F\xEF\xBF\xBD</a>",
         ReadBy::Scanner},
        {"NulPaddingAfterTheRoot", std::string("<a/>\n \0\0 \0\n", 12), ReadBy::Scanner},
        {"DeepNesting", Many("<d>", 100) + Many("</d>", 100), ReadBy::Scanner},
        {"ThirtyTwoAttributes", ManyAttributes(32), ReadBy::Scanner},
        {"ManyElementsInTheRoot", "<r>\n" + kManyElements + "</r>\n", ReadBy::Scanner},

        // Beyond reach before any element: expat reads the file from the start.
        {"EmptyFile", "", ReadBy::ExpatFromTheStart},
        {"Doctype", "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x\">]><a v=\"&e;\"/>",
         ReadBy::ExpatFromTheStart},
        {"Latin1Declaration", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a x=\"\xF1\"/>",
         ReadBy::ExpatFromTheStart},
        {"Utf8SpelledAnotherWay", "<?xml version=\"1.0\" encoding=\"utf8\"?><a x=\"\xC3\xB1\"/>",
         ReadBy::ExpatFromTheStart},
        {"ByteOrderMarkOverALatin1Declaration",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a x=\"\xC3\xB1\"/>", ReadBy::ExpatFromTheStart},
        {"Utf16", std::string("\xFF\xFE<\0a\0/\0>\0", 10), ReadBy::ExpatFromTheStart},
        {"Version11", "<?xml version=\"1.1\"?><a/>", ReadBy::ExpatFromTheStart},
        {"BlankBeforeTheDeclaration", " <?xml version=\"1.0\"?><a/>", ReadBy::ExpatFromTheStart},
        {"NonAsciiRootName", "<ñ/>", ReadBy::ExpatFromTheStart},
        {"TextBeforeTheRoot", "x<a/>", ReadBy::ExpatFromTheStart},

        // Beyond reach after elements were handed on: expat reads on, counting those off.
        {"NonAsciiElementNameMidFile", "<r>" + kManyElements + "<ñandú x='1'><b/></ñandú></r>",
         ReadBy::ExpatAfterEvents},
        {"NonAsciiAttributeNameMidFile", "<r>" + kManyElements + "<b año='1'/><c/></r>", ReadBy::ExpatAfterEvents},
        {"MoreAttributesThanTheScannerTakes", "<r><b/>" + ManyAttributes(33) + "<c/></r>", ReadBy::ExpatAfterEvents},

        // Faults: refused with expat's message, line and column, wherever they are.
        {"TagMismatchAfterManyElements", "<r>\n" + kManyElements + "<b></c></r>", ReadBy::ExpatAfterEvents},
        {"DuplicateAttribute", "<r><b x='1' y='2' x='3'/></r>", ReadBy::ExpatAfterEvents},
        {"NoBlankBetweenAttributes", "<r><b x='1'y='2'/></r>", ReadBy::ExpatAfterEvents},
        {"NulCharacterReference", "<r><b x='&#0;'/></r>", ReadBy::ExpatAfterEvents},
        {"ControlCharacterReference", "<r><b x='&#x1F;'/></r>", ReadBy::ExpatAfterEvents},
        {"SurrogateCharacterReference", "<r><b x='&#xD800;'/></r>", ReadBy::ExpatAfterEvents},
        {"CharacterReferenceBeyondUnicode", "<r><b x='&#x110000;'/></r>", ReadBy::ExpatAfterEvents},
        {"UppercaseHexMark", "<r><b x='&#X41;'/></r>", ReadBy::ExpatAfterEvents},
        {"UndeclaredEntity", "<r><b x='&nbsp;'/></r>", ReadBy::ExpatAfterEvents},
        {"BareAmpersandInText", "<r>\n<b/>a & b</r>", ReadBy::ExpatAfterEvents},
        {"LessThanInAValue", "<r><b x='a<b'/></r>", ReadBy::ExpatAfterEvents},
        {"CDataEndInText", "<r><b/>a ]]> b</r>", ReadBy::ExpatAfterEvents},
        {"ControlCharacterInText", "<r><b/>a \x01 b</r>", ReadBy::ExpatAfterEvents},
        {"OverlongUtf8", "<r><b/><c x='\xC0\x80'/></r>", ReadBy::ExpatAfterEvents},
        {"Utf8Surrogate", "<r><b/>\xED\xA0\x80</r>", ReadBy::ExpatAfterEvents},
        {"Utf8BeyondUnicode", "<r><b/><c x='\xF4\x90\x80\x80'/></r>", ReadBy::ExpatAfterEvents},
        {"Utf8Fffe", "<r><b/><c x='\xEF\xBF\xBE'/></r>", ReadBy::ExpatAfterEvents},
        {"LoneContinuationByte", "<r><b/>\x80</r>", ReadBy::ExpatAfterEvents},
        {"CharacterCutByTheEnd", "<r><b/>\xC3", ReadBy::ExpatAfterEvents},
        {"DeclarationMidFile", "<r><b/><?xml version=\"1.0\"?></r>", ReadBy::ExpatAfterEvents},
        {"ReservedTargetInAnotherCase", "<r><b/><?XmL x?></r>", ReadBy::ExpatAfterEvents},
        {"DoubleHyphenInAComment", "<r><b/><!-- a -- b --></r>", ReadBy::ExpatAfterEvents},
        {"CommentEndingInThreeHyphens", "<r/><!-- a --->", ReadBy::ExpatAfterEvents},
        {"TextAfterTheRoot", "<r>\n<b/>\n</r>\nx", ReadBy::ExpatAfterEvents},
        {"SecondRoot", "<r/><s/>", ReadBy::ExpatAfterEvents},
        {"CDataAfterTheRoot", "<r/><![CDATA[x]]>", ReadBy::ExpatAfterEvents},
        {"NulInsideTheRoot", std::string("<r><b/>\0</r>", 12), ReadBy::ExpatAfterEvents},
        {"NulThenText", std::string("<r/>\0x", 6), ReadBy::ExpatAfterEvents},
        {"RootNeverClosed", "<r>\n<b/>\n", ReadBy::ExpatAfterEvents},
        {"RootNeverClosedBeforeNulPadding", std::string("<r><b/>\0\0", 9), ReadBy::ExpatAfterEvents},
    };
    return cases;
}

class XmlFastReaderTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("pasarela_xml_fast_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path WriteFile(std::string_view bytes) const
    {
        const fs::path path = dir_ / "dasteno.xml";
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static void ExpectSame(const XmlReading& expat, const XmlReading& scanner)
    {
        EXPECT_EQ(scanner.outcome, expat.outcome);
        EXPECT_EQ(scanner.events, expat.events);
        EXPECT_EQ(scanner.progress, expat.progress);
    }

    fs::path dir_;
};

TEST_P(XmlFastReaderTest, ScannerAndExpatAgreeWhateverTheBlocks)
{
    const Case& c = GetParam();
    const fs::path path = WriteFile(c.bytes);

    const XmlReading expat = ReadRecorded(path, XmlReaderPath::ExpatOnly);
    const XmlReading chosen = ReadRecorded(path, XmlReaderPath::ScannerWhereItFits);
    ExpectSame(expat, chosen);
    switch (c.readBy) {
    case ReadBy::Scanner: EXPECT_FALSE(chosen.trace.handedToExpat); break;
    case ReadBy::ExpatFromTheStart:
        EXPECT_TRUE(chosen.trace.handedToExpat);
        EXPECT_EQ(chosen.trace.eventsBeforeHandOver, 0u);
        break;
    case ReadBy::ExpatAfterEvents:
        EXPECT_TRUE(chosen.trace.handedToExpat);
        EXPECT_GT(chosen.trace.eventsBeforeHandOver, 0u);
        break;
    }

    // Every block size up to the whole file puts a block boundary inside every token, at
    // every place in it.
    const std::size_t longest = std::max<std::size_t>(c.bytes.size(), 1);
    for (std::size_t blockSize = 1; blockSize <= std::min<std::size_t>(longest, 300); ++blockSize) {
        SCOPED_TRACE("blocks of " + std::to_string(blockSize) + " bytes");
        const XmlReading expatCut = ReadRecorded(path, XmlReaderPath::ExpatOnly, blockSize);
        const XmlReading scannerCut = ReadRecorded(path, XmlReaderPath::ScannerWhereItFits, blockSize);
        ExpectSame(expatCut, scannerCut);
        EXPECT_EQ(scannerCut.outcome, expat.outcome);
        EXPECT_EQ(scannerCut.trace.handedToExpat, chosen.trace.handedToExpat);
        if (::testing::Test::HasFailure())
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, XmlFastReaderTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace pasarela
