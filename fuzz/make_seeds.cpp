// Writes the starting corpus of each harness from what we know real files look like: the
// example school and small variants of it, the tables its import writes, and tables in
// the dBase III, IV, 7, FoxPro and Visual FoxPro layouts we read.
//
//   make_seeds SOURCE_DIR OUTPUT_DIR   (OUTPUT_DIR/dbf, OUTPUT_DIR/import, OUTPUT_DIR/export)
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "dbf/dbf_table.h"
#include "import/import_run.h"
#include "os/error.h"

namespace {

namespace fs = std::filesystem;

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw pasarela::Error("cannot write " + path.string());
}

struct FieldBytes {
    std::string name;
    char type;
    int width;
    int decimals = 0;
};

void PutLe(std::string& bytes, std::size_t at, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A table laid out byte by byte, for the layouts our own writer never produces. Rows give
// each field's stored bytes, blank-filled to the width.
std::string TableBytes(std::uint8_t version, const std::vector<FieldBytes>& fields,
                       const std::vector<std::vector<std::string>>& rows)
{
    const bool level7 = (version & 0x07) == 0x04;
    const bool visualFoxPro = version >= 0x30 && version <= 0x32;
    const std::size_t descriptorSize = level7 ? 48 : 32;
    std::string head(level7 ? 68 : 32, '\0');
    head[0] = static_cast<char>(version);
    head[1] = 124;
    head[2] = 5;
    head[3] = 6;
    PutLe(head, 4, static_cast<std::uint32_t>(rows.size()), 4);
    std::uint32_t recordLength = 1;
    for (const FieldBytes& f : fields)
        recordLength += static_cast<std::uint32_t>(f.width);
    PutLe(head, 10, recordLength, 2);
    if (level7)
        head.replace(32, 8, "DBWINUS0");
    else
        head[29] = 0x57;
    std::uint32_t offset = 1;
    for (const FieldBytes& f : fields) {
        std::string descriptor(descriptorSize, '\0');
        descriptor.replace(0, f.name.size(), f.name);
        descriptor[level7 ? 32 : 11] = f.type;
        descriptor[level7 ? 33 : 16] = static_cast<char>(f.width & 0xFF);
        descriptor[level7 ? 34 : 17] = static_cast<char>(f.decimals);
        if (visualFoxPro)
            PutLe(descriptor, 12, offset, 4);
        offset += static_cast<std::uint32_t>(f.width);
        head += descriptor;
    }
    head += '\x0D';
    if (visualFoxPro)
        head += std::string(263, '\0');
    PutLe(head, 8, static_cast<std::uint32_t>(head.size()), 2);
    std::string file = head;
    for (const auto& row : rows) {
        file += ' ';
        for (std::size_t i = 0; i < fields.size(); ++i) {
            std::string cell = i < row.size() ? row[i] : "";
            cell.resize(static_cast<std::size_t>(fields[i].width), ' ');
            file += cell;
        }
    }
    return file + '\x1A';
}

std::string Binary(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

void WriteDbfSeeds(const fs::path& importedTables, const fs::path& out)
{
    for (const std::string& table : pasarela::ImportedTableNames())
        fs::copy_file(importedTables / (std::string(table) + ".DBF"), out / (std::string(table) + ".DBF"),
                      fs::copy_options::overwrite_existing);
    const std::vector<FieldBytes> classic = {
        {"CODIGO", 'C', 10}, {"HORAS", 'N', 5, 2}, {"ACTIVO", 'L', 1}, {"ALTA", 'D', 8}, {"PESO", 'F', 8, 3}};
    const std::vector<std::vector<std::string>> classicRows = {
        {"MAT", " 2.50", "T", "20240506", "   1.250"}, {"LENGUA", "     ", "?", "        ", "********"}};
    WriteBytes(out / "dbase3.dbf", TableBytes(0x03, classic, classicRows));
    WriteBytes(out / "dbase4.dbf", TableBytes(0x8B, classic, classicRows));
    WriteBytes(out / "foxpro.dbf", TableBytes(0xF5, classic, classicRows));
    const std::vector<FieldBytes> level7 = {
        {"CODIGO", 'C', 10}, {"NUM", 'I', 4}, {"AUTO", '+', 4}, {"IMPORTE", 'O', 8}, {"MOMENTO", '@', 8}};
    WriteBytes(out / "dbase7.dbf",
               TableBytes(0x04, level7,
                          {{"MAT", Binary({0x80, 0, 0, 30}), Binary({0x80, 0, 0, 1}),
                            Binary({0xC0, 0x04, 0, 0, 0, 0, 0, 0}), Binary({0x42, 0xCC, 0x6E, 0x3B, 0x2C, 0, 0, 0})}}));
    const std::vector<FieldBytes> visual = {{"CODIGO", 'C', 10}, {"NUM", 'I', 4}, {"DOBLE", 'B', 8},
                                            {"MONEDA", 'Y', 8},  {"CUANDO", 'T', 8}, {"VAR", 'V', 10}};
    WriteBytes(out / "vfp.dbf",
               TableBytes(0x30, visual,
                          {{"MAT", Binary({30, 0, 0, 0}), Binary({0, 0, 0, 0, 0, 0, 0x04, 0x40}),
                            Binary({0x10, 0x27, 0, 0, 0, 0, 0, 0}), Binary({0x8C, 0x8A, 0x25, 0, 0x80, 0xEE, 0x36, 0}),
                            "abc"}}));
}

// The first non-empty value of a field, so timetable seeds use codes the school has.
std::vector<std::string> Codes(const fs::path& table, const char* field)
{
    pasarela::DbfTable dbf = pasarela::DbfTable::Open(table);
    const std::size_t index = dbf.FieldIndex(field);
    std::vector<std::string> codes;
    for (dbf.First(); !dbf.Eof() && codes.size() < 4; dbf.Next())
        if (std::string code = dbf.AsString(index); !code.empty())
            codes.push_back(code);
    if (codes.empty())
        throw pasarela::Error(table.string() + " has no " + field);
    return codes;
}

void WriteExportSeeds(const fs::path& importedTables, const fs::path& out)
{
    const auto groups = Codes(importedTables / "GRUPOST.DBF", "ABREV");
    const auto subjects = Codes(importedTables / "ASIGNOMT.DBF", "COD");
    const auto teachers = Codes(importedTables / "PROFT.DBF", "ABREV");
    const auto rooms = Codes(importedTables / "AULAT.DBF", "ABREV");
    const std::vector<FieldBytes> fields = {{"DIA", 'N', 2},      {"HORA", 'N', 4, 1}, {"SESIONES", 'C', 5},
                                            {"CODGRUPO", 'C', 10}, {"ASIG", 'C', 10},  {"TAREA", 'C', 10},
                                            {"PROF", 'C', 10},     {"AULA", 'C', 10}};
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < 6; ++i) {
        const auto at = static_cast<std::size_t>(i);
        rows.push_back({" " + std::to_string(1 + i % 5), " " + std::to_string(1 + i % 6) + ".0", "1",
                        groups[at % groups.size()], subjects[at % subjects.size()], i % 2 ? "LECT" : "GUAR",
                        teachers[at % teachers.size()], rooms[at % rooms.size()]});
    }
    rows.push_back({" 0", " 0.0", "", "", "???", "", "", ""});
    rows.push_back({" 1", " 2.5", "11", "NOEXISTE", subjects[0], "OTRA", "NOEXISTE", "NOEXISTE"});
    WriteBytes(out / "soluc-dbase3.dbf", TableBytes(0x03, fields, rows));

    // The layout Orlavi's own engine writes: integer day, double hour.
    const pasarela::FieldSpec level7[] = {
        {"DIA", pasarela::FieldKind::Integer, 0},      {"HORA", pasarela::FieldKind::Float, 0},
        {"SESIONES", pasarela::FieldKind::Character, 5}, {"CODGRUPO", pasarela::FieldKind::Character, 10},
        {"ASIG", pasarela::FieldKind::Character, 10},    {"TAREA", pasarela::FieldKind::Character, 10},
        {"PROF", pasarela::FieldKind::Character, 10},    {"AULA", pasarela::FieldKind::Character, 10}};
    const fs::path path = out / "soluc-dbase7.dbf";
    pasarela::DbfTable::Create(path, level7);
    pasarela::DbfTable::OpenOptions options;
    options.access = pasarela::DbfTable::Access::ReadWrite;
    pasarela::DbfTable table = pasarela::DbfTable::Open(path, options);
    for (const auto& row : rows) {
        table.Append();
        table.SetString(0, row[0].substr(row[0].find_first_not_of(' ')));
        table.SetString(1, row[1].substr(row[1].find_first_not_of(' ')));
        for (std::size_t field = 2; field < row.size(); ++field)
            table.SetString(field, row[field]);
        table.Post();
    }
    table.Close();
}

void WriteImportSeeds(const fs::path& example, const fs::path& out)
{
    fs::copy_file(example, out / "centro.xml", fs::copy_options::overwrite_existing);
    const std::string small =
        "<centro codigo_interno=\"1\" nombre=\"N\" curso=\"2026/2027\" version=\"1\">"
        "<materias><dmateria codigo=\"MAT\" nombre=\"Matemáticas\" codigo_actividad=\"LEC\" idmateria=\"901\"/>"
        "<dmateria codigo=\"LEC\" nombre=\"Lectiva\" codigo_actividad=\"LEC\" idmateria=\"950\"/></materias>"
        "<profesores><profesor codigo=\"ARG\" nombre=\"Ana\" apellido1=\"Ruiz\" apellido2=\"Gil\" documento=\"X1\" "
        "idprofesor=\"501\"/><profesor codigo=\"arg\" nombre=\"Luis\" apellido1=\"Mora\" idprofesor=\"502\"/>"
        "</profesores><aulas><daula codigo=\"A1\" nombre=\"Aula 1\" capacidad_alumnos=\"30\" idaula=\"9001\"/>"
        "<daula codigo=\"\" nombre=\"Laboratorio\" capacidad_alumnos=\"\" idaula=\"9002\"/></aulas>"
        "<grupos><dgrupo codigo=\"2BACH-CIEN-A\" nombre=\"2 BACH\" codigo_nivel=\"BACH\" curso=\"2\" cgrupo=\"A\" "
        "idgrupo=\"7001\" idcurso=\"301\"/><dgrupo codigo=\"2BACH-CIEN-B\" nombre=\"2 BACH B\" codigo_nivel=\"BACH\" "
        "curso=\"2\" cgrupo=\"B\" idgrupo=\"7002\" idcurso=\"301\"/></grupos>"
        "<franjashorarias><franjahoraria dia_semana=\"1\" posicion=\"1\" hora_inicio=\"08:00\" hora_final=\"08:55\"/>"
        "<franjahoraria dia_semana=\"7\" posicion=\"2\" hora_inicio=\"08:55\" hora_final=\"09:50\"/></franjashorarias>"
        "<asignaturas><dasignatura cgrupo=\"7001\" casig=\"901\" cprofe=\"501\" conexion=\"\" nhoras=\"2,5\"/>"
        "<dasignatura cgrupo=\"7002\" casig=\"950\" cprofe=\"502\" conexion=\"1\" nhoras=\"15\"/></asignaturas>"
        "</centro>\n";
    WriteBytes(out / "small-utf8.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + small);
    WriteBytes(out / "small-bom.xml", "\xEF\xBB\xBF" + small);
    WriteBytes(out / "small-doctype.xml",
               "<?xml version=\"1.0\"?><!DOCTYPE centro [<!ENTITY e \"x\">]><!-- c --><?pi x?>" + small);
    // What the reader's own scanner takes besides: CR LF and tabs inside values, references,
    // comments, instructions and CDATA inside and around the root, NUL padding at the end.
    WriteBytes(out / "small-markup.xml",
               "<?xml version='1.0' encoding='utf-8' standalone='yes'?>\r\n<!-- antes\r\n -->\r\n"
               "<?dasteno version=\"2\"\r\n?><?vacia?>\r\n<centro codigo_interno = '1' nombre=\"A&amp;B &#10;\r\nC\tD &#x9;&lt;&gt;&apos;&quot;\">"
               "\r\n\t<materias><!-- dentro --><?pi dentro?><![CDATA[ <no> ]] ]]>&#241;&#x20AC; ñ €"
               "<dmateria codigo=\"M\" nombre=\"Matemáticas 𝔸\" /></materias ></centro>\r\n<!-- después -->"
               "<?fin?>\r\n" + std::string(3, '\0'));
    // The same school in UTF-16 little endian, as some exports are saved.
    std::string wide = "\xFF\xFE";
    for (char c : "<?xml version=\"1.0\" encoding=\"UTF-16\"?><centro><materias/></centro>")
        if (c != '\0')
            wide += std::string{c, '\0'};
    WriteBytes(out / "small-utf16.xml", wide);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: make_seeds SOURCE_DIR OUTPUT_DIR\n";
        return 64;
    }
    const fs::path source = argv[1];
    const fs::path out = argv[2];
    try {
        for (const char* harness : {"dbf", "import", "export"})
            fs::create_directories(out / harness);
        const fs::path work = out / "work";
        fs::remove_all(work);
        fs::create_directories(work / "VTEMP");
        pasarela::ImportOptions options;
        options.xmlFile = source / "examples" / "centro.xml";
        options.workingDir = work / "VTEMP";
        pasarela::RunImport(options);

        WriteImportSeeds(options.xmlFile, out / "import");
        WriteDbfSeeds(options.workingDir, out / "dbf");
        WriteExportSeeds(options.workingDir, out / "export");
        for (const auto& seed : fs::directory_iterator(out / "export"))
            fs::copy_file(seed.path(), out / "dbf" / seed.path().filename(), fs::copy_options::overwrite_existing);
        fs::remove_all(work);
    } catch (const std::exception& e) {
        std::cerr << "make_seeds: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
