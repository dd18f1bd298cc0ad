#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"

namespace pasarela {

// The folder inside Orlavi's folder where an import builds its tables: on the same
// volume, so publishing them is a rename.
std::filesystem::path StagingFolder(const std::filesystem::path& workingDir);

// The only files an import's journal may name: the six tables and their indexes.
std::vector<std::string> JournalFileNames();

// Orlavi's folder held for one run, import or export: one lock (`.pasarela-import/LOCK`)
// for all of them, so no run reads or builds tables while another is swapping them. Taking
// it finishes first a commit that an interrupted import left, so every run sees one whole
// set of tables. The lock is kept until the staging folder is gone.
class StagingLock {
public:
    enum class Use { Import, Export };

    // Takes the lock of `workingDir` and finishes a pending commit. Refuses (Error) a
    // staging folder or lock that is a link, another run holding the lock, a damaged
    // journal, and a pending commit it cannot finish (a table in use). An export in a
    // folder it may not write goes on without the lock when no commit is pending there: no
    // import can be working in it either.
    static StagingLock Take(const std::filesystem::path& workingDir, Use use);

    StagingLock(StagingLock&&) noexcept = default;
    StagingLock& operator=(StagingLock&&) = delete;
    StagingLock(const StagingLock&) = delete;
    StagingLock& operator=(const StagingLock&) = delete;
    // Releases as Release does.
    ~StagingLock();

    const std::filesystem::path& Folder() const { return staging_; }
    // Whether taking the lock finished an interrupted import, so tables changed.
    bool FinishedPendingCommit() const { return finishedPendingCommit_; }
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
    bool finishedPendingCommit_ = false;
};

}  // namespace pasarela
