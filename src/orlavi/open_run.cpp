#include "orlavi/open_run.h"

#include "orlavi/orlavi_tables.h"

namespace pasarela {

OpenedRun OpenRun(const std::filesystem::path& workingDir, StagingLock::Use use)
{
    OpenedRun run{StagingLock::Take(workingDir, use, JournalFileNames()), RunReport()};
    if (run.lock.FinishedPendingCommit())
        NoteFinishedPendingCommit(run.report, run.lock.Folder());
    NoteCleanupLeft(run.report, run.lock.RecoveryWarnings());
    return run;
}

}  // namespace pasarela
