#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "import/import_run.h"
#include "os/file.h"
#include "workfolder/run_report.h"
#include "xml/xml_reader.h"
#include "xml/xml_test_support.h"

// Helpers shared by the import tests: a working folder per test, DASTENO files written
// from inline XML, and tables read back as text so a whole table compares in one line.
namespace pasarela::test {

using Row = std::vector<std::string>;
using Rows = std::vector<Row>;

// A DASTENO file around the given sections.
inline std::string SchoolXml(std::string_view sections)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<centro>\n" + std::string(sections) + "</centro>\n";
}

// One entry element with its attributes, values escaped; for tests that build entries
// from a table of cases.
inline std::string EntryXml(std::string_view element,
                            std::initializer_list<std::pair<std::string_view, std::string_view>> attributes)
{
    std::string text = "<" + std::string(element);
    for (const auto& [name, value] : attributes) {
        text += " " + std::string(name) + "=\"";
        for (char c : value) {
            switch (c) {
            case '&': text += "&amp;"; break;
            case '<': text += "&lt;"; break;
            case '"': text += "&quot;"; break;
            default: text += c;
            }
        }
        text += "\"";
    }
    return text + "/>\n";
}

// What the tests of a whole run spoil in SmallSchool(), one value at a time.
struct SmallSchoolValues {
    std::string teacher = "LMM";  // the second teacher's code
    std::string capacity = "24";  // the second room's capacity
    std::string start = "08:55";  // the second time slot's start
    std::string hours = "2";      // the second assignment's hours
    std::string schoolCode = "41000001";  // the root's codigo_interno
    std::string schoolName = "IES Ejemplo";
};

// A school with two entries in every section, the least from which every table gets rows.
inline std::string SmallSchool(const SmallSchoolValues& values = {})
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<centro codigo_interno=")" + values.schoolCode + R"(" nombre=")" + values.schoolName + R"(" curso="2013" version="1.0">
<materias>
  <dmateria codigo="MAT" nombre="Matemáticas" codigo_actividad="LEC" idmateria="901"/>
  <dmateria codigo="LEC" nombre="Lectiva" codigo_actividad="LEC" idmateria="950"/>
</materias>
<profesores>
  <profesor codigo="ARG" nombre="Ana" apellido1="Ruiz" apellido2="Gil" documento="X1" idprofesor="501"/>
  <profesor codigo=")" + values.teacher + R"(" nombre="Luis" apellido1="Mora" apellido2="" idprofesor="502"/>
</profesores>
<aulas>
  <daula codigo="A1" nombre="Aula 1" capacidad_alumnos="30" idaula="9001"/>
  <daula codigo="LAB" nombre="Laboratorio" capacidad_alumnos=")" + values.capacity + R"(" idaula="9002"/>
</aulas>
<grupos>
  <dgrupo codigo="1A" nombre="1 ESO A" codigo_nivel="ESO" curso="1" cgrupo="A" idgrupo="7001" idcurso="301"/>
  <dgrupo codigo="1B" nombre="1 ESO B" codigo_nivel="ESO" curso="1" cgrupo="B" idgrupo="7002" idcurso="301"/>
</grupos>
<franjashorarias>
  <franjahoraria dia_semana="1" posicion="1" hora_inicio="08:00" hora_final="08:55"/>
  <franjahoraria dia_semana="1" posicion="2" hora_inicio=")" + values.start + R"(" hora_final="09:50"/>
</franjashorarias>
<asignaturas>
  <dasignatura cgrupo="7001" casig="901" cprofe="501" conexion="" nhoras="3"/>
  <dasignatura cgrupo="7002" casig="901" cprofe="502" conexion="" nhoras=")" + values.hours + R"("/>
</asignaturas>
</centro>
)";
}

// A DASTENO file whose one section `section` holds an `element` per code, with
// `idAttribute` numbered 1, 2, 3...: for the tests of the short-code rules.
inline std::string SectionWithCodes(std::string_view section, std::string_view element, std::string_view idAttribute,
                                    const std::vector<std::string>& codes)
{
    std::string xml = "<" + std::string(section) + ">\n";
    for (std::size_t i = 0; i < codes.size(); ++i)
        xml += EntryXml(element, {{"codigo", codes[i]}, {idAttribute, std::to_string(i + 1)}});
    return SchoolXml(xml + "</" + std::string(section) + ">\n");
}

inline std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Every field of every live record, as AsString gives it.
inline Rows ReadRows(const std::filesystem::path& path)
{
    DbfTable table = DbfTable::Open(path);
    Rows rows;
    for (table.First(); !table.Eof(); table.Next()) {
        Row row;
        for (std::size_t field = 0; field < table.Fields().size(); ++field)
            row.push_back(table.AsString(field));
        rows.push_back(std::move(row));
    }
    return rows;
}

// The report's lines about `table`, "reason | entry" as the report file gives them, in order.
inline std::vector<std::string> NoticeLines(const RunReport& report, std::string_view table)
{
    std::vector<std::string> lines;
    for (const RunReport::Notice& notice : report.Notices())
        if (notice.table == table)
            lines.push_back(notice.reason + " | " + notice.entry);
    return lines;
}

// A test with an Orlavi working folder of its own (VTEMP in the test's folder), removed
// afterwards even on failure.
class ImportTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        if (HasFatalFailure())
            return;
        workDir_ = folder_ / "VTEMP";
        std::filesystem::create_directory(workDir_);
    }

    // Writes a DASTENO file beside the working folder and returns its path.
    std::filesystem::path WriteXml(std::string_view xml, std::string_view name = "dasteno.xml") const
    {
        const auto path = folder_ / name;
        WriteBytes(path, xml);
        return path;
    }

    // Options for importing `xml` into the working folder.
    ImportOptions OptionsFor(std::string_view xml) const
    {
        ImportOptions options;
        options.xmlFile = WriteXml(xml);
        options.workingDir = workDir_;
        return options;
    }

    RunReport Import(std::string_view xml) const { return RunImport(OptionsFor(xml)); }

    Rows ReadTable(std::string_view table) const { return ReadRows(TablePath(table)); }

    // The table holds exactly `expected`, and the report gives it as many rows.
    void ExpectRows(const RunReport& report, std::string_view table, const Rows& expected) const
    {
        EXPECT_EQ(ReadTable(table), expected);
        EXPECT_EQ(report.Rows(std::string(table)), expected.size());
    }

    // The named fields of every row, in the order asked for.
    Rows ReadColumns(std::string_view table, std::initializer_list<std::string_view> fields) const
    {
        DbfTable dbf = DbfTable::Open(TablePath(table));
        std::vector<std::size_t> indexes;
        for (std::string_view field : fields)
            indexes.push_back(dbf.FieldIndex(field));
        Rows rows;
        for (dbf.First(); !dbf.Eof(); dbf.Next()) {
            Row row;
            for (std::size_t index : indexes)
                row.push_back(dbf.AsString(index));
            rows.push_back(std::move(row));
        }
        return rows;
    }

    // One field of every row.
    std::vector<std::string> ReadColumn(std::string_view table, std::string_view field) const
    {
        std::vector<std::string> values;
        for (Row& row : ReadColumns(table, {field}))
            values.push_back(std::move(row[0]));
        return values;
    }

    // Imports `xml` and expects it refused, before any table changes, as not well-formed
    // XML at `line` and `column` for `reason`; the working folder must still be `before`.
    void ExpectNotWellFormed(const std::string& xml, std::size_t line, std::size_t column, const std::string& reason,
                             const std::map<std::string, std::string>& before) const
    {
        const auto path = WriteXml(xml);
        try {
            RunImport(OptionsFor(xml));
            ADD_FAILURE() << "the file was imported";
        } catch (const XmlParseError& e) {
            EXPECT_EQ(std::string(e.what()), "El archivo '" + DisplayPath(path) + "' no es un XML válido (línea " +
                                                 std::to_string(line) + ", columna " + std::to_string(column) +
                                                 "): " + reason);
        }
        EXPECT_EQ(Snapshot(), before);
    }

    std::filesystem::path TablePath(std::string_view table) const { return workDir_ / (std::string(table) + ".DBF"); }

    // Name and bytes of every file directly in the working folder, to show a run left
    // them exactly as they were.
    std::map<std::string, std::string> Snapshot() const
    {
        std::map<std::string, std::string> files;
        for (const auto& item : std::filesystem::directory_iterator(workDir_))
            if (item.is_regular_file())
                files[item.path().filename().string()] = ReadBytes(item.path());
        return files;
    }

    std::filesystem::path workDir_;
};

}  // namespace pasarela::test

namespace pasarela {

using test::EntryXml;
using test::NoticeLines;
using test::Row;
using test::Rows;
using test::SchoolXml;

}  // namespace pasarela
