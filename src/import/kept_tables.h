#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "workfolder/kept_set.h"
#include "workfolder/run_report.h"

namespace pasarela {

// The description of the tables now in `workingDir`, which a commit is about to replace
// and keep: when, which job replaces them, and the rows of each table that opens.
std::string DescribeTablesReplaced(const std::filesystem::path& workingDir, std::string_view job);

// Checks every file of a kept set before a restore puts it back: each table must open and
// have its fields, in their order, of the types and widths the import gives them; each
// index must be one, of its own table. Notes each table's rows in `report`. Throws Error
// naming the file and the reason otherwise.
void CheckKeptTables(const KeptSet& kept, RunReport& report);

// What the import says first when the tables it replaces were another school's: both
// schools, and how to get the earlier ones back. Empty when the school is the same, or
// the earlier one is not known. `checkOnly` words it for a check, which replaces nothing.
std::string SchoolChangeHeadline(const std::optional<SchoolIdentity>& before, const SchoolIdentity& after,
                                 bool checkOnly);

}  // namespace pasarela
