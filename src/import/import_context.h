#pragma once

#include <filesystem>

#include "import/links.h"
#include "workfolder/run_report.h"

namespace pasarela {

// What the table steps of one import share: the folder the tables are built in, the
// report, and what the steps note for the assignments.
struct ImportContext {
    std::filesystem::path tableDir;
    RunReport& report;
    char decimalSeparator = '.';
    // Shared by every step of the run: the assignments step reads what the others noted.
    NamesInFile& names;
    LinkedRows& rows;
};

}  // namespace pasarela
