#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "import/import_test_support.h"
#include "robustness/robustness_test_support.h"

// The files the golden outcomes are kept for: DASTENO files of every shape, size and
// encoding we know of, and files that are broken or hostile in every way we could think
// of. Every file is built here, the same bytes on every run, so the golden table needs no
// corpus beside it; changing a file here changes its outcome, which then has to be
// recorded again (see golden_outcomes_test.cpp).
namespace pasarela::test::golden {

struct CorpusFile {
    std::string name;
    std::string bytes;
};

// A deterministic pseudo-random sequence (an LCG): the same mutations on every machine.
class Sequence {
public:
    explicit Sequence(std::uint32_t seed) : state_(seed) {}
    std::uint32_t Next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : Next() % bound; }

private:
    std::uint32_t state_;
};

inline std::string Utf8ToUtf16(std::string_view utf8, bool bigEndian)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const Utf8Char c = ReadUtf8Char(utf8.substr(i));
        i += c.length == 0 ? 1 : c.length;
        const auto put = [&](char32_t unit) {
            const char high = static_cast<char>((unit >> 8) & 0xFF);
            const char low = static_cast<char>(unit & 0xFF);
            out += bigEndian ? high : low;
            out += bigEndian ? low : high;
        };
        char32_t cp = c.codePoint >= kMalformedUtf8 ? 0xFFFD : c.codePoint;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

// The text with its XML declaration's encoding replaced (or a declaration added).
inline std::string Declared(std::string_view xml, std::string_view encoding)
{
    std::string body(xml);
    if (body.starts_with("<?xml")) {
        body.erase(0, body.find("?>") + 2);
        while (!body.empty() && (body[0] == '\n' || body[0] == '\r'))
            body.erase(0, 1);
    }
    return "<?xml version=\"1.0\" encoding=\"" + std::string(encoding) + "\"?>\n" + body;
}

// A school in the shape the benchmark generates: every section repeated once per school,
// so entries of the early sections come after assignments of an earlier school.
inline std::string MergedSchools(int schools, int assignments)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<centro codigo_interno=\"99990000\" "
                      "nombre=\"Centros de prueba\" curso=\"2026/2027\" version=\"1.0\">\n";
    Sequence pick(7);
    for (int number = 1; number <= schools; ++number) {
        const std::string tag = std::to_string(number);
        xml += "<!-- centro " + tag + " -->\n<materias>\n";
        for (int i = 0; i < 6; ++i)
            xml += EntryXml("dmateria", {{"codigo", "S" + tag + "M" + std::to_string(i)},
                                         {"nombre", "Materia " + std::to_string(i) + " del centro " + tag},
                                         {"codigo_actividad", "ACT" + tag + std::to_string(i % 2)},
                                         {"idmateria", std::to_string(number * 1000 + i)}});
        for (int i = 0; i < 2; ++i)
            xml += EntryXml("dmateria", {{"codigo", "ACT" + tag + std::to_string(i)},
                                         {"nombre", "Actividad " + std::to_string(i)},
                                         {"codigo_actividad", "ACT" + tag + std::to_string(i)},
                                         {"idmateria", std::to_string(number * 1000 + 900 + i)}});
        xml += "</materias>\n<profesores>\n";
        for (int i = 0; i < 5; ++i)
            xml += EntryXml("profesor", {{"codigo", i % 2 ? "P" + std::to_string(i) : "T" + tag + std::to_string(i)},
                                         {"nombre", "Nombre" + std::to_string(i)}, {"apellido1", "Apellido"},
                                         {"apellido2", "Pérez"}, {"documento", tag + "X"},
                                         {"idprofesor", std::to_string(number * 1000 + i)}});
        xml += "</profesores>\n<aulas>\n";
        for (int i = 0; i < 3; ++i)
            xml += EntryXml("daula", {{"codigo", "A" + std::to_string(i)}, {"nombre", "Aula " + std::to_string(i)},
                                      {"capacidad_alumnos", std::to_string(20 + i)},
                                      {"idaula", std::to_string(number * 1000 + i)}});
        xml += "</aulas>\n<grupos>\n";
        for (int i = 0; i < 4; ++i)
            xml += EntryXml("dgrupo", {{"codigo", std::to_string(1 + i / 2) + "ESO" + std::string(1, char('A' + i % 2))},
                                       {"nombre", "Grupo"}, {"codigo_nivel", "ESO"}, {"curso", std::to_string(1 + i / 2)},
                                       {"cgrupo", std::string(1, char('A' + i % 2))},
                                       {"idgrupo", std::to_string(number * 1000 + i)},
                                       {"idcurso", std::to_string(number * 10 + i / 2)}});
        xml += "</grupos>\n<franjashorarias>\n";
        for (int day = 1; day <= 2; ++day)
            for (int position = 1; position <= 3; ++position)
                xml += EntryXml("franjahoraria", {{"dia_semana", std::to_string(day)},
                                                  {"posicion", std::to_string(position)},
                                                  {"hora_inicio", (position < 3 ? "0" : "") + std::to_string(7 + position) + ":00"},
                                                  {"hora_final", (position < 3 ? "0" : "") + std::to_string(7 + position) + ":55"}});
        xml += "</franjashorarias>\n<asignaturas>\n";
        static const char* const kHours[] = {"1", "2", "3", "2.5", "15", "0"};
        for (int i = 0; i < assignments; ++i) {
            // Now and then an identifier of the next school: found only once its sections
            // have been read.
            const int school = pick.Below(5) == 0 ? number + 1 : number;
            xml += EntryXml("dasignatura", {{"cgrupo", std::to_string(school * 1000 + static_cast<int>(pick.Below(4)))},
                                            {"casig", std::to_string(school * 1000 + static_cast<int>(pick.Below(7)))},
                                            {"cprofe", std::to_string(school * 1000 + static_cast<int>(pick.Below(6)))},
                                            {"conexion", pick.Below(3) == 0 ? "C1" : ""},
                                            {"nhoras", kHours[pick.Below(6)]}});
        }
        xml += "</asignaturas>\n";
    }
    return xml + "</centro>\n";
}

// Files written by hand for one behaviour of the reader or of a step each.
inline std::vector<CorpusFile> HandWrittenFiles()
{
    const std::string school = SmallSchool();
    const std::string body = school.substr(school.find("<centro"));
    const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const auto sections = [](std::string_view inner) { return SchoolXml(inner); };
    const std::string materias = "<materias>\n" +
                                 EntryXml("dmateria", {{"codigo", "MAT"}, {"nombre", "Matemáticas"},
                                                       {"codigo_actividad", "LEC"}, {"idmateria", "901"}}) +
                                 EntryXml("dmateria", {{"codigo", "LEC"}, {"nombre", "Lectiva"},
                                                       {"codigo_actividad", "LEC"}, {"idmateria", "950"}}) +
                                 "</materias>\n";
    std::vector<CorpusFile> files = {
        {"small-school", school},
        {"small-school-bad-teacher-code", SmallSchool({.teacher = "ARG", .capacity = "24", .start = "08:55", .hours = "2"})},
        {"small-school-long-teacher-code",
         SmallSchool({.teacher = "ABCDEFGHIJKLMN", .capacity = "24", .start = "08:55", .hours = "2"})},
        {"small-school-bad-capacity", SmallSchool({.teacher = "LMM", .capacity = "muchos", .start = "08:55", .hours = "2"})},
        {"small-school-decimal-capacity",
         SmallSchool({.teacher = "LMM", .capacity = "24,5", .start = "08:55", .hours = "2"})},
        {"small-school-bad-start", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "8:30", .hours = "2"})},
        {"small-school-empty-start", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "", .hours = "2"})},
        {"small-school-seconds", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55:00", .hours = "2"})},
        {"small-school-bad-hours", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55", .hours = "dos"})},
        {"small-school-empty-hours", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55", .hours = ""})},
        {"small-school-half-hours", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55", .hours = "2,5"})},
        {"small-school-point-hours", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55", .hours = "2.5"})},
        {"small-school-zero-hours", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55", .hours = "0"})},
        {"small-school-negative-hours", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55", .hours = "-3"})},
        {"small-school-30-hours", SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55", .hours = "30"})},
        {"small-school-huge-hours",
         SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55", .hours = "99999999999"})},
        // Two faults in different steps: the earlier step's fault is the one reported,
        // wherever it stands in the file.
        {"two-faults-steps-order",
         SmallSchool({.teacher = "LMM", .capacity = "muchos", .start = "8:30", .hours = "dos"})},
        {"two-faults-late-early-step",
         sections("<asignaturas>\n" +
                  EntryXml("dasignatura", {{"cgrupo", "1"}, {"casig", "2"}, {"cprofe", "3"}, {"conexion", ""}, {"nhoras", "x"}}) +
                  EntryXml("dasignatura", {{"cgrupo", "1"}, {"casig", "2"}, {"cprofe", "3"}, {"conexion", ""}, {"nhoras", "y"}}) +
                  "</asignaturas>\n<franjashorarias>\n" +
                  EntryXml("franjahoraria", {{"dia_semana", "a"}, {"posicion", "1"}, {"hora_inicio", "08:00"}, {"hora_final", "08:55"}}) +
                  EntryXml("franjahoraria", {{"dia_semana", "1"}, {"posicion", "2"}, {"hora_inicio", "08:00"}, {"hora_final", "08:55"}}) +
                  "</franjashorarias>\n")},
        {"two-faults-same-step",
         sections("<franjashorarias>\n" +
                  EntryXml("franjahoraria", {{"dia_semana", "1"}, {"posicion", "x"}, {"hora_inicio", "08:00"}, {"hora_final", "08:55"}}) +
                  EntryXml("franjahoraria", {{"dia_semana", "y"}, {"posicion", "2"}, {"hora_inicio", "08:00"}, {"hora_final", "08:55"}}) +
                  "</franjashorarias>\n")},
        {"fault-and-not-well-formed",
         SmallSchool({.teacher = "LMM", .capacity = "24", .start = "08:55", .hours = "dos"}) + "<otro/>"},
        {"wrong-root-and-not-well-formed", "<escuela><materias></escuela>"},
        {"empty-centro", decl + "<centro/>\n"},
        {"centro-no-sections", decl + "<centro codigo_interno=\"1\" nombre=\"N\" curso=\"C\" version=\"1\">\n</centro>\n"},
        {"only-subjects", sections(materias)},
        {"only-activities",
         sections("<materias>\n" +
                  EntryXml("dmateria", {{"codigo", "LEC"}, {"nombre", "Lectiva"}, {"codigo_actividad", "LEC"}, {"idmateria", "1"}}) +
                  EntryXml("dmateria", {{"codigo", "GUA"}, {"nombre", "Guardia"}, {"codigo_actividad", "GUA"}, {"idmateria", "2"}}) +
                  "</materias>\n")},
        {"single-entries",
         sections("<materias>" + EntryXml("dmateria", {{"codigo", "M"}, {"nombre", "N"}, {"codigo_actividad", "A"}, {"idmateria", "1"}}) +
                  "</materias><profesores>" + EntryXml("profesor", {{"codigo", "P"}, {"idprofesor", "1"}}) +
                  "</profesores><aulas>" + EntryXml("daula", {{"codigo", "A"}, {"idaula", "1"}}) +
                  "</aulas><grupos>" + EntryXml("dgrupo", {{"codigo", "G"}, {"idgrupo", "1"}}) +
                  "</grupos><franjashorarias>" +
                  EntryXml("franjahoraria", {{"dia_semana", "x"}, {"posicion", "1"}, {"hora_inicio", "08:00"}, {"hora_final", "08:55"}}) +
                  "</franjashorarias><asignaturas>" +
                  EntryXml("dasignatura", {{"cgrupo", "1"}, {"casig", "1"}, {"cprofe", "1"}, {"nhoras", "x"}}) +
                  "</asignaturas>")},
        {"single-entry-in-two-sections",
         sections("<profesores>" + EntryXml("profesor", {{"codigo", "P"}, {"idprofesor", "1"}}) +
                  "</profesores><profesores>" + EntryXml("profesor", {{"codigo", "Q"}, {"idprofesor", "2"}}) +
                  "</profesores>")},
        {"missing-attributes",
         sections(materias + "<profesores><profesor/><profesor codigo=\"X\"/></profesores><aulas><daula/><daula/></aulas>"
                             "<grupos><dgrupo/><dgrupo/></grupos><asignaturas><dasignatura casig=\"901\" nhoras=\"1\"/>"
                             "<dasignatura casig=\"950\" nhoras=\"1\"/></asignaturas>")},
        {"blanks-around-values",
         sections("<materias><dmateria codigo=\"  MAT\t\" nombre=\"\n Matemáticas \" codigo_actividad=\" LEC \" "
                  "idmateria=\" 901 \"/><dmateria codigo=\"LEC\" nombre=\"Lectiva\" codigo_actividad=\"LEC\" "
                  "idmateria=\"950\"/></materias>")},
        {"attribute-normalisation",
         sections("<materias><dmateria codigo=\"A&#9;B\" nombre=\"uno\r\ndos\tTres\rcuatro&#10;cinco&#13;seis\" "
                  "codigo_actividad=\"LEC\" idmateria=\"9&#x30;1\"/><dmateria codigo=\"LEC\" nombre=\"L&amp;L &lt;&gt;&quot;&apos;\" "
                  "codigo_actividad=\"LEC\" idmateria=\"950\"/></materias>")},
        {"character-references",
         sections("<profesores><profesor codigo=\"&#x00D1;U\" nombre=\"&#233;&#xE9;&#8364;&#x1F600;\" "
                  "idprofesor=\"1\"/><profesor codigo=\"&#945;&#946;\" nombre=\"&#x4E2D;\" idprofesor=\"2\"/></profesores>")},
        {"values-beyond-windows-1252",
         sections("<profesores><profesor codigo=\"Ωμέγα\" nombre=\"Łukasz\" apellido1=\"中文\" idprofesor=\"1\"/>"
                  "<profesor codigo=\"€uro\" nombre=\"½\" idprofesor=\"2\"/></profesores>")},
        {"long-values",
         sections("<profesores><profesor codigo=\"P\" nombre=\"" + std::string(120, 'n') + "\" documento=\"" +
                  std::string(30, '9') + "\" idprofesor=\"12345678901234\"/><profesor codigo=\"Q\" idprofesor=\"2\"/>"
                  "</profesores>")},
        {"comments-pis-cdata-text",
         "<?xml version=\"1.0\"?>\n<!-- antes -->\n<?proceso datos?>\n<centro codigo_interno=\"1\" nombre=\"N\" "
         "curso=\"C\" version=\"1\">texto<![CDATA[ <no> ]]><!-- dentro --><?pi x?>" + materias +
         "</centro>\n<!-- despues -->\n<?fin?>\n"},
        {"crlf-lines", [&] {
             std::string crlf;
             for (char c : school) {
                 if (c == '\n')
                     crlf += '\r';
                 crlf += c;
             }
             return crlf;
         }()},
        {"nested-elsewhere",
         sections("<otros><materias>" + materias + "</materias></otros><materias><otro>" + materias +
                  "</otro></materias>")},
        {"entries-with-children",
         sections("<materias><dmateria codigo=\"M\" nombre=\"N\" codigo_actividad=\"A\" idmateria=\"1\"><dmateria "
                  "codigo=\"X\" nombre=\"Y\" codigo_actividad=\"Z\" idmateria=\"2\"/></dmateria><dmateria codigo=\"B\" "
                  "nombre=\"C\" codigo_actividad=\"B\" idmateria=\"3\">texto</dmateria></materias>")},
        {"namespaced", "<?xml version=\"1.0\"?><centro xmlns=\"urn:x\" xmlns:d=\"urn:d\"><d:materias>" + materias +
                           "</d:materias>" + materias + "</centro>"},
        {"interleaved-sections",
         sections("<asignaturas>" +
                  EntryXml("dasignatura", {{"cgrupo", "7001"}, {"casig", "901"}, {"cprofe", "501"}, {"conexion", ""}, {"nhoras", "3"}}) +
                  EntryXml("dasignatura", {{"cgrupo", "7002"}, {"casig", "950"}, {"cprofe", "502"}, {"conexion", ""}, {"nhoras", "2"}}) +
                  "</asignaturas>" + body.substr(body.find("<materias>"), body.find("<asignaturas>") - body.find("<materias>")) +
                  "<materias>" +
                  EntryXml("dmateria", {{"codigo", "NEW"}, {"nombre", "Nueva"}, {"codigo_actividad", "LEC"}, {"idmateria", "950"}}) +
                  "</materias>")},
        {"duplicate-ids",
         sections(materias + "<materias>" +
                  EntryXml("dmateria", {{"codigo", "OTRA"}, {"nombre", "Otra"}, {"codigo_actividad", "LEC"}, {"idmateria", "901"}}) +
                  "</materias><asignaturas>" +
                  EntryXml("dasignatura", {{"cgrupo", "1"}, {"casig", "901"}, {"cprofe", "1"}, {"conexion", "ABCDEF"}, {"nhoras", "1"}}) +
                  EntryXml("dasignatura", {{"cgrupo", ""}, {"casig", "950"}, {"cprofe", ""}, {"conexion", ""}, {"nhoras", "14"}}) +
                  "</asignaturas>")},
        {"subject-code-rules",
         sections("<materias>" +
                  EntryXml("dmateria", {{"codigo", "MAT"}, {"nombre", "Matemáticas"}, {"codigo_actividad", "LEC"}, {"idmateria", "101"}}) +
                  EntryXml("dmateria", {{"codigo", "GUA"}, {"nombre", "Guardia"}, {"codigo_actividad", "GUA"}, {"idmateria", "900"}}) +
                  EntryXml("dmateria", {{"codigo", "MAT"}, {"nombre", "Matemáticas II"}, {"codigo_actividad", "LEC"}, {"idmateria", "102"}}) +
                  EntryXml("dmateria", {{"codigo", "HISTORIA2024"}, {"nombre", "Historia"}, {"codigo_actividad", "LEC"}, {"idmateria", "103"}}) +
                  EntryXml("dmateria", {{"codigo", "HISTORIA1924"}, {"nombre", "Historia del arte"}, {"codigo_actividad", "LEC"}, {"idmateria", "104"}}) +
                  EntryXml("dmateria", {{"codigo", "FISICAYQUIMICA"}, {"nombre", "Historia"}, {"codigo_actividad", "LEC"}, {"idmateria", "105"}}) +
                  EntryXml("dmateria", {{"codigo", "LEC"}, {"nombre", "Lectiva"}, {"codigo_actividad", "LEC"}, {"idmateria", "950"}}) +
                  EntryXml("dmateria", {{"codigo", "mat"}, {"nombre", "minúsculas"}, {"codigo_actividad", "MAT"}, {"idmateria", "106"}}) +
                  EntryXml("dmateria", {{"codigo", ""}, {"nombre", ""}, {"codigo_actividad", ""}, {"idmateria", "107"}}) +
                  EntryXml("dmateria", {{"codigo", ""}, {"nombre", "x"}, {"codigo_actividad", ""}, {"idmateria", "108"}}) +
                  "</materias>")},
        {"room-and-group-codes",
         sections("<aulas>" + EntryXml("daula", {{"codigo", ""}, {"nombre", "Laboratorio"}, {"idaula", "1"}}) +
                  EntryXml("daula", {{"codigo", "LABO"}, {"nombre", "Otro"}, {"idaula", "2"}}) +
                  EntryXml("daula", {{"codigo", "AULAGRANDE-NORTE"}, {"nombre", "G"}, {"idaula", "3"}}) +
                  EntryXml("daula", {{"codigo", "aula"}, {"nombre", "G"}, {"capacidad_alumnos", " 12 "}, {"idaula", "4"}}) +
                  "</aulas><grupos>" + EntryXml("dgrupo", {{"codigo", "2BACH-CIEN-A"}, {"idgrupo", "1"}}) +
                  EntryXml("dgrupo", {{"codigo", "2BACH-CIEN-A"}, {"idgrupo", "2"}}) +
                  EntryXml("dgrupo", {{"codigo", "2BACH-HUMA-A"}, {"idgrupo", "3"}}) +
                  EntryXml("dgrupo", {{"codigo", "1a"}, {"idgrupo", "4"}}) + EntryXml("dgrupo", {{"codigo", "1A"}, {"idgrupo", "5"}}) +
                  "</grupos>")},
        {"time-slot-edges",
         sections("<franjashorarias>" +
                  EntryXml("franjahoraria", {{"dia_semana", "0"}, {"posicion", "1"}, {"hora_inicio", "23:30"}, {"hora_final", "00:15"}}) +
                  EntryXml("franjahoraria", {{"dia_semana", "8"}, {"posicion", "-2"}, {"hora_inicio", "08.00"}, {"hora_final", "08’55"}}) +
                  EntryXml("franjahoraria", {{"dia_semana", "11"}, {"posicion", "1"}, {"hora_inicio", "08:00:00"}, {"hora_final", "08:55:00"}}) +
                  EntryXml("franjahoraria", {{"dia_semana", "1"}, {"posicion", "11"}, {"hora_inicio", " 08:00"}, {"hora_final", "08:55 "}}) +
                  EntryXml("franjahoraria", {{"dia_semana", "+3"}, {"posicion", "0x1A"}, {"hora_inicio", "08:00"}, {"hora_final", "08:55"}}) +
                  "</franjashorarias>")},
        {"doctype-internal-entities",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE centro [\n<!ENTITY mat \"Matemáticas\">\n<!ENTITY lec 'LEC'>\n"
         "<!-- dentro -->\n<?pi en la dtd?>\n<!ELEMENT centro ANY>\n<!ATTLIST dmateria codigo CDATA #IMPLIED>\n]>\n"
         "<!-- tras la dtd -->\n<centro codigo_interno=\"1\" nombre=\"&mat;\" curso=\"C\" version=\"1\"><materias>"
         "<dmateria codigo=\"MAT\" nombre=\"&mat;\" codigo_actividad=\"&lec;\" idmateria=\"1\"/>"
         "<dmateria codigo=\"&lec;\" nombre=\"Lectiva\" codigo_actividad=\"&lec;\" idmateria=\"2\"/></materias></centro>\n"},
        {"doctype-default-attribute",
         "<!DOCTYPE centro [<!ATTLIST profesor documento CDATA \"SIN\">]><centro><profesores>"
         "<profesor codigo=\"A\" idprofesor=\"1\"/><profesor codigo=\"B\" idprofesor=\"2\" documento=\"D\"/>"
         "</profesores></centro>"},
        {"doctype-system", "<!DOCTYPE centro SYSTEM \"dasteno.dtd\">" + body},
        {"doctype-public", "<!DOCTYPE centro PUBLIC \"-//X//DTD//ES\" \"http://example.invalid/d.dtd\">" + body},
        {"doctype-system-entity-use",
         "<!DOCTYPE centro SYSTEM \"dasteno.dtd\"><centro><profesores><profesor codigo=\"&x;\" idprofesor=\"1\"/>"
         "<profesor codigo=\"B\" idprofesor=\"2\"/></profesores></centro>"},
        {"external-entity",
         "<!DOCTYPE centro [<!ENTITY ext SYSTEM \"file:///etc/passwd\">]><centro><profesores><profesor "
         "codigo=\"A\" nombre=\"&ext;\" idprofesor=\"1\"/><profesor codigo=\"B\" idprofesor=\"2\"/></profesores></centro>"},
        {"external-entity-in-text",
         "<!DOCTYPE centro [<!ENTITY ext SYSTEM \"file:///etc/passwd\">]><centro>&ext;</centro>"},
        {"parameter-entity",
         "<!DOCTYPE centro [<!ENTITY % p SYSTEM \"x.dtd\"> %p; <!ENTITY e \"v\">]><centro><profesores><profesor "
         "codigo=\"&e;\" idprofesor=\"1\"/><profesor codigo=\"B\" idprofesor=\"2\"/></profesores></centro>"},
        {"undeclared-entity", sections("<profesores><profesor codigo=\"&nada;\" idprofesor=\"1\"/></profesores>")},
        {"undeclared-entity-in-text", sections("<profesores>&nada;</profesores>")},
        {"recursive-entity", "<!DOCTYPE centro [<!ENTITY a \"&b;\"><!ENTITY b \"&a;\">]><centro a=\"&a;\"/>"},
        {"billion-laughs", [] {
             std::string xml = "<!DOCTYPE centro [<!ENTITY l0 \"lol\">";
             for (int i = 1; i <= 9; ++i)
                 xml += "<!ENTITY l" + std::to_string(i) + " \"" + [&] {
                     std::string refs;
                     for (int j = 0; j < 10; ++j)
                         refs += "&l" + std::to_string(i - 1) + ";";
                     return refs;
                 }() + "\">";
             return xml + "]><centro><profesores><profesor codigo=\"&l9;\" idprofesor=\"1\"/><profesor codigo=\"B\" "
                          "idprofesor=\"2\"/></profesores></centro>";
         }()},
        {"moderate-entity-expansion", [] {
             std::string xml = "<!DOCTYPE centro [<!ENTITY l0 \"ab\">";
             for (int i = 1; i <= 3; ++i)
                 xml += "<!ENTITY l" + std::to_string(i) + " \"&l" + std::to_string(i - 1) + ";&l" +
                        std::to_string(i - 1) + ";\">";
             return xml + "]><centro><profesores><profesor codigo=\"&l3;\" idprofesor=\"1\"/><profesor codigo=\"B\" "
                          "idprofesor=\"2\"/></profesores></centro>";
         }()},
        {"deep-nesting", [] {
             std::string xml = "<centro>";
             for (int i = 0; i < 5000; ++i)
                 xml += "<d>";
             for (int i = 0; i < 5000; ++i)
                 xml += "</d>";
             return xml + "</centro>";
         }()},
        {"deep-nesting-unclosed", "<centro>" + [] {
             std::string xml;
             for (int i = 0; i < 3000; ++i)
                 xml += "<materias>";
             return xml;
         }()},
        {"many-attributes", [] {
             std::string xml = "<centro><profesores><profesor";
             for (int i = 0; i < 40; ++i)
                 xml += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
             return xml + " codigo=\"Z\" idprofesor=\"9\"/><profesor codigo=\"Y\" idprofesor=\"8\"/></profesores></centro>";
         }()},
        {"wrong-root", decl + "<escuela><materias/></escuela>\n"},
        {"wrong-root-case", decl + "<Centro/>\n"},
        {"no-root", decl + "<!-- nada -->\n"},
        {"empty-file", ""},
        {"blanks-only", "   \n\t\r\n"},
        {"bom-only", "\xEF\xBB\xBF"},
        {"not-xml", "Esto no es un archivo XML.\n"},
        {"html", "<html><body><p>Hola</body></html>"},
        {"two-roots", decl + "<centro/><centro/>"},
        {"text-after-root", decl + "<centro/>texto"},
        {"unclosed-root", decl + "<centro>" + materias},
        {"mismatched-tags", decl + "<centro><materias></profesores></centro>"},
        {"duplicate-attribute", sections("<profesores><profesor codigo=\"A\" codigo=\"B\" idprofesor=\"1\"/></profesores>")},
        {"unquoted-attribute", decl + "<centro><profesores><profesor codigo=A/></profesores></centro>"},
        {"lt-in-attribute", decl + "<centro><profesores><profesor codigo=\"a<b\"/></profesores></centro>"},
        {"bare-ampersand", decl + "<centro><profesores><profesor codigo=\"a&b\"/></profesores></centro>"},
        {"bad-char-ref", decl + "<centro><profesores><profesor codigo=\"&#0;\"/></profesores></centro>"},
        {"bad-char-ref-surrogate", decl + "<centro><profesores><profesor codigo=\"&#xD800;\"/></profesores></centro>"},
        {"control-character", decl + "<centro><profesores><profesor codigo=\"a\x01" "b\"/></profesores></centro>"},
        {"invalid-utf8", decl + "<centro nombre=\"\xC3\x28\"><materias/></centro>"},
        {"overlong-utf8", decl + "<centro nombre=\"\xC0\xAF\"/>"},
        {"truncated-utf8-at-end", decl + "<centro/>\xC3"},
        {"latin1-bytes-as-utf8", decl + "<centro nombre=\"Matem\xE1ticas\"/>"},
        {"misplaced-declaration", "\n<?xml version=\"1.0\"?><centro/>"},
        {"bad-declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"quizá\"?><centro/>"},
        {"declaration-version-1.1", "<?xml version=\"1.1\"?><centro/>"},
        {"declaration-standalone", "<?xml version='1.0' encoding='utf-8' standalone='yes'?>\n" + body},
        {"declaration-single-quotes", "<?xml version='1.0' encoding='UTF-8'?>" + body},
        {"unclosed-comment", decl + "<centro><!-- sin cierre </centro>"},
        {"double-dash-comment", decl + "<centro><!-- a -- b --></centro>"},
        {"unclosed-cdata", decl + "<centro><![CDATA[ sin cierre </centro>"},
        {"xml-prefix-pi", decl + "<centro><?xml-stylesheet href=\"a\"?></centro>"},
        {"reserved-prefix", "<centro xmlns:xml=\"urn:otro\"/>"},
        {"nul-inside", decl + std::string("<centro>\0</centro>", 19)},
        {"nul-after-fault", decl + std::string("<centro><a></b>\n\n<x>\0y</x></centro>", 35)},
        {"nul-padding", decl + "<centro/>\n" + std::string(64, '\0')},
        {"nul-padding-blanks", decl + "<centro/>" + std::string("\0 \n\0\t", 5)},
        {"nul-then-text", decl + "<centro/>" + std::string("\0\0x", 3)},
        {"nul-in-attribute-second-line", decl + std::string("<centro\n nombre=\"a\0b\"/>", 23)},
        {"only-nuls", std::string(16, '\0')},
        {"ff-bytes", std::string(8, '\xFF')},
        {"utf16-odd-length", std::string("\xFF\xFE<\0c\0e\0", 8) + "\x01"},
        {"utf16-lone-surrogate", std::string("\xFF\xFE", 2) + Utf8ToUtf16("<centro nombre=\"", false) +
                                     std::string("\x00\xD8", 2) + Utf8ToUtf16("\"/>", false)},
        {"utf16-declared-utf8-bytes", Declared(body, "UTF-16")},
        {"utf8-declared-utf16-bytes", std::string("\xFF\xFE", 2) + Utf8ToUtf16(Declared(body, "UTF-8"), false)},
        {"bom-and-latin1-declared", "\xEF\xBB\xBF" + Declared(body, "ISO-8859-1")},
        {"unsupported-encoding", Declared(body, "Shift_JIS")},
        {"unknown-encoding", Declared(body, "x-nada")},
        {"ebcdic-declared", Declared(body, "EBCDIC-CP-US")},
        {"encoding-spelling-utf8", Declared(body, "utf8")},
        {"encoding-spelling-latin1", Declared(body, "latin1")},
        {"ascii-declared-with-accents", Declared(body, "US-ASCII")},
        {"ascii-declared-char-refs", Declared("<centro nombre=\"Matem&#225;ticas\"/>", "US-ASCII")},
        {"cp1252-undefined-byte", Declared("<centro nombre=\"a\x81" "b\"/>", "windows-1252")},
        {"cp1252-euro", Declared("<centro nombre=\"\x80 y \x93" "comillas\x94\"/>", "windows-1252")},
        {"iso-8859-15-euro", Declared("<centro nombre=\"\xA4\"/>", "ISO-8859-15")},
        {"windows-1250", Declared("<centro nombre=\"\x8A\x9A\"/>", "windows-1250")},
        {"windows-1251", Declared("<centro nombre=\"\xC0\xE0\"/>", "windows-1251")},
        {"iso-8859-2", Declared("<centro nombre=\"\xA1\xB1\"/>", "ISO-8859-2")},
    };
    return files;
}

// Every file of the corpus: the example school, the hand-written files, each of a few
// schools in every encoding, generated schools of several sizes and shapes, and
// deterministic truncations and byte changes of real files.
inline std::vector<CorpusFile> GoldenCorpus(const std::filesystem::path& sourceDir)
{
    std::vector<CorpusFile> corpus;
    const std::string example = ReadBytes(sourceDir / "examples" / "centro.xml");
    corpus.push_back({"example-centro", example});
    for (CorpusFile& file : HandWrittenFiles())
        corpus.push_back(std::move(file));

    for (const int entries : {1, 2, 3, 5, 12, 40})
        corpus.push_back({"generated-" + std::to_string(entries), GeneratedSchool(entries, "g" + std::to_string(entries))});
    for (const auto& [schools, assignments] : std::vector<std::pair<int, int>>{{1, 3}, {2, 5}, {3, 12}, {6, 20}})
        corpus.push_back({"merged-" + std::to_string(schools) + "x" + std::to_string(assignments),
                          MergedSchools(schools, assignments)});

    // The same schools in every encoding a DASTENO file has been seen in.
    const std::string smallUtf8 = SmallSchool();
    const std::string exampleUtf8 = DecodeToUtf8(example, CodePage::Iso8859_1);
    const std::vector<std::pair<std::string, std::string>> encodable = {
        {"small", smallUtf8},
        {"example", Declared(exampleUtf8, "UTF-8")},
        {"generated", GeneratedSchool(4, "codificación")},
        {"accents", SchoolXml("<profesores>" +
                              EntryXml("profesor", {{"codigo", "ÑÜ"}, {"nombre", "José Ángel"}, {"apellido1", "Muñoz"},
                                                    {"apellido2", "Çà"}, {"idprofesor", "1"}}) +
                              EntryXml("profesor", {{"codigo", "ñü"}, {"nombre", "María"}, {"idprofesor", "2"}}) +
                              "</profesores>")},
        {"not-well-formed", Declared("<centro nombre=\"Muñoz\"><materias></centro>", "UTF-8")},
        {"comments-and-pis", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- línea\r\n dos -->\r\n<?pi  con  espacios ?>" +
                                 smallUtf8.substr(smallUtf8.find("<centro")) + "<!-- fin -->"},
    };
    for (const auto& [name, utf8] : encodable) {
        const std::string bare = utf8.starts_with("<?xml") ? utf8.substr(utf8.find("?>") + 2) : utf8;
        corpus.push_back({name + "-utf8", utf8});
        corpus.push_back({name + "-utf8-bom", "\xEF\xBB\xBF" + utf8});
        corpus.push_back({name + "-utf8-undeclared", bare});
        corpus.push_back({name + "-utf16le-bom", "\xFF\xFE" + Utf8ToUtf16(Declared(utf8, "UTF-16"), false)});
        corpus.push_back({name + "-utf16be-bom", "\xFE\xFF" + Utf8ToUtf16(Declared(utf8, "UTF-16"), true)});
        corpus.push_back({name + "-utf16le-nobom", Utf8ToUtf16(Declared(utf8, "UTF-16"), false)});
        corpus.push_back({name + "-utf16be-nobom", Utf8ToUtf16(Declared(utf8, "UTF-16"), true)});
        corpus.push_back({name + "-utf16le-undeclared", "\xFF\xFE" + Utf8ToUtf16(bare, false)});
        corpus.push_back({name + "-utf16le-declared-le", "\xFF\xFE" + Utf8ToUtf16(Declared(utf8, "UTF-16LE"), false)});
        corpus.push_back({name + "-iso-8859-1", Utf8ToWindows1252(Declared(utf8, "ISO-8859-1")).bytes});
        corpus.push_back({name + "-windows-1252", Utf8ToWindows1252(Declared(utf8, "windows-1252")).bytes});
        corpus.push_back({name + "-iso-8859-15", Utf8ToWindows1252(Declared(utf8, "ISO-8859-15")).bytes});
        corpus.push_back({name + "-us-ascii", Utf8ToWindows1252(Declared(utf8, "US-ASCII")).bytes});
    }

    // Real files cut short anywhere and changed byte by byte: not well-formed in every
    // place a reader can meet.
    const std::vector<std::pair<std::string, std::string>> mutable_ = {
        {"small", smallUtf8},
        {"example", example},
        {"utf16", "\xFF\xFE" + Utf8ToUtf16(Declared(smallUtf8, "UTF-16"), false)},
        {"merged", MergedSchools(2, 4)},
    };
    for (const auto& [name, bytes] : mutable_) {
        Sequence sequence(static_cast<std::uint32_t>(bytes.size()));
        for (int cut = 0; cut < 16; ++cut) {
            const std::size_t at = sequence.Below(bytes.size());
            corpus.push_back({name + "-cut-" + std::to_string(at), bytes.substr(0, at)});
        }
        static constexpr char kReplacements[] = {'<', '>', '&', '"', '\0', '\xFF', '\xC3', ' ', '/', '=', '\'', '\n', ';',
                                                 '#', '!', '?'};
        for (int change = 0; change < 28; ++change) {
            const std::size_t at = sequence.Below(bytes.size());
            const char replacement = kReplacements[sequence.Below(sizeof kReplacements)];
            std::string changed = bytes;
            changed[at] = replacement;
            corpus.push_back({name + "-byte-" + std::to_string(at) + "-" +
                                  std::to_string(static_cast<unsigned char>(replacement)),
                              changed});
        }
    }
    return corpus;
}

}  // namespace pasarela::test::golden
