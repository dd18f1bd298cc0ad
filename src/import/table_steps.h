#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "import/import_context.h"
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

// What every step holds: the run's context, its registry row and the table it builds.
class TableBuildingStep : public SectionStep {
protected:
    TableBuildingStep(ImportContext& context, const ImportedTable& imported)
        : context_(context), imported_(imported), table_(CreateStepTable(context, imported))
    {
    }

    // Ends a table whose rows were written as its entries came: notes a section of one
    // entry (`kind` names its entries), counts the rows and closes the table.
    void FinishRows(std::size_t count, std::string_view kind)
    {
        NoteSingleEntry(context_, imported_.name, kind, count);
        context_.report.SetRows(std::string(imported_.name), table_.RecordCount());
        table_.Close();
    }

    ImportContext& context_;
    const ImportedTable& imported_;
    DbfTable table_;
};

// The SESIONES text of an assignment of `hours` weekly hours.
std::string SessionsText(double hours);

}  // namespace pasarela
