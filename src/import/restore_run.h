#pragma once

#include <filesystem>

#include "workfolder/run_report.h"

namespace pasarela {

struct RestoreOptions {
    std::filesystem::path workingDir;  // Orlavi's folder (C:\VTEMP)
    // Check the kept tables and report their rows, but replace no table.
    bool checkOnly = false;
    // Which kept generation to put back (ListKeptGenerations' number: 1 = the newest).
    int generation = 1;
};

// Puts back a kept generation (ListKeptGenerations) through the same lock and
// all-or-nothing commit as an import; the tables it replaces are kept in turn, so a
// restore can itself be undone. The report's TablesInFolder and first headline name what
// is now in the folder. Throws MissingInputError when nothing (or no such generation) is
// kept, and Error, changing nothing, for a generation that is incomplete, holds a file
// that is not its table (other fields or types) or an index that is not one.
RunReport RunRestore(const RestoreOptions& options);

}  // namespace pasarela
