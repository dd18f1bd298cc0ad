#pragma once

#include <filesystem>

#include "workfolder/run_report.h"
#include "workfolder/staging_lock.h"

namespace pasarela {

// Orlavi's folder held for one run, with the run's report begun.
struct OpenedRun {
    StagingLock lock;
    RunReport report;
};

// The one opening of every run (import, export, restore): takes the lock of `workingDir`,
// which first finishes a commit an interrupted import left, and notes in the report that
// it did and what finishing it could not tidy.
OpenedRun OpenRun(const std::filesystem::path& workingDir, StagingLock::Use use);

}  // namespace pasarela
