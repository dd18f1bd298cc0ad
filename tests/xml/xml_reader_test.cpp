#include "xml/xml_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "os/error.h"
#include "os/error_message.h"
#include "os/file.h"
#include "test_support.h"
#include "xml/xml_reading_record.h"
#include "xml/xml_test_support.h"
#include "xml/xml_writer.h"

namespace pasarela {
namespace {

namespace fs = std::filesystem;

using test::ErrorMessageOf;
using test::TestXmlElement;
using test::TestXmlFile;

// The text as UTF-16 bytes; a BOM is there only when the text starts with U+FEFF.
std::string Utf16Bytes(std::u16string_view text, bool bigEndian)
{
    std::string bytes;
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

std::string Repeated(std::string_view text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i) {
        result += text;
    }
    return result;
}

std::string Quoted(const fs::path& path)
{
    return "'" + DisplayPath(path) + "'";
}

class XmlReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string testName =
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = fs::temp_directory_path() /
               ("pasarela_xml_" + testName + "_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path WriteFile(const fs::path& name, std::string_view bytes) const
    {
        const fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static std::string ReadFile(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    std::set<fs::path> FilesInFolder() const
    {
        std::set<fs::path> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            names.insert(entry.path().filename());
        }
        return names;
    }

    TestXmlFile LoadBytes(std::string_view bytes) const
    {
        return TestXmlFile::Load(WriteFile("centro.xml", bytes));
    }

    // What saving a file read from `document` writes, its root written by `writeRoot`.
    std::string SaveWithRoot(const TestXmlFile& document, const std::function<void(XmlStreamWriter&)>& writeRoot) const
    {
        const fs::path path = dir_ / "guardado.xml";
        SaveXmlFile(path, document.Facts(), writeRoot);
        const std::string bytes = ReadFile(path);
        fs::remove(path);
        return bytes;
    }

    std::string Saved(const TestXmlFile& document) const
    {
        const std::string bytes = document.SaveToString(dir_ / "guardado.xml");
        fs::remove(dir_ / "guardado.xml");
        return bytes;
    }

    fs::path dir_;
};

TEST_F(XmlReaderTest, LoadDecodesEachEncodingToUtf8)
{
    struct Case {
        std::string_view name;
        std::string input;
        std::string_view encoding;
        std::string_view nombre;
    };
    const Case cases[] = {
        {"UTF-8 without declaration", "<centro nombre=\"Matemáticas ½ € 中\"/>", "UTF-8",
         "Matemáticas ½ € 中"},
        {"UTF-8 with BOM",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<centro nombre=\"Matemáticas €\"/>",
         "UTF-8", "Matemáticas €"},
        {"declaration without encoding",
         "<?xml version=\"1.0\" standalone=\"yes\"?><centro nombre=\"Matemáticas\"/>", "UTF-8",
         "Matemáticas"},
        {"UTF-16 LE with BOM",
         Utf16Bytes(u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                    u"<centro nombre=\"Matemáticas € 𝄞\"/>",
                    false),
         "UTF-16", "Matemáticas € 𝄞"},
        {"UTF-16 BE with BOM",
         Utf16Bytes(u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                    u"<centro nombre=\"Matemáticas € 𝄞\"/>",
                    true),
         "UTF-16", "Matemáticas € 𝄞"},
        {"UTF-16 LE without BOM",
         Utf16Bytes(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><centro nombre=\"María\"/>",
                    false),
         "UTF-16", "María"},
        {"ISO-8859-1",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
         "<centro nombre=\"Matem\xE1" "ticas \xBD\"/>",
         "ISO-8859-1", "Matemáticas ½"},
        {"latin1 in single quotes",
         "<?xml version='1.0' encoding='latin1'?><centro nombre=\"Matem\xE1" "ticas \xBD\"/>",
         "ISO-8859-1", "Matemáticas ½"},
        {"iso_8859-1",
         "<?xml version=\"1.0\" encoding=\"iso_8859-1\"?><centro nombre=\"Espa\xF1" "a\"/>",
         "ISO-8859-1", "España"},
        {"ISO-Latin-1",
         "<?xml version=\"1.0\" encoding=\"ISO-Latin-1\"?><centro nombre=\"Espa\xF1" "a\"/>",
         "ISO-8859-1", "España"},
        {"windows-1252",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><centro nombre=\"\x80 \x8A \xF1\"/>",
         "windows-1252", "€ Š ñ"},
        {"CP1252", "<?xml version=\"1.0\" encoding=\"CP1252\"?><centro nombre=\"\x80 \x8A\"/>",
         "windows-1252", "€ Š"},        {"ISO-8859-15, the euro sign", "<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><centro nombre=\"\xA4 \xA6 \xBD \xF1\"/>",
         "ISO-8859-15", "€ Š œ ñ"},
        {"latin-9", "<?xml version=\"1.0\" encoding=\"Latin-9\"?><centro nombre=\"5 \xA4\"/>",
         "ISO-8859-15", "5 €"},
        {"US-ASCII", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><centro nombre=\"Espa&#241;a\"/>",
         "US-ASCII", "España"},
        {"ISO-8859-2", "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?><centro nombre=\"\xA3\xF3\x64\xBC\"/>",
         "ISO-8859-2", "Łódź"},
        {"windows-1250", "<?xml version=\"1.0\" encoding=\"windows-1250\"?><centro nombre=\"\x8A\xE8\"/>",
         "windows-1250", "Šč"},
        {"windows-1251", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><centro nombre=\"\xCC\xE0\"/>",
         "windows-1251", "Ма"},
        {"windows-1253", "<?xml version=\"1.0\" encoding=\"windows-1253\"?><centro nombre=\"\xC1\xE1\"/>",
         "windows-1253", "Αα"},
        {"windows-1254", "<?xml version=\"1.0\" encoding=\"windows-1254\"?><centro nombre=\"\xD0\xFD\"/>",
         "windows-1254", "Ğı"},
        {"windows-1255", "<?xml version=\"1.0\" encoding=\"windows-1255\"?><centro nombre=\"\xE0\xA4\"/>",
         "windows-1255", "א₪"},
        {"windows-1256", "<?xml version=\"1.0\" encoding=\"windows-1256\"?><centro nombre=\"\xC7\x80\"/>",
         "windows-1256", "ا€"},
        {"windows-1257", "<?xml version=\"1.0\" encoding=\"windows-1257\"?><centro nombre=\"\xC0\xE0\"/>",
         "windows-1257", "Ąą"},
        {"windows-1258", "<?xml version=\"1.0\" encoding=\"windows-1258\"?><centro nombre=\"\xC3\xD2\"/>",
         "windows-1258", "Ẳ"},
        {"UTF-16LE declared, no BOM",
         Utf16Bytes(u"<?xml version=\"1.0\" encoding=\"UTF-16LE\"?><centro nombre=\"€ 𝄞\"/>", false),
         "UTF-16LE", "€ 𝄞"},
        {"UTF-16BE declared, no BOM",
         Utf16Bytes(u"<?xml version=\"1.0\" encoding=\"UTF-16BE\"?><centro nombre=\"€ 𝄞\"/>", true),
         "UTF-16BE", "€ 𝄞"},
        {"UTF-16 BE without BOM nor declaration", Utf16Bytes(u"<centro nombre=\"María\"/>", true),
         "UTF-16", "María"},
        {"UTF-16 LE without BOM nor declaration", Utf16Bytes(u"<centro nombre=\"María\"/>", false),
         "UTF-16", "María"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TestXmlFile document = LoadBytes(c.input);
        EXPECT_EQ(document.Encoding(), c.encoding);
        const std::optional<TestXmlElement> root = document.Root();
        ASSERT_TRUE(root.has_value());
        EXPECT_EQ(root->Name(), "centro");
        EXPECT_EQ(root->Attribute("nombre"), c.nombre);
    }
}

// Other spellings of UTF-8 and UTF-16 are read as those encodings by the reader itself, so
// a character beyond U+FFFF (a teacher's emoji) is read under every one; NULs that pad the
// end of a UTF-16 file are let be as after a UTF-8 one. Each file is read by expat alone and
// as ReadXmlFile chooses (a DOCTYPE makes the choice expat too).
TEST_F(XmlReaderTest, OtherSpellingsOfUtf8AndUtf16AreReadAsThoseEncodings)
{
    struct Case {
        std::string_view name;
        std::string input;
        std::string_view encoding;
        std::string_view nombre;
    };
    const auto declared = [](std::string_view encoding, std::string_view rest) {
        return "<?xml version=\"1.0\" encoding=\"" + std::string(encoding) + "\"?>" + std::string(rest);
    };
    const auto utf16 = [](std::u16string_view encoding, std::u16string_view rest, bool bigEndian) {
        return Utf16Bytes(u"\uFEFF<?xml version=\"1.0\" encoding=\"" + std::u16string(encoding) + u"\"?>" +
                              std::u16string(rest),
                          bigEndian);
    };
    const Case cases[] = {
        {"utf8", declared("utf8", "<centro nombre=\"Ana 😀\"/>"), "UTF-8", "Ana 😀"},
        {"UTF8 with a DOCTYPE", declared("UTF8", "<!DOCTYPE centro><centro nombre=\"Ana 😀 ñ\"/>"), "UTF-8",
         "Ana 😀 ñ"},
        {"Utf_8", declared("Utf_8", "<centro nombre=\"😀\"/>"), "UTF-8", "😀"},
        {"utf8 after a UTF-8 mark", "\xEF\xBB\xBF" + declared("utf8", "<centro nombre=\"😀\"/>"), "UTF-8", "😀"},
        {"utf-8 in small letters, a name beyond ASCII", declared("utf-8", "<centro nombre=\"😀\"><año/></centro>"),
         "UTF-8", "😀"},
        {"UTF16", utf16(u"UTF16", u"<centro nombre=\"Ana 😀\"/>", false), "UTF-16", "Ana 😀"},
        {"utf16, big-endian", utf16(u"utf16", u"<centro nombre=\"Ana 😀\"/>", true), "UTF-16", "Ana 😀"},
        {"UTF16LE without a mark",
         Utf16Bytes(u"<?xml version=\"1.0\" encoding=\"UTF16LE\"?><centro nombre=\"😀\"/>", false), "UTF-16LE",
         "😀"},
        {"utf_16be", utf16(u"utf_16be", u"<centro nombre=\"😀\"/>", true), "UTF-16BE", "😀"},
        {"UTF-16 padded with NULs and blanks",
         utf16(u"UTF-16", std::u16string(u"<centro nombre=\"😀\"/>\r\n") + std::u16string(8, u'\0') + u"  ", false),
         "UTF-16", "😀"},
        {"UTF-16BE padded with NULs", utf16(u"UTF-16BE", std::u16string(u"<centro nombre=\"x\"/>") + std::u16string(3, u'\0'), true),
         "UTF-16BE", "x"},
        {"UTF-8 padded with NULs", declared("UTF-8", std::string("<centro nombre=\"x\"/>\n\0\0\0", 24)), "UTF-8", "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = WriteFile("centro.xml", c.input);
        const test::XmlReading expat = test::ReadRecorded(path, xml_detail::XmlReaderPath::ExpatOnly);
        EXPECT_THAT(expat.outcome, StartsWith("read: " + std::string(c.encoding)));
        ASSERT_FALSE(expat.events.empty());
        EXPECT_EQ(expat.events[0], "+1 centro" + std::string(1, '\0') + "nombre" + std::string(1, '\0') +
                                       std::string(c.nombre));
        const TestXmlFile document = TestXmlFile::Load(path);
        EXPECT_EQ(document.Encoding(), c.encoding);
        ASSERT_TRUE(document.Root().has_value());
        EXPECT_EQ(document.Root()->Attribute("nombre"), c.nombre);
    }
}

// A NUL with text after it is no padding, in UTF-16 as in UTF-8.
TEST_F(XmlReaderTest, NulFollowedByTextInUtf16IsRefusedAtTheNul)
{
    const fs::path path = WriteFile(
        "centro.xml", Utf16Bytes(u"\uFEFF<centro/>" + std::u16string(2, u'\0') + u"<!-- -->", false));
    EXPECT_EQ(ErrorMessageOf([&] { TestXmlFile::Load(path); }),
              "El archivo " + Quoted(path) +
                  " no es un XML válido (línea 1, columna 10): contiene un carácter nulo (byte 0), que XML no admite");
}

TEST_F(XmlReaderTest, LoadRefusesAnEncodingItCannotReadAndSaysWhichItCan)
{
    for (const std::string_view encoding : {"shift_jis", "KOI8-R", "UTF-7", "windows-874"}) {
        SCOPED_TRACE(encoding);
        const fs::path path = WriteFile(
            "centro.xml", "<?xml version=\"1.0\" encoding=\"" + std::string(encoding) +
                              "\"?><centro/>");
        EXPECT_EQ(ErrorMessageOf([&] { TestXmlFile::Load(path); }),
                  "El archivo " + Quoted(path) + " usa la codificación '" +
                      std::string(encoding) +
                      "', que no se admite (se admiten UTF-8, UTF-16, UTF-16LE, UTF-16BE, "
                      "US-ASCII, ISO-8859-1, ISO-8859-2, ISO-8859-15, windows-1250, "
                      "windows-1251, windows-1252, windows-1253, windows-1254, windows-1255, "
                      "windows-1256, windows-1257, windows-1258)");
    }
}

TEST_F(XmlReaderTest, LoadReportsAMissingFileOrAFolder)
{
    const fs::path missing = dir_ / "falta.xml";
    EXPECT_EQ(ErrorMessageOf([&] { TestXmlFile::Load(missing); }),
              "No existe el archivo " + Quoted(missing));
    EXPECT_EQ(ErrorMessageOf([&] { TestXmlFile::Load(dir_); }),
              Quoted(dir_) + " es una carpeta, no un archivo XML");
}

TEST_F(XmlReaderTest, ParseErrorNamesTheFileLineAndColumn)
{
    const fs::path path =
        WriteFile("centro.xml", "<?xml version=\"1.0\"?>\n<centro>\n  <materias x=1/>\n</centro>");
    try {
        TestXmlFile::Load(path);
        FAIL() << "no error thrown";
    } catch (const XmlParseError& e) {
        EXPECT_EQ(std::string(e.what()), "El archivo " + Quoted(path) +
                                             " no es un XML válido (línea 3, columna 15): "
                                             "carácter o marca no válidos");
        EXPECT_EQ(e.Line(), 3u);
        EXPECT_EQ(e.Column(), 15u);
    }
}

TEST_F(XmlReaderTest, ParseErrorPositionCountsLinesAndCharactersOfTheText)
{
    struct Case {
        std::string_view name;
        std::string input;
        std::size_t line;
        std::size_t column;
        std::string_view reason;
    };
    const Case cases[] = {
        {"accented letters count once", "<centro>\n<d n=\"ñáü€\" x=1/></centro>", 2, 15,
         "carácter o marca no válidos"},
        {"CR LF ends a line once", "<centro>\r\n<a>\r\n</b></centro>", 3, 3,
         "la etiqueta de cierre no corresponde a la de apertura"},
        {"lone CR ends a line", "<centro>\r<a>\r</b></centro>", 3, 3, "la etiqueta de cierre no corresponde a la de apertura"},
        {"BOM is not a character", "\xEF\xBB\xBF<centro x=1/>", 1, 11,
         "carácter o marca no válidos"},
        {"ISO-8859-1 counted after decoding",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<d n=\"\xF1\xF1\" x=1/>", 2, 13,
         "carácter o marca no válidos"},
        {"UTF-16 counted after decoding",
         Utf16Bytes(u"\uFEFF<centro>\n<d n=\"𝄞\" x=1/></centro>", false), 2, 12,
         "carácter o marca no válidos"},
        {"empty file", "", 1, 1, "el documento no tiene ningún elemento"},
        {"second root element", "<centro/>\n  <centro/>", 2, 3,
         "hay contenido después del elemento raíz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = WriteFile("centro.xml", c.input);
        try {
            TestXmlFile::Load(path);
            ADD_FAILURE() << "no error thrown";
        } catch (const XmlParseError& e) {
            EXPECT_EQ(e.Line(), c.line);
            EXPECT_EQ(e.Column(), c.column);
            EXPECT_EQ(std::string(e.what()),
                      "El archivo " + Quoted(path) + " no es un XML válido (línea " +
                          std::to_string(c.line) + ", columna " + std::to_string(c.column) +
                          "): " + std::string(c.reason));
        }
    }
}

TEST_F(XmlReaderTest, SelectElementsFindsExactAbsolutePathsInDocumentOrder)
{
    const TestXmlFile document = LoadBytes(R"(<?xml version="1.0"?>
<!-- DASTENO -->
<centro>
  <materias>
    <dmateria id="1"/>
    <otro><dmateria id="anidada"/></otro>
    <dmateria id="2"/>
  </materias>
  <aulas><dmateria id="en aulas"/></aulas>
  <materias><dmateria id="3"/></materias>
  <dmateria id="directa"/>
</centro>)");
    struct Case {
        std::string_view path;
        std::vector<std::string> ids;
    };
    const Case cases[] = {
        {"/centro/materias/dmateria", {"1", "2", "3"}},
        {"/centro/dmateria", {"directa"}},
        {"/centro/materias/otro/dmateria", {"anidada"}},
        {"/centro/Materias/dmateria", {}},
        {"/materias/dmateria", {}},
        {"/dmateria", {}},
        {"/centro/solucion_horario", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        // Copies: the elements found are gone once the loop ends.
        std::vector<std::string> ids;
        for (const TestXmlElement& element : document.SelectElements(c.path)) {
            EXPECT_EQ(element.Name(), "dmateria");
            ids.emplace_back(element.Attribute("id").value_or("<sin id>"));
        }
        EXPECT_EQ(ids, c.ids);
    }
    const std::vector<TestXmlElement> roots = document.SelectElements("/centro");
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0].Name(), "centro");
}

TEST_F(XmlReaderTest, AttributeTellsMissingFromEmptyAndResolvesReferences)
{
    const TestXmlFile document = LoadBytes(
        R"(<centro vacio="" y="Tom &amp; Jerry" decimal="Espa&#241;a" hexadecimal="Espa&#xF1;a")"
        R"( marcas="&lt;&gt;&quot;&apos;" linea="a&#10;b"/>)");
    struct Case {
        std::string_view name;
        std::optional<std::string_view> value;
    };
    const Case cases[] = {
        {"falta", std::nullopt},
        {"vacio", ""},
        {"y", "Tom & Jerry"},
        {"decimal", "España"},
        {"hexadecimal", "España"},
        {"marcas", "<>\"'"},
        {"linea", "a\nb"},
        {"Vacio", std::nullopt},
    };
    const std::optional<TestXmlElement> root = document.Root();
    ASSERT_TRUE(root.has_value());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(root->Attribute(c.name), c.value);
    }
}

TEST_F(XmlReaderTest, EntitiesDeclaredInTheFileAreExpandedAndTheDoctypeKept)
{
    const std::string doctype = "<!DOCTYPE centro [\n<!ENTITY asignatura \"MAT\">\n"
                                "<!ENTITY nombre \"Matem&#225;ticas &amp; &asignatura;\">\n"
                                "<!-- ] > ' -->\n<!ATTLIST centro x CDATA 'a>b'>\n]";
    const TestXmlFile document = LoadBytes(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype +
        ">\n<centro codigo=\"&asignatura;\" nombre=\"&nombre;\" y=\"&lt;&#241;\">&nombre;</centro>");

    const std::optional<TestXmlElement> root = document.Root();
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->Attribute("codigo"), "MAT");
    EXPECT_EQ(root->Attribute("nombre"), "Matemáticas & MAT");
    EXPECT_EQ(root->Attribute("y"), "<ñ");
    // Saved again, the DOCTYPE is the file's own text and the values hold what they mean,
    // with the attribute that the DOCTYPE gives a default value.
    EXPECT_EQ(Saved(document),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + doctype +
                  "><centro codigo=\"MAT\" nombre=\"Matemáticas &amp; MAT\" y=\"&lt;ñ\" x=\"a>b\"/>");
}

TEST_F(XmlReaderTest, EntitiesThatAreNotInTheFileRefuseIt)
{
    const fs::path secret = WriteFile("secreto.txt", "CONTENIDO SECRETO");
    const std::string external = "<!DOCTYPE centro [<!ENTITY relativo SYSTEM \"secreto.txt\">"
                                 "<!ENTITY absoluto SYSTEM \"file://" +
                                 fs::absolute(secret).generic_string() + "\">]>\n";
    struct Case {
        std::string_view name;
        std::string xml;
        std::size_t line;
        std::size_t column;
        std::string_view reason;
    };
    const Case cases[] = {
        {"external entity in an attribute", external + "<centro a=\"&absoluto;\"/>", 2, 12,
         "un atributo hace referencia a una entidad externa"},
        {"external entity in text", external + "<centro>&relativo;</centro>", 2, 9,
         "hace referencia a una entidad externa, que no se lee"},
        // In an attribute value the place given is the start of its element.
        {"undeclared entity, no DOCTYPE", "<centro>\n<d a=\"&e;\"/></centro>", 2, 1,
         "referencia a una entidad no declarada"},
        {"undeclared entity, DOCTYPE without it", "<!DOCTYPE centro []>\n<centro>&e;</centro>", 2, 9,
         "referencia a una entidad no declarada"},
        {"entity left to a DTD that is never read",
         "<!DOCTYPE centro SYSTEM \"centro.dtd\">\n<centro>&e;</centro>", 2, 9,
         "usa la entidad 'e', que no está declarada en el propio archivo"},
        // In a value the reference would otherwise vanish without a word.
        {"entity left to a DTD, in a value",
         "<!DOCTYPE centro SYSTEM \"centro.dtd\" [<!ENTITY d \"D\">]>\n<centro a=\"&d;&amp;&#65;&e;\"/>", 2,
         1, "usa la entidad 'e', que no está declarada en el propio archivo"},
        {"entity left to a parameter entity, in a value, UTF-16",
         Utf16Bytes(u"\uFEFF<!DOCTYPE centro [<!ENTITY % p SYSTEM \"p.ent\"> %p;]>\n<centro a=\"&e;\"/>", true), 2,
         1, "usa la entidad 'e', que no está declarada en el propio archivo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = WriteFile("centro.xml", c.xml);
        try {
            TestXmlFile::Load(path);
            ADD_FAILURE() << "no error thrown";
        } catch (const XmlParseError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "El archivo " + Quoted(path) + " no es un XML válido (línea " +
                          std::to_string(c.line) + ", columna " + std::to_string(c.column) +
                          "): " + std::string(c.reason));
        }
    }
}

TEST_F(XmlReaderTest, SaveKeepsEveryTopLevelNodeBeforeTheRootAndAttributeOrderWithoutAddedWhitespace)
{
    const TestXmlFile document = LoadBytes(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE centro>
<!-- exportado por DASTENO -->
<?dasteno-hoja tipo="horario"?>
<centro z="1" a="2" m="3">
  <materias><dmateria id="1" nombre="Tom &amp; Jerry"/></materias>
  <nota>x &lt; y</nota>
  <![CDATA[a < b]]>
</centro>
<!-- fin -->
)");
    EXPECT_EQ(Saved(document),
              R"(<?xml version="1.0" encoding="UTF-8"?><!DOCTYPE centro>)"
              R"(<!-- exportado por DASTENO --><?dasteno-hoja tipo="horario"?><!-- fin -->)"
              R"(<centro z="1" a="2" m="3"><materias><dmateria id="1" nombre="Tom &amp; Jerry"/>)"
              R"(</materias><nota/></centro>)");
}

TEST_F(XmlReaderTest, RebuiltRootIsSavedAsTheLastTopLevelNode)
{
    TestXmlFile document = LoadBytes(
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!-- antes -->\n"
        "<centro codigo_interno=\"28001\" nombre=\"IES Mar\xED" "a\" curso=\"2013\" version=\"1.2\""
        " extra=\"x\"><materias><dmateria/></materias></centro>\n<!-- despues -->\n");
    const std::vector<TestXmlElement> old = document.SelectElements("/centro");
    ASSERT_EQ(old.size(), 1u);
    const std::string nombre(old[0].Attribute("nombre").value());

    const std::string saved = SaveWithRoot(document, [&](XmlStreamWriter& out) {
        out.StartElement("centro");
        out.Attribute("codigo_interno", "28001");
        out.Attribute("nombre", nombre);
        out.Attribute("curso", "2013");
        out.Attribute("fecha_exportacion", "15/03/2013 09:05:07");
        out.Attribute("version", "1.2");
        out.StartElement("solucion_horario");
        out.StartElement("dsolucion");
        out.Attribute("casig", "5102 & <Ñ>");
        out.Attribute("cgrupo", "");
        out.Attribute("dia", 2);
        out.Attribute("hora", "-3");
        out.EndElement();
        out.StartElement("dsolucion");
        out.Attribute("dia", -12);
        out.EndElement();
        out.EndElement();
        out.EndElement();
    });
    EXPECT_EQ(saved,
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!-- antes --><!-- despues -->"
              "<centro codigo_interno=\"28001\" nombre=\"IES Mar\xED" "a\" curso=\"2013\""
              " fecha_exportacion=\"15/03/2013 09:05:07\" version=\"1.2\"><solucion_horario>"
              "<dsolucion casig=\"5102 &amp; &lt;\xD1>\" cgrupo=\"\" dia=\"2\" hora=\"-3\"/>"
              "<dsolucion dia=\"-12\"/></solucion_horario></centro>");
}

TEST_F(XmlReaderTest, SaveGivesBackTheBytesThatWereLoaded)
{
    std::string latin1Letters;
    for (int byte = 0xA0; byte <= 0xFF; ++byte) {
        latin1Letters += static_cast<char>(byte);
    }
    // Every byte from 0x80 to 0x9F that Windows-1252 defines.
    const std::string windows1252Extras =
        "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E"
        "\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9E\x9F";
    struct Case {
        std::string_view name;
        std::string input;
        std::string output;
    };
    const std::u16string_view utf16Text =
        u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><centro nombre=\"María € 𝄞\"/>";
    // Declared with their byte order, these carry no BOM.
    const std::u16string_view utf16LeText =
        u"<?xml version=\"1.0\" encoding=\"UTF-16LE\"?><centro nombre=\"María € 𝄞\"/>";
    const std::u16string_view utf16BeText =
        u"<?xml version=\"1.0\" encoding=\"UTF-16BE\"?><centro nombre=\"María € 𝄞\"/>";
    // The bytes 0x80 to 0xFF that windows-1250 defines.
    std::string windows1250Letters;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        if (byte != 0x81 && byte != 0x83 && byte != 0x88 && byte != 0x90 && byte != 0x98) {
            windows1250Letters += static_cast<char>(byte);
        }
    }
    const Case cases[] = {
        {"UTF-8 without declaration", "<centro nombre=\"María € 中\"/>",
         "<centro nombre=\"María € 中\"/>"},
        {"UTF-8 with BOM", "\xEF\xBB\xBF<?xml version=\"1.0\"?><centro nombre=\"María\"/>",
         "\xEF\xBB\xBF<?xml version=\"1.0\"?><centro nombre=\"María\"/>"},
        {"UTF-16 LE", Utf16Bytes(utf16Text, false), Utf16Bytes(utf16Text, false)},
        {"UTF-16 BE is written LE", Utf16Bytes(utf16Text, true), Utf16Bytes(utf16Text, false)},
        {"ISO-8859-1, every letter",
         "<?xml version=\"1.0\" encoding=\"latin1\"?><centro n=\"" + latin1Letters + "\"/>",
         "<?xml version=\"1.0\" encoding=\"latin1\"?><centro n=\"" + latin1Letters + "\"/>"},
        {"windows-1252, every letter",
         "<?xml version=\"1.0\" encoding=\"cp1252\"?><centro n=\"" + windows1252Extras +
             latin1Letters + "\"/>",
         "<?xml version=\"1.0\" encoding=\"cp1252\"?><centro n=\"" + windows1252Extras +
             latin1Letters + "\"/>"},        {"ISO-8859-15, every letter",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><centro n=\"" + latin1Letters + "\"/>",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><centro n=\"" + latin1Letters + "\"/>"},
        {"windows-1250, every letter it defines",
         "<?xml version=\"1.0\" encoding=\"windows-1250\"?><centro n=\"" + windows1250Letters + "\"/>",
         "<?xml version=\"1.0\" encoding=\"windows-1250\"?><centro n=\"" + windows1250Letters + "\"/>"},
        {"US-ASCII", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><centro n=\"Espa&#241;a\"/>",
         "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><centro n=\"Espa&#241;a\"/>"},
        {"UTF-16LE", Utf16Bytes(utf16LeText, false), Utf16Bytes(utf16LeText, false)},
        {"UTF-16BE", Utf16Bytes(utf16BeText, true), Utf16Bytes(utf16BeText, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Saved(LoadBytes(c.input)), c.output);
    }
}

TEST_F(XmlReaderTest, SaveWritesCharactersTheEncodingCannotHoldAsReferences)
{
    struct Case {
        std::string_view name;
        std::string input;
        std::string output;
    };
    const Case cases[] = {
        {"ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><centro/>",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
         "<centro n=\"\xF1 &#8364; &#20013; &#352; &#119070;\"/>"},
        {"windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><centro/>",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?>"
         "<centro n=\"\xF1 \x80 &#20013; \x8A &#119070;\"/>"},
        {"UTF-8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><centro/>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><centro n=\"ñ € 中 Š 𝄞\"/>"},
        {"no declaration", "<centro/>", "<centro n=\"ñ € 中 Š 𝄞\"/>"},
        {"UTF-16", Utf16Bytes(u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><centro/>", true),
         Utf16Bytes(u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                    u"<centro n=\"ñ € 中 Š 𝄞\"/>",
                    false)},        {"ISO-8859-15", "<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><centro/>",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?>"
         "<centro n=\"\xF1 \xA4 &#20013; \xA6 &#119070;\"/>"},
        {"US-ASCII", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><centro/>",
         "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>"
         "<centro n=\"&#241; &#8364; &#20013; &#352; &#119070;\"/>"},
        {"windows-1250", "<?xml version=\"1.0\" encoding=\"windows-1250\"?><centro/>",
         "<?xml version=\"1.0\" encoding=\"windows-1250\"?>"
         "<centro n=\"&#241; \x80 &#20013; \x8A &#119070;\"/>"},
        {"UTF-16BE", Utf16Bytes(u"<?xml version=\"1.0\" encoding=\"UTF-16BE\"?><centro/>", true),
         Utf16Bytes(u"<?xml version=\"1.0\" encoding=\"UTF-16BE\"?><centro n=\"ñ € 中 Š 𝄞\"/>", true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestXmlFile document = LoadBytes(c.input);
        EXPECT_EQ(SaveWithRoot(document, [&](XmlStreamWriter& out) {
            out.StartElement("centro");
            out.Attribute("n", "ñ € 中 Š 𝄞");
            out.EndElement();
        }), c.output);
    }
}

TEST_F(XmlReaderTest, SaveTranscodesLongDocumentsWithoutCuttingCharacters)
{
    // Far more than the writer's chunk, with characters of 1 to 4 UTF-8 bytes throughout.
    const int kTimes = 5000;
    struct Case {
        std::string_view name;
        std::string input;
        std::string output;
    };
    std::u16string utf16Row;
    for (int i = 0; i < kTimes; ++i) {
        utf16Row += u"añ€𝄞";
    }
    const Case cases[] = {
        {"ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><centro/>",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><centro n=\"" +
             Repeated("a\xF1&#8364;&#119070;", kTimes) + "\"/>"},
        {"UTF-16", Utf16Bytes(u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><centro/>", false),
         Utf16Bytes(u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><centro n=\"" + utf16Row +
                        u"\"/>",
                    false)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestXmlFile document = LoadBytes(c.input);
        EXPECT_EQ(SaveWithRoot(document, [&](XmlStreamWriter& out) {
            out.StartElement("centro");
            out.Attribute("n", Repeated("añ€𝄞", kTimes));
            out.EndElement();
        }), c.output);
    }
}

TEST_F(XmlReaderTest, SaveReplacesTheTargetWithTheSavedBytes)
{
    // Accented names reach the file system intact on Windows too.
    const fs::path source = WriteFile(fs::path(u8"Núñez.xml"),
                                      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><centro/>");
    const fs::path target = WriteFile(fs::path(u8"ResultadoOrlavisNúñez.xml"), "anterior");
    TestXmlFile document = TestXmlFile::Load(source);
    const auto writeRoot = [](XmlStreamWriter& out) {
        out.StartElement("centro");
        out.Attribute("nombre", "Núñez €");
        out.EndElement();
    };

    SaveXmlFile(target, document.Facts(), writeRoot);

    EXPECT_EQ(ReadFile(target), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><centro nombre=\"N\xFA\xF1" "ez &#8364;\"/>");
    EXPECT_EQ(FilesInFolder(), (std::set<fs::path>{source.filename(), target.filename()}));
}

TEST_F(XmlReaderTest, SaveIntoAMissingFolderFailsAndCreatesNothing)
{
    const TestXmlFile document = LoadBytes("<centro/>");
    const fs::path folder = dir_ / "falta";

    EXPECT_EQ(ErrorMessageOf([&] { SaveXmlFile(folder / "resultado.xml", document.Facts(), [](XmlStreamWriter&) {}); }),
              "No existe la carpeta " + Quoted(folder));
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(XmlReaderTest, SaveOverATargetInUseKeepsTheEarlierFile)
{
    const fs::path target = WriteFile("resultado.xml", "anterior");
    const TestXmlFile document = LoadBytes("<centro/>");
    {
        const File held = File::Open(target, File::Mode::Read);
        EXPECT_EQ(ErrorMessageOf<FileInUseError>([&] { SaveXmlFile(target, document.Facts(), [](XmlStreamWriter&) {}); }),
                  "El archivo " + Quoted(target) + " está en uso por otro programa");
    }
    EXPECT_EQ(ReadFile(target), "anterior");
    EXPECT_EQ(FilesInFolder(), (std::set<fs::path>{"centro.xml", "resultado.xml"}));
}

}  // namespace
}  // namespace pasarela
