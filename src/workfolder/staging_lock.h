#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "os/file.h"
#include "workfolder/file_set.h"
#include "workfolder/run_report.h"

namespace pasarela {

// The folder inside Orlavi's folder where an import builds its tables: on the same
// volume, so publishing them is a rename.
std::filesystem::path StagingFolder(const std::filesystem::path& workingDir);

// Notes in `report` that the run first finished an import an interruption had left half
// done (its staging folder named): tables changed then, even in a check.
void NoteFinishedPendingCommit(RunReport& report, const std::filesystem::path& staging);
// Whether `report` carries that note.
bool FinishedPendingCommit(const RunReport& report);
// Notes in `report` what a finished change left to tidy (CommitFileSet, RecoverFileSet):
// warnings, since the tables are in place and the next run clears the rest.
void NoteCleanupLeft(RunReport& report, const CleanupWarnings& warnings);

// Orlavi's folder held for one run, import or export: one lock (`.pasarela-import/LOCK`)
// for all of them, so no run reads or builds tables while another is swapping them. Taking
// it finishes first a commit that an interrupted import left, so every run sees one whole
// set of tables. The lock is kept until the staging folder is gone.
class StagingLock {
public:
    enum class Use {
        Import,  // builds tables and replaces Orlavi's
        Export,  // only reads Orlavi's folder
        Check,   // builds tables to compare, replaces none (import and restore --check)
    };

    // Takes the lock of `workingDir` and finishes a pending commit. Refuses (Error) a
    // staging folder or lock that is a link, another run holding the lock, a damaged
    // journal, and a pending commit it cannot finish (a table in use). A journal may name
    // only `journalFileNames` (the caller's tables and their indexes). An export or a check
    // in a folder it may not write goes on without the lock when no commit is pending there:
    // no import can be working in it either. A check then builds in a scratch folder of its
    // own among the system's temporary files, removed on release.
    static StagingLock Take(const std::filesystem::path& workingDir, Use use,
                            const std::vector<std::string>& journalFileNames);

    StagingLock(StagingLock&& other) noexcept;
    StagingLock& operator=(StagingLock&&) = delete;
    StagingLock(const StagingLock&) = delete;
    StagingLock& operator=(const StagingLock&) = delete;
    // Releases as Release does.
    ~StagingLock();

    const std::filesystem::path& Folder() const { return staging_; }
    // Whether taking the lock finished an interrupted import, so tables changed.
    bool FinishedPendingCommit() const { return finishedPendingCommit_; }
    // What finishing that import left to tidy, for the report.
    const CleanupWarnings& RecoveryWarnings() const { return recoveryWarnings_; }
    // Empties the staging folder but for its lock, then removes the lock and the folder and
    // releases it. When a journal is pending there (a commit that could not be undone)
    // everything stays for the next run to finish, and only the lock is released.
    void Release() noexcept;

private:
    StagingLock(std::filesystem::path workingDir, std::filesystem::path staging)
        : workingDir_(std::move(workingDir)), staging_(std::move(staging))
    {
    }

    std::filesystem::path workingDir_;
    std::filesystem::path staging_;
    File lock_;
    bool scratch_ = false;  // staging_ is a scratch folder outside Orlavi's (a check in a read-only folder)
    bool finishedPendingCommit_ = false;
    CleanupWarnings recoveryWarnings_;
};

}  // namespace pasarela
