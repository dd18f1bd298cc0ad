#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "import/import_run.h"
#include "os/error.h"
#include "os/file.h"
#include "robustness/robustness_test_support.h"
#include "xml/xml_reader.h"
#include "xml/xml_test_support.h"

namespace pasarela {
namespace {

// Two subjects: what every file below holds beside its one fault, so that only the fault
// can be what refuses it.
constexpr std::string_view kSubjects =
    "<materias>\n<dmateria codigo=\"MAT\" nombre=\"Matemáticas\" codigo_actividad=\"LEC\" idmateria=\"901\"/>\n"
    "<dmateria codigo=\"LEC\" nombre=\"Lectiva\" codigo_actividad=\"LEC\" idmateria=\"950\"/>\n</materias>\n";

class NotWellFormedTest : public test::ImportTest {};

// One document per rule of the XML grammar that a lenient reading lets pass. Each is refused
// with its line, column and reason, and the tables of the previous import stay as they were.
TEST_F(NotWellFormedTest, EveryFaultRefusesTheFileAtItsPlaceWithTheTablesUntouched)
{
    Import(SchoolXml(kSubjects));
    const auto tables = Snapshot();
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::string subjects(kSubjects);
    const auto school = [&](std::string_view inside) {
        return declaration + "<centro>\n" + std::string(inside) + subjects + "</centro>\n";
    };
    struct Case {
        std::string name;
        std::string xml;
        std::size_t line;
        std::size_t column;
        std::string reason;
    };
    const std::string invalid = "carácter o marca no válidos";
    const std::string syntax = "error de sintaxis";
    const Case cases[] = {
        {"attribute repeated in an element", school("<aulas a=\"1\" a=\"2\"/>\n"), 3, 14,
         "atributo repetido en el mismo elemento"},
        {"'--' inside a comment", school("<!-- uno -- dos -->\n"), 3, 12, invalid},
        {"comment ending in '--->'", school("<!-- uno --->\n"), 3, 12, invalid},
        {"']]>' in text", school("<aulas>a ]]> b</aulas>\n"), 3, 12, invalid},
        {"XML declaration after a blank", " " + school(""), 1, 2,
         "la declaración XML no está al principio del archivo"},
        {"XML declaration after a comment", "<!-- DASTENO -->" + school(""), 1, 17,
         "la declaración XML no está al principio del archivo"},
        {"XML declaration inside the root", school("<?xml version=\"1.0\"?>\n"), 3, 1,
         "la declaración XML no está al principio del archivo"},
        {"declaration without version", "<?xml encoding=\"UTF-8\"?>\n<centro>" + subjects + "</centro>", 1, 7,
         "declaración XML mal formada"},
        {"declaration with a bad standalone",
         "<?xml version=\"1.0\" standalone=\"quizas\"?>\n<centro>" + subjects + "</centro>", 1, 33,
         "declaración XML mal formada"},
        {"reference to character 0", school("<aulas nombre=\"a&#0;b\"/>\n"), 3, 17,
         "referencia a un carácter que XML no admite"},
        {"reference to a surrogate", school("<aulas>&#xD800;</aulas>\n"), 3, 8,
         "referencia a un carácter que XML no admite"},
        {"form feed", school("<aulas>a\fb</aulas>\n"), 3, 9, invalid},
        {"control character in a value", school("<aulas nombre=\"a\x01z\"/>\n"), 3, 17, invalid},
        {"DOCTYPE without a name", "<!DOCTYPE>\n<centro>" + subjects + "</centro>", 1, 10, invalid},
        {"DOCTYPE whose subset is not closed", "<!DOCTYPE centro [<!ELEMENT centro ANY>\n<centro>" + subjects + "</centro>", 2, 1,
         syntax},
        {"DOCTYPE with a declaration cut short", "<!DOCTYPE centro [<!ENTITY e>]>\n<centro>" + subjects + "</centro>", 1,
         29, syntax},
        {"DOCTYPE after the root", school("") + "<!DOCTYPE centro>\n", 8, 1, "hay contenido después del elemento raíz"},
        {"element name starting with a digit", school("<1aulas/>\n"), 3, 2, invalid},
        {"attribute name starting with a digit", school("<aulas 1a=\"x\"/>\n"), 3, 8, invalid},
        {"'<' in an attribute value", school("<aulas nombre=\"a<b\"/>\n"), 3, 17, invalid},
        {"'&' alone in text", school("<aulas>a & b</aulas>\n"), 3, 11, invalid},
        {"no blank between attributes", school("<aulas a=\"1\"b=\"2\"/>\n"), 3, 13, invalid},
        {"attribute value without quotes", school("<aulas a=1/>\n"), 3, 10, invalid},
        {"undeclared entity", school("<aulas>&nbsp;</aulas>\n"), 3, 8, "referencia a una entidad no declarada"},
        {"processing instruction named xml", school("<?XmL dato?>\n"), 3, 6, invalid},
        {"end tag with an attribute", school("<aulas></aulas a=\"1\">\n"), 3, 16, invalid},
        {"CDATA section before the root", "<![CDATA[x]]><centro>" + subjects + "</centro>", 1, 1, syntax},
        {"text before the root", "texto<centro>" + subjects + "</centro>", 1, 6, invalid},
        {"text after the root", school("") + "texto\n", 8, 1, "hay contenido después del elemento raíz"},
        {"second root", school("") + "<centro/>\n", 8, 1, "hay contenido después del elemento raíz"},
        {"bytes that windows-1252 leaves undefined",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<centro><aulas nombre=\"a\x81\"/>" + subjects + "</centro>", 2,
         25, invalid},
        {"byte above 0x7F in US-ASCII",
         "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<centro><aulas nombre=\"Espa\xF1" "a\"/>" + subjects +
             "</centro>",
         2, 28, invalid},
        {"declared UTF-16, written in bytes", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<centro>" + subjects + "</centro>", 1,
         31, "la codificación declarada no corresponde a la del archivo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectNotWellFormed(c.xml, c.line, c.column, c.reason, tables);
    }
}

// What XML allows, however seldom a school's file has it, is imported.
TEST_F(NotWellFormedTest, WellFormedFilesOfEveryShapeAreImported)
{
    const std::string subjects(kSubjects);
    struct Case {
        std::string name;
        std::string xml;
    };
    const Case cases[] = {
        {"comments, instructions and CDATA around the data",
         "<!-- DASTENO -->\n<?dasteno v1?>\n<centro><![CDATA[<x>]]><?otra?>" + subjects + "<!-- fin --></centro>"},
        {"blanks around '=' and single quotes", "<centro\n\tversion = '1'\n>" + subjects + "</centro >"},
        {"names with accented letters", "<centro><año/>" + subjects + "<ñ:x/></centro>"},
        {"the highest character", "<centro nota=\"&#x10FFFF;\">" + subjects + "</centro>"},
        {"DOCTYPE naming a DTD that is never read", "<!DOCTYPE centro SYSTEM \"centro.dtd\">\n<centro>" + subjects + "</centro>"},
        {"DOCTYPE with an internal subset",
         "<!DOCTYPE centro [<!ELEMENT centro ANY><!ATTLIST centro version CDATA #IMPLIED>]>\n<centro>" + subjects +
             "</centro>"},
        {"NULs padding the end", "<centro>" + subjects + "</centro>\n" + std::string(16, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Import(c.xml);
        EXPECT_EQ(ReadColumn("ASIGNOMT", "COD"), (std::vector<std::string>{"MAT", "LEC"}));
    }
}

}  // namespace
}  // namespace pasarela
