#pragma once

#include <string>

#include "import/import_context.h"
#include "import/table_registry.h"

namespace pasarela {

// The steps of an import, one per table (see kImportedTables for their order). Each
// creates `table` with its fields, fills it and sets its row count in the report.
void BuildSubjectsTable(ImportContext& context, const ImportedTable& table);     // ASIGNOMT
void BuildTeachersTable(ImportContext& context, const ImportedTable& table);     // PROFT
void BuildRoomsTable(ImportContext& context, const ImportedTable& table);        // AULAT
void BuildGroupsTable(ImportContext& context, const ImportedTable& table);       // GRUPOST
void BuildTimeSlotsTable(ImportContext& context, const ImportedTable& table);    // DIASHORAST
void BuildAssignmentsTable(ImportContext& context, const ImportedTable& table);  // ASIGT

// The width of ASIGT's SESIONES: a text longer than this is cut and reported.
constexpr int kSessionsWidth = 20;

// The SESIONES text of an assignment of `hours` weekly hours.
std::string SessionsText(double hours);

}  // namespace pasarela
