#pragma once

#include <filesystem>

#include "workfolder/run_report.h"

namespace pasarela {

// Compares each table an import built in `builtDir` with the table of that name in
// `earlierDir`, by the table's code fields, and puts in the report how many rows are new
// and how many are gone: a wrong or partial file shows at a glance. An earlier table that
// is missing, or cannot be read, is said so in the report. Never throws: the comparison
// only informs, and must not cost the user an import.
void CompareWithEarlierTables(const std::filesystem::path& earlierDir, const std::filesystem::path& builtDir,
                              RunReport& report);

}  // namespace pasarela
