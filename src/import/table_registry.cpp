#include "import/table_registry.h"

#include "import/table_steps.h"
#include "os/error.h"
#include "workfolder/school_record.h"

namespace pasarela {
namespace {

constexpr auto C = FieldKind::Character;

const ImportedTable kTables[] = {
    {"ASIGNOMT",
     {{"COD", C, 10}, {"CODLARGO", C, 10}, {"NOMBRE", C, 80}, {"CODTAREA", C, 10}, {"ESTAREA", FieldKind::Logical, 0},
      {"IDASIG", C, 10}},
     BuildSubjectsTable, {"COD"}},
    {"PROFT",
     {{"ABREV", C, 10}, {"NOMBRE", C, 80}, {"DEPART", C, 40}, {"EMAIL", C, 100}, {"DNI", C, 14}, {"IDPROF", C, 10}},
     BuildTeachersTable, {"ABREV"}},
    {"AULAT",
     {{"ABREV", C, 10}, {"NOMBRE", C, 80}, {"EDIFICIO", C, 1}, {"MAXALUM", FieldKind::Integer, 0}, {"IDAULA", C, 20}},
     BuildRoomsTable, {"ABREV"}},
    {"GRUPOST",
     {{"ABREV", C, 10}, {"TURNO", C, 1}, {"NIVEL", C, 5}, {"CURSO", C, 3}, {"GRUPO", C, 2}, {"MARCO", C, 1},
      {"IDGRUPO", C, 10}, {"IDCURSO", C, 10}, {"DESCRIP", C, 80}, {"TUTOR", C, 10}},
     BuildGroupsTable, {"ABREV"}},
    {"DIASHORAST",
     {{"DIHO", C, 10}, {"CODDIHO", C, 10}, {"DIA", C, 20}, {"TEXTODIA", C, 20}, {"HORA", C, 8}, {"TEXTOHOR", C, 15},
      {"HORADESDE", C, 8}, {"HORAHASTA", C, 8}, {"MINUTOS", C, 8}, {"MARCO", C, 1}, {"MARCOXML", C, 10},
      {"SESION_ORDEN", FieldKind::Integer, 0}, {"PLANTILLA", C, 20}},
     BuildTimeSlotsTable, {"DIHO"}},
    {"ASIGT",
     {{"CASIG", C, 10}, {"CPROF", C, 10}, {"CGRUP", C, 10}, {"CAULA", C, 10}, {"TURNO", C, 1}, {"NIVEL", C, 5},
      {"CURSO", C, 3}, {"GRUPO", C, 2}, {"HORAS", FieldKind::Float, 0}, {"SESIONES", C, kSessionsWidth},
      {"CTAREA", C, 10}, {"NCONEX", C, 4}, {"IDCURSO", C, 10}, {"IDGRUP", C, 10}, {"IDASIG", C, 10},
      {"IDPROF", C, 10}},
     // An assignment has no code of its own: it is a subject and an activity given by a
     // teacher to a group.
     BuildAssignmentsTable, {"CASIG", "CTAREA", "CPROF", "CGRUP"}},
};

}  // namespace

const std::span<const ImportedTable> kImportedTables = kTables;

std::vector<std::string> ImportedTableNames()
{
    std::vector<std::string> names;
    for (const ImportedTable& table : kImportedTables)
        names.emplace_back(table.name);
    return names;
}

const ImportedTable& ImportedTableNamed(std::string_view name)
{
    for (const ImportedTable& table : kImportedTables)
        if (table.name == name)
            return table;
    throw Error("La importación no construye la tabla '" + std::string(name) + "'");
}

std::vector<std::string> JournalFileNames()
{
    std::vector<std::string> names;
    for (const ImportedTable& table : kImportedTables) {
        names.push_back(std::string(table.name) + ".DBF");
        names.push_back(std::string(table.name) + ".MDX");
    }
    names.push_back(kSchoolRecordName);
    return names;
}

std::vector<std::string> TableFileNames(std::string_view extension)
{
    std::vector<std::string> names;
    for (const ImportedTable& table : kImportedTables)
        names.push_back(std::string(table.name) + std::string(extension));
    return names;
}

std::vector<std::string> StaleIndexNames()
{
    std::vector<std::string> names;
    for (const ImportedTable& table : kImportedTables)
        if (table.name != "DIASHORAST")
            names.push_back(std::string(table.name) + ".MDX");
    return names;
}

}  // namespace pasarela
