#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "import/section_step.h"
#include "import/table_registry.h"

namespace pasarela {

// The steps of an import, one per table (kImportedTables gives their order, StepFor which
// builds which). Each creates `table` with its fields; the run then hands it its entries as
// the file is read, and finishes the steps in this order once the file has been read.
std::unique_ptr<SectionStep> BuildSubjectsTable(ImportContext& context, const ImportedTable& table);     // ASIGNOMT
std::unique_ptr<SectionStep> BuildTeachersTable(ImportContext& context, const ImportedTable& table);     // PROFT
std::unique_ptr<SectionStep> BuildRoomsTable(ImportContext& context, const ImportedTable& table);        // AULAT
std::unique_ptr<SectionStep> BuildGroupsTable(ImportContext& context, const ImportedTable& table);       // GRUPOST
std::unique_ptr<SectionStep> BuildTimeSlotsTable(ImportContext& context, const ImportedTable& table);    // DIASHORAST
std::unique_ptr<SectionStep> BuildAssignmentsTable(ImportContext& context, const ImportedTable& table);  // ASIGT

// The SESIONES text of an assignment of `hours` weekly hours.
std::string SessionsText(double hours);

}  // namespace pasarela
