#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#ifdef __linux__
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "export/export_run.h"
#include "import/import_run.h"
#include "os/error.h"
#include "robustness/robustness_test_support.h"
#include "test_support.h"
#include "xml/xml_reader.h"
#include "xml/xml_test_support.h"

namespace pasarela {
namespace {

// Two subjects, the first one's code and name chosen by the test: what the hostile files
// below put their payload into.
std::string SubjectsXml(std::string_view code, std::string_view name)
{
    return "<materias>\n<dmateria codigo=\"" + std::string(code) + "\" nombre=\"" + std::string(name) +
           "\" codigo_actividad=\"LEC\" idmateria=\"901\"/>\n"
           "<dmateria codigo=\"LEC\" nombre=\"Lectiva\" codigo_actividad=\"LEC\" idmateria=\"950\"/>\n</materias>\n";
}

// Files from anywhere: the import and the export must take each of these in bounded time and
// memory, never crash, never read what a file merely names, and say what they did with it.
class HostileXmlTest : public test::ImportTest {
protected:
    // The time within which any of these files must be dealt with, even by a sanitizer
    // build; an expansion or a quadratic walk would take minutes.
    static constexpr std::chrono::seconds kBounded{20};

    template <typename Action>
    void ExpectBounded(Action action)
    {
        const auto start = std::chrono::steady_clock::now();
        action();
        EXPECT_LT(std::chrono::steady_clock::now() - start, kBounded);
    }
};

TEST_F(HostileXmlTest, DeepNestingIsReadSelectedSavedAndFreedWithoutRecursion)
{
    // A Windows program's main thread has 1 MiB of stack: a frame per level would not fit.
    for (const int depth : {100'000, 1'000'000}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        std::string nested;
        nested.reserve(static_cast<std::size_t>(depth) * 7);
        for (int i = 1; i < depth; ++i)
            nested += "<x>";
        nested += "<x/>";  // as saving writes an empty element
        for (int i = 1; i < depth; ++i)
            nested += "</x>";
        // No blanks between elements, so that saving gives back every byte.
        const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
        const std::string xml = declaration + "<centro><materias>" + nested +
                                "<dmateria codigo=\"MAT\" nombre=\"Matemáticas\" codigo_actividad=\"LEC\" "
                                "idmateria=\"901\"/><dmateria codigo=\"LEC\" nombre=\"Lectiva\" "
                                "codigo_actividad=\"LEC\" idmateria=\"950\"/></materias></centro>";
        const auto path = WriteXml(xml);

        ExpectBounded([&] {
            test::TestXmlFile document = test::TestXmlFile::Load(path);
            EXPECT_EQ(document.SelectElements("/centro/materias/dmateria").size(), 2u);
            EXPECT_EQ(document.SelectElements("/centro/materias/x/x/x").size(), 1u);
            EXPECT_TRUE(document.SaveToString(folder_ / "guardado.xml") == xml) << "the saved document differs from the file";
            document.RemoveRoot();
            EXPECT_EQ(document.SaveToString(folder_ / "guardado.xml"), declaration);
        });
        ExpectBounded([&] { Import(xml); });
        EXPECT_THAT(ReadColumn("ASIGNOMT", "COD"), ElementsAre("MAT", "LEC"));

        test::WriteSolution(workDir_ / "SOLUC.DBF", 0, 1);
        ExportOptions options;
        options.xmlFile = path;
        options.workingDir = workDir_;
        ExpectBounded([&] { RunExport(options); });
        EXPECT_THAT(test::ReadBytes(ExportOutputPath(path)), AllOf(HasSubstr("<solucion_horario/>"), Not(HasSubstr("<x>"))));
    }
}

TEST_F(HostileXmlTest, MegabyteValuesAreCutToTheirFieldsAndReported)
{
    const std::string huge(1 << 20, 'N');
    RunReport report;
    ExpectBounded([&] { report = Import(SchoolXml(SubjectsXml(huge, huge))); });
    EXPECT_THAT(ReadTable("ASIGNOMT").front(),
                ElementsAre("NNNNNNNNNN", "NNNNNNNNNN", std::string(80, 'N'), "LEC", "F", "901"));
    EXPECT_EQ(report.Count("ASIGNOMT", "texto recortado al ancho del campo NOMBRE"), 1u);
}

TEST_F(HostileXmlTest, NestedEntitiesFailFastWithTheTablesUntouched)
{
    Import(SchoolXml(SubjectsXml("MAT", "Matemáticas")));
    const auto tables = Snapshot();
    // Ten times ten, nine levels deep: a billion "lol"s, gigabytes if ever expanded.
    std::string doctype = "<!DOCTYPE centro [\n<!ENTITY lol0 \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        std::string value;
        for (int i = 0; i < 10; ++i)
            value += "&lol" + std::to_string(level - 1) + ";";
        doctype += "<!ENTITY lol" + std::to_string(level) + " \"" + value + "\">\n";
    }
    doctype += "]>\n";
    for (const std::string_view where : {"attribute", "text"}) {
        SCOPED_TRACE(where);
        const std::string subjects = where == "attribute" ? SubjectsXml("RISA", "&lol9;")
                                                          : "<materias>&lol9;</materias>";
        const std::string xml = "<?xml version=\"1.0\"?>\n" + doctype + "<centro>" + subjects + "</centro>\n";
        ExpectBounded([&] {
            try {
                Import(xml);
                ADD_FAILURE() << "the file was imported";
            } catch (const XmlParseError& e) {
                EXPECT_THAT(std::string(e.what()),
                            HasSubstr("las entidades declaradas en el archivo se expanden a un texto desmesurado"));
            }
        });
        EXPECT_EQ(Snapshot(), tables);
    }
}

// An entity that contains itself, directly or through others, and a chain of entities
// each naming the one before, tens of thousands deep: a parser that follows references by
// recursion runs out of stack there (the 32-bit Windows build has 1 MiB). Each is refused
// in words of ours, or read, never a crash; run by every build, the Windows one under Wine.
TEST_F(HostileXmlTest, RecursiveAndDeeplyNestedEntityReferencesAreRefusedOrReadWithoutACrash)
{
    Import(SchoolXml(SubjectsXml("MAT", "Matemáticas")));
    const auto tables = Snapshot();
    std::string chain = "<!ENTITY e0 \"x\">\n";
    constexpr int kDepth = 40000;
    for (int level = 1; level <= kDepth; ++level)
        chain += "<!ENTITY e" + std::to_string(level) + " \"&e" + std::to_string(level - 1) + ";\">\n";
    const std::string deepest = "&e" + std::to_string(kDepth) + ";";
    struct Case {
        std::string name;
        std::string declarations;
        std::string subjects;
        std::string refusal;  // what the message says; empty when the file is read
    };
    const std::string recursive = "<!ENTITY a \"&b;\">\n<!ENTITY b \"&c;\">\n<!ENTITY c \"&a;\">\n";
    const Case cases[] = {
        {"recursive, in an attribute", recursive, SubjectsXml("RISA", "&a;"), "una entidad se contiene a sí misma"},
        {"recursive, in text", recursive, "&a;" + SubjectsXml("RISA", "R"),
         "una entidad se contiene a sí misma"},
        {"itself, in an attribute", "<!ENTITY a \"&a;\">\n", SubjectsXml("RISA", "&a;"),
         "una entidad se contiene a sí misma"},
        {"nested deep, in an attribute", chain, SubjectsXml("HONDO", deepest), ""},
        {"nested deep, in text", chain, deepest + SubjectsXml("HONDO", "Hondo"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string xml =
            "<?xml version=\"1.0\"?>\n<!DOCTYPE centro [\n" + c.declarations + "]>\n<centro>" + c.subjects + "</centro>\n";
        ExpectBounded([&] {
            try {
                Import(xml);
                EXPECT_EQ(c.refusal, "") << "the file was imported";
            } catch (const XmlParseError& e) {
                EXPECT_THAT(std::string(e.what()), HasSubstr("no es un XML válido (línea "));
                if (c.refusal.empty())
                    EXPECT_THAT(std::string(e.what()), AnyOf(HasSubstr("desmesurado"), HasSubstr("memoria")));
                else
                    EXPECT_THAT(std::string(e.what()), HasSubstr(c.refusal));
                EXPECT_EQ(Snapshot(), tables);
            }
        });
    }
}

#ifdef __linux__
// A local server that counts on being called: the port a URL in the file points at.
class Listener {
public:
    Listener()
    {
        socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(socket_, 4) != 0 || ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener()
    {
        if (socket_ >= 0)
            ::close(socket_);
    }

    int Port() const { return port_; }
    // Whether anything connected since the listener opened.
    bool WasCalled() const
    {
        const int connection = ::accept(socket_, nullptr, nullptr);
        if (connection < 0)
            return false;
        ::close(connection);
        return true;
    }

private:
    int socket_ = -1;
    int port_ = 0;
};
#endif

TEST_F(HostileXmlTest, ExternalEntitiesAreNeverOpened)
{
    const auto secret = folder_ / "secreto.txt";
    test::WriteBytes(secret, "CONTENIDO-SECRETO");
#ifdef __linux__
    Listener listener;
    ASSERT_NE(listener.Port(), 0) << "cannot listen on the loopback address";
    const std::string url = "http://127.0.0.1:" + std::to_string(listener.Port()) + "/entidad";
#else
    const std::string url = "http://127.0.0.1:9/entidad";
#endif
    const std::string filePath = std::filesystem::absolute(secret).generic_string();
    const std::string doctype = "<!DOCTYPE centro [\n<!ENTITY archivo SYSTEM \"file://" + filePath +
                                "\">\n<!ENTITY ruta SYSTEM \"" + filePath + "\">\n<!ENTITY red SYSTEM \"" + url +
                                "\">\n<!ENTITY % parametro SYSTEM \"" + url + "\">\n%parametro;\n]>\n";
    const std::string xml =
        "<?xml version=\"1.0\"?>\n" + doctype + "<centro>" + SubjectsXml("&ruta;", "&archivo;&red;") + "</centro>\n";

    Import(SchoolXml(SubjectsXml("MAT", "Matemáticas")));
    const auto tables = Snapshot();
    try {
        Import(xml);
        ADD_FAILURE() << "the file was imported";
    } catch (const XmlParseError& e) {
        EXPECT_THAT(std::string(e.what()), AllOf(HasSubstr("un atributo hace referencia a una entidad externa"),
                                                 Not(HasSubstr("SECRETO"))));
    }
    EXPECT_EQ(Snapshot(), tables);
#ifdef __linux__
    EXPECT_FALSE(listener.WasCalled());
#endif
}

TEST_F(HostileXmlTest, InvalidUtf8IsRefusedAtItsPlaceWithTheTablesUntouched)
{
    Import(SchoolXml(SubjectsXml("MAT", "Matemáticas")));
    const auto tables = Snapshot();
    struct Case {
        std::string name;
        std::string value;
        std::size_t column;
    };
    // In `<dmateria codigo="MAT" nombre="...`, whose value starts at column 32.
    const Case cases[] = {
        {"stray continuation byte", "A\x80", 33},
        {"byte never used in UTF-8", "Mat\xFF", 35},
        {"cut sequence", "Mat\xC3(", 35},
        {"encoded surrogate", "\xED\xA0\x80x", 32},
        {"overlong form", "\xC0\xAF", 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            Import(SchoolXml(SubjectsXml("MAT", c.value)));
            ADD_FAILURE() << "the file was imported";
        } catch (const XmlParseError& e) {
            EXPECT_EQ(e.Column(), c.column);
            EXPECT_THAT(std::string(e.what()), HasSubstr("carácter o marca no válidos"));
        }
        EXPECT_EQ(Snapshot(), tables);
    }
}

TEST_F(HostileXmlTest, NulBytesAreRefusedAtTheirPlaceWithTheTablesUntouched)
{
    Import(SchoolXml(SubjectsXml("MAT", "Matemáticas")));
    const auto tables = Snapshot();
    using namespace std::string_literals;
    struct Case {
        std::string name;
        std::string xml;
        std::size_t line;
        std::size_t column;
    };
    const Case cases[] = {
        {"in a value", "<centro>\n<materias a=\"M\0T\"/></centro>"s, 2, 15},
        {"in a name", "<centro>\n<mate\0rias/></centro>"s, 2, 6},
        {"between elements", "<centro>\0<materias/></centro>"s, 1, 9},
        {"before more text after the root", "<centro/>\n\0<centro>otra</centro>"s, 2, 1},
        {"in a UTF-16 file", "\xFF\xFE<\0c\0>\0\0\0<\0/\0c\0>\0"s, 1, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectNotWellFormed(c.xml, c.line, c.column, "contiene un carácter nulo (byte 0), que XML no admite", tables);
    }

    // Padding after the document, as some tools leave, hides nothing and is let through.
    Import(SchoolXml(SubjectsXml("FIS", "Física")) + std::string(64, '\0'));
    EXPECT_EQ(ReadColumn("ASIGNOMT", "COD").front(), "FIS");
}

}  // namespace
}  // namespace pasarela
