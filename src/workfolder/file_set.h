#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pasarela {

// Publishes a set of finished files as one change: either every target is replaced by
// its new version or none is. Orlavi reads its tables as one school, so a mix of new and
// old tables would be worse than no change at all.
//
// `stagingDir` holds the new files under the targets' names and must be on the same
// volume as `targetDir`. A journal in `stagingDir` lets RecoverFileSet finish a commit
// that a crash interrupted.
void CommitFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                   const std::vector<std::string>& names);

// Whether `stagingDir` holds the journal of a commit that RecoverFileSet must finish.
bool HasPendingCommit(const std::filesystem::path& stagingDir);

// Finishes a commit that was interrupted after all new files were complete; does nothing
// and returns false when no journal is there. A journal that names anything but one of
// `allowedNames`, or whose files are links, is damaged: Error, and nothing is moved. Every
// target is first opened for exclusive use, so a file another program holds is never
// replaced: Error ("en uso") with the journal kept for a later run.
bool RecoverFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                    const std::vector<std::string>& allowedNames);

}  // namespace pasarela
