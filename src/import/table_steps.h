#pragma once

#include <memory>
#include <string>

#include "import/import_context.h"
#include "import/table_registry.h"

namespace pasarela {

// The steps of an import, one per table (see kImportedTables for their order). Each
// creates `table` with its fields; the run then hands it its entries as the file is read,
// and finishes the steps in this order once the file has been read.
std::unique_ptr<SectionStep> BuildSubjectsTable(ImportContext& context, const ImportedTable& table);     // ASIGNOMT
std::unique_ptr<SectionStep> BuildTeachersTable(ImportContext& context, const ImportedTable& table);     // PROFT
std::unique_ptr<SectionStep> BuildRoomsTable(ImportContext& context, const ImportedTable& table);        // AULAT
std::unique_ptr<SectionStep> BuildGroupsTable(ImportContext& context, const ImportedTable& table);       // GRUPOST
std::unique_ptr<SectionStep> BuildTimeSlotsTable(ImportContext& context, const ImportedTable& table);    // DIASHORAST
std::unique_ptr<SectionStep> BuildAssignmentsTable(ImportContext& context, const ImportedTable& table);  // ASIGT

// The width of ASIGT's SESIONES: a text longer than this is cut and reported.
constexpr int kSessionsWidth = 20;

// The SESIONES text of an assignment of `hours` weekly hours.
std::string SessionsText(double hours);

}  // namespace pasarela
