#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "workfolder/file_set.h"
#include "workfolder/school_record.h"

namespace pasarela {

// One set of tables a finished import or restore replaced and kept, as the user chooses
// among them.
struct KeptGeneration {
    int number = 0;                  // 1 = the newest
    std::filesystem::path folder;    // where its files are
    // When its tables were imported, as the user's regional settings write it; when it was
    // kept for a set with no school record; empty when neither is known.
    std::string dateTime;
    std::string job;                 // the job that replaced it ("importación", "restauración")
    std::filesystem::path file;      // the DASTENO file its tables were imported from; empty when unknown
    std::optional<SchoolIdentity> school;
    std::vector<std::pair<std::string, std::size_t>> rows;  // rows per table, in the registry's order
};

// What a commit writes beside the files it replaces (FileSetChange::keptDescription): when
// it kept them, the job that replaced them, and their rows per table.
struct KeptDescription {
    std::chrono::system_clock::time_point keptAt;
    std::string job;
    std::vector<std::pair<std::string, std::size_t>> rows;
};
std::string KeptDescriptionText(const KeptDescription& description);

// The kept generations of `workingDir`, newest first; none when nothing is kept. A set
// kept by an older version (a single .pasarela-anterior) is listed as the oldest.
std::vector<KeptGeneration> ListKeptGenerations(const std::filesystem::path& workingDir);

// The set a commit replaced, as found in a kept generation for a restore.
struct KeptSet {
    std::filesystem::path folder;
    std::vector<std::string> files;  // what it holds, in the order of the allowed names
};

// Kept generation `number` (1 = newest) of `workingDir`, checked before anything changes:
// MissingInputError when nothing is kept or there is no such generation; Error naming the
// folder when it is a link, lacks one of `requiredNames`, or holds anything but
// `allowedNames` (and its description) as plain files with one name.
KeptSet ReadKeptSet(const std::filesystem::path& workingDir, const std::vector<std::string>& requiredNames,
                    const std::vector<std::string>& allowedNames, int number = 1);

// Copies the kept set into `stagingDir` as new files, for CommitFileSet; the kept set
// stays as it is until that commit takes its place.
std::vector<StagedFile> StageKeptSet(const KeptSet& kept, const std::filesystem::path& stagingDir);

}  // namespace pasarela
