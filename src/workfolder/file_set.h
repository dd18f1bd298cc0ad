#pragma once

#include <cstddef>
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
    // Kept with the files the change replaces, as their generation's description
    // (KeptDescriptionText); none when empty.
    std::string keptDescription;
};

// What a finished change could not tidy afterwards (an index, the journal, the old files),
// one message each, for the report: the change itself is made, and the next run clears
// what is left.
using CleanupWarnings = std::vector<std::string>;

// How many kept generations a working folder holds at most: a commit that keeps one more
// lets the oldest go.
inline constexpr std::size_t kKeptGenerations = 10;
// The description a generation keeps beside its files.
inline constexpr char kKeptDescriptionName[] = "DESCRIPCION.TXT";

// The folder beside the staging folder where each commit keeps, whole, the set of files it
// replaced (and the indexes it took away) as a generation of its own, in a sub-folder
// named by a number that grows with each; the oldest go beyond kKeptGenerations. Orlavi
// reads only its own tables in its folder.
std::filesystem::path KeptGenerationsFolder(const std::filesystem::path& targetDir);
// The one set an older version kept, in place of the generations; listed as the oldest
// until the next commit moves it among them.
std::filesystem::path LegacyKeptSetFolder(const std::filesystem::path& targetDir);
// The folders of the kept generations of `targetDir`, newest first, the older version's set
// last; links and anything but folders named as generations are left out.
std::vector<std::filesystem::path> KeptGenerationFolders(const std::filesystem::path& targetDir);

// How a change ended once every file was in place.
struct FinishedChange {
    CleanupWarnings warnings;
    // The generation that holds the files the change replaced: a new one, or the newest
    // when it held the very same files. Empty when the change replaced none, or they
    // could not be kept (keepFailure says why).
    std::filesystem::path keptSet;
    // Why the files the change replaced could not be kept; the generations kept before stay.
    std::string keepFailure;
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
// kept as a new generation in KeptGenerationsFolder(targetDir), unless they are the very
// bytes now in place (the same import repeated) or the newest generation holds them.
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
