#include "import/table_registry.h"

#include <string>

#include "import/table_steps.h"
#include "os/error.h"

namespace pasarela {
namespace {

struct StepRow {
    std::string_view table;
    TableStep step;
};

constexpr StepRow kSteps[] = {
    {kSubjectsTable, BuildSubjectsTable},   {kTeachersTable, BuildTeachersTable},
    {kRoomsTable, BuildRoomsTable},         {kGroupsTable, BuildGroupsTable},
    {kTimeSlotsTable, BuildTimeSlotsTable}, {kAssignmentsTable, BuildAssignmentsTable},
};

}  // namespace

TableStep StepFor(const ImportedTable& table)
{
    for (const StepRow& row : kSteps)
        if (row.table == table.name)
            return row.step;
    throw Error("La importación no construye la tabla '" + std::string(table.name) + "'");
}

}  // namespace pasarela
