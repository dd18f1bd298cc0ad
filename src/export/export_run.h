#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "workfolder/run_report.h"

namespace pasarela {

struct ExportOptions {
    std::filesystem::path xmlFile;     // the DASTENO file the import was made from
    std::filesystem::path workingDir;  // Orlavi's folder (C:\VTEMP), holding SOLUC.DBF
    // The clock for fecha_exportacion; the system clock when empty.
    std::function<std::chrono::system_clock::time_point()> now;
    // Formats fecha_exportacion; the user's regional date and time when empty.
    std::function<std::string(std::chrono::system_clock::time_point)> formatDate;
    // Told now and then, on the thread that runs the export, the share of the work done
    // (0 to 1), so a window can show the run moving.
    std::function<void(double share)> progress;
};

struct ExportResult {
    std::filesystem::path outputFile;
    RunReport report;
};

// The file an export of `xmlFile` writes: "ResultadoOrlavis" + its name, beside it.
std::filesystem::path ExportOutputPath(const std::filesystem::path& xmlFile);

// Translates Orlavi's timetable (SOLUC) back into DASTENO identifiers through the tables
// the import built, and saves it as a new DASTENO file beside the chosen one. Throws
// MissingInputError when the file or SOLUC.DBF is missing and Error for everything else;
// nothing is saved then and an earlier output file stays as it was.
ExportResult RunExport(const ExportOptions& options);

}  // namespace pasarela
