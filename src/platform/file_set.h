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

// Finishes a commit that was interrupted after all new files were complete; does
// nothing when no journal is there. Throws Error when a target is in use.
void RecoverFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir);

}  // namespace pasarela
