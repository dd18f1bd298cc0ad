#pragma once

#include <filesystem>

#include "workfolder/run_report.h"

namespace pasarela {

struct RestoreOptions {
    std::filesystem::path workingDir;  // Orlavi's folder (C:\VTEMP)
    // Check the kept tables and report their rows, but replace no table.
    bool checkOnly = false;
};

// Puts back the tables the last import (or restore) replaced, kept in KeptSetFolder,
// through the same all-or-nothing commit as an import; the tables it replaces are kept in
// turn, so a restore can itself be undone. Throws MissingInputError when nothing is kept,
// and Error, changing nothing, for a kept set that is incomplete or not made of tables.
RunReport RunRestore(const RestoreOptions& options);

}  // namespace pasarela
