#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "workfolder/file_set.h"

namespace pasarela {

// The set a commit replaced, as found in KeptSetFolder for a restore.
struct KeptSet {
    std::filesystem::path folder;
    std::vector<std::string> files;  // what it holds, in the order of the allowed names
};

// The kept set of `workingDir`, checked before anything changes: MissingInputError when
// nothing is kept; Error naming the folder when it is a link, lacks one of
// `requiredNames`, or holds anything but `allowedNames` as plain files with one name.
KeptSet ReadKeptSet(const std::filesystem::path& workingDir, const std::vector<std::string>& requiredNames,
                    const std::vector<std::string>& allowedNames);

// Copies the kept set into `stagingDir` as new files, for CommitFileSet; the kept set
// stays as it is until that commit takes its place.
std::vector<StagedFile> StageKeptSet(const KeptSet& kept, const std::filesystem::path& stagingDir);

}  // namespace pasarela
