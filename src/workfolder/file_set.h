#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "os/file.h"

namespace pasarela {

// A file finished in the staging folder, with the identity it had when its writer was done
// with it: the commit publishes that very file, never one put in its place meanwhile.
struct StagedFile {
    std::string name;
    FileIdentity identity;
};

// The staged files `names` of `stagingDir` as they are now. Each must be a plain file with
// no other name: Error for a link, a hard link or a missing file.
std::vector<StagedFile> RecordStagedFiles(const std::filesystem::path& stagingDir,
                                          const std::vector<std::string>& names);

// One change of a set of files in a folder.
struct FileSetChange {
    std::vector<StagedFile> replaced;  // staged files that replace their targets (or become them)
    std::vector<std::string> removed;  // targets that go once every file is in place (indexes of the old rows)
};

// What a finished change could not tidy afterwards (an index, the journal, the old files),
// one message each, for the report: the change itself is made, and the next run clears
// what is left.
using CleanupWarnings = std::vector<std::string>;

// The folder beside the staging folder where a commit keeps, whole, the set of files it
// replaced (and the indexes it took away), in place of the set the commit before kept, so
// the change can be undone. A commit that replaced nothing leaves it as it was. Orlavi
// reads only its own tables in its folder.
std::filesystem::path KeptSetFolder(const std::filesystem::path& targetDir);

// How a change ended once every file was in place.
struct FinishedChange {
    CleanupWarnings warnings;
    // KeptSetFolder when the files the change replaced are kept there; empty when it
    // replaced none, or they could not be kept (a warning says why).
    std::filesystem::path keptSet;
};

// Publishes a set of finished files as one change: either every target is replaced by
// its new version or none is. Orlavi reads its tables as one school, so a mix of new and
// old tables would be worse than no change at all.
//
// `stagingDir` holds the new files under the targets' names and must be on the same
// volume as `targetDir`. A journal in `stagingDir` lets RecoverFileSet finish a commit
// that a crash interrupted. Before each file moves, it must still be the one recorded
// (RecordStagedFiles); otherwise, and on any failure, the change is undone and Error
// thrown. When even the undoing fails, the journal and the old files stay for the next
// run to finish the change, and the Error says so. Once the last file is in place the
// change is made: what fails after that is returned, not thrown. The replaced files are
// kept in KeptSetFolder(targetDir).
FinishedChange CommitFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                              const FileSetChange& change);

// Whether `stagingDir` holds the journal of a commit that RecoverFileSet must finish.
bool HasPendingCommit(const std::filesystem::path& stagingDir);

// What RecoverFileSet did.
struct Recovery {
    bool changedFiles = false;  // files were moved to finish a change
    FinishedChange end;         // as CommitFileSet returns it
};

// Finishes a commit that was interrupted after all new files were complete; does nothing
// when no journal is there. A journal that names anything but one of `allowedNames`, or
// whose files are links, is damaged: Error, and nothing is moved. Every target is first
// opened for exclusive use, so a file another program holds is never replaced: Error
// ("en uso") with the journal kept for a later run.
Recovery RecoverFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                        const std::vector<std::string>& allowedNames);

}  // namespace pasarela
