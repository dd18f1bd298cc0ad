#pragma once

#include <cstddef>
#include <filesystem>

#include "workfolder/run_report.h"

namespace pasarela {

// How many codes the comparison keeps in memory at once. Past that, it writes the codes
// aside in `builtDir` in parts and counts one part at a time, so a table of millions of
// rows compared with a table in another order costs a few megabytes, not a copy of its
// codes. Tests make it small to take that way with a few rows.
struct ComparisonLimits {
    std::size_t codesInMemory = std::size_t{1} << 16;
};

// Compares each table an import built in `builtDir` with the table of that name in
// `earlierDir`, by the table's code fields, and puts in the report how many rows are new
// and how many are gone: a wrong or partial file shows at a glance. An earlier table that
// is missing, or cannot be read, is said so in the report. Never throws: the comparison
// only informs, and must not cost the user an import.
void CompareWithEarlierTables(const std::filesystem::path& earlierDir, const std::filesystem::path& builtDir,
                              RunReport& report, const ComparisonLimits& limits = {});

}  // namespace pasarela
