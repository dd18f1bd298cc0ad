#pragma once

#include <filesystem>
#include <functional>

#include "orlavi/orlavi_tables.h"
#include "workfolder/run_report.h"

namespace pasarela {

struct ImportOptions {
    std::filesystem::path xmlFile;     // the DASTENO file
    std::filesystem::path workingDir;  // Orlavi's folder (C:\VTEMP)
    // Build everything aside and report, but replace no table.
    bool checkOnly = false;
    // The user's decimal mark; "." is accepted as well.
    char decimalSeparator = '.';
    // Told now and then, on the thread that runs the import, the share of the DASTENO
    // file read so far (0 to 1), so a window can show the run moving.
    std::function<void(double share)> progress;
};

// Rebuilds ASIGNOMT, PROFT, AULAT, GRUPOST, DIASHORAST and ASIGT from a DASTENO file.
// The tables are built aside and replace the old ones together only when every step has
// succeeded; on any error all six keep their previous content. Throws MissingInputError
// when the file does not exist and Error for everything else.
RunReport RunImport(const ImportOptions& options);

}  // namespace pasarela
