#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_table.h"

namespace pasarela {

// Orlavi's tables as both directions know them: the import builds them, the export looks
// DASTENO's identifiers up in them. Their names as Orlavi spells them, spelled once here.
inline constexpr std::string_view kSubjectsTable = "ASIGNOMT";
inline constexpr std::string_view kTeachersTable = "PROFT";
inline constexpr std::string_view kRoomsTable = "AULAT";
inline constexpr std::string_view kGroupsTable = "GRUPOST";
inline constexpr std::string_view kTimeSlotsTable = "DIASHORAST";
inline constexpr std::string_view kAssignmentsTable = "ASIGT";

// The width of ASIGT's SESIONES: a text longer than this is cut and reported.
constexpr int kSessionsWidth = 20;

// One table an import rebuilds: its name, its fields in the order the file holds them, its
// code (the fields that tell one row from another for the user, by which the report
// compares the table built with the one it replaces), and the fields that keep DASTENO's
// identifiers, which the export gives back for a row found by its code.
struct ImportedTable {
    std::string_view name;
    std::vector<FieldSpec> fields;
    std::vector<std::string_view> codeFields;
    std::vector<std::string_view> idFields;
};

// The tables an import rebuilds, in the order it builds them: the assignments step looks
// up the subjects, teachers and groups tables that the earlier steps have just built.
// Only for use once `main` has started: the field lists are built at start-up.
extern const std::span<const ImportedTable> kImportedTables;

// The names of kImportedTables, in the same order.
std::vector<std::string> ImportedTableNames();

// The only files an import's journal may name: the tables, their indexes and the school
// record (kSchoolRecordName).
std::vector<std::string> JournalFileNames();

// The tables' file names: each name with `extension` (".DBF"), in the registry's order.
std::vector<std::string> TableFileNames(std::string_view extension);

// The indexes that replacing the tables takes away, since they describe the old rows:
// every table's but DIASHORAST's, which Orlavi's own import leaves.
std::vector<std::string> StaleIndexNames();

// The registry's row for `name`; throws Error when the import builds no such table.
const ImportedTable& ImportedTableNamed(std::string_view name);

// SOLUC, Orlavi's timetable, which the export translates: its name and the fields it reads.
struct SolutionTable {
    static constexpr std::string_view kName = "SOLUC";
    static constexpr std::string_view kDay = "DIA", kPeriod = "HORA", kSessions = "SESIONES";
    static constexpr std::string_view kGroupCode = "CODGRUPO", kSubjectCode = "ASIG", kActivityCode = "TAREA";
    static constexpr std::string_view kTeacherCode = "PROF", kRoomCode = "AULA";
};

}  // namespace pasarela
