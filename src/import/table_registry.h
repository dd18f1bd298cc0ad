#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_table.h"

namespace pasarela {

struct ImportContext;
struct ImportedTable;
class SectionStep;

// Starts building one table of an import into the context's folder.
using TableStep = std::unique_ptr<SectionStep> (*)(ImportContext& context, const ImportedTable& table);

// One table an import rebuilds: its name as Orlavi spells it, its fields in the order the
// file holds them, the step that builds it from the DASTENO file, and its code: the fields
// that tell one row from another for the user, by which the report compares the table built
// with the one it replaces.
struct ImportedTable {
    std::string_view name;
    std::vector<FieldSpec> fields;
    TableStep step;
    std::vector<std::string_view> codeFields;
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

}  // namespace pasarela
