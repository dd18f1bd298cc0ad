#pragma once

#include <string>

#include "import/import_context.h"

namespace pasarela {

// The seven steps of an import, in the order they must run: the activities step extends
// the subjects table, and the assignments step looks up the subjects, teachers and
// groups tables that the earlier steps have just built.
void BuildSubjectsTable(ImportContext& context);            // ASIGNOMT, subjects
void AddActivitiesToSubjectsTable(ImportContext& context);  // ASIGNOMT, activities
void BuildTeachersTable(ImportContext& context);            // PROFT
void BuildRoomsTable(ImportContext& context);               // AULAT
void BuildGroupsTable(ImportContext& context);              // GRUPOST
void BuildTimeSlotsTable(ImportContext& context);           // DIASHORAST
void BuildAssignmentsTable(ImportContext& context);         // ASIGT

// The SESIONES text of an assignment of `hours` weekly hours.
std::string SessionsText(double hours);

}  // namespace pasarela
