#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

// Test seam of the file functions, kept out of file.h: only they and the tests that stop a
// run at each of its writes have any business with it.
namespace pasarela {

// The `n`th write, truncation, sync or rename from now on (1 = the next) fails as on a
// full disk, so a test can stop a run at each of its writes; 0 disarms. With `endProcess`
// the program ends right there instead, as when the power goes.
void FailNthWrite(std::uint64_t n, bool endProcess = false);
// The exit status of a program ended by FailNthWrite.
inline constexpr int kWriteFaultExitStatus = 86;
// Whether the failure armed by FailNthWrite has happened.
bool WriteFaultFired();
// The kinds of file change FailFileChanges counts apart from the writes.
enum class FileChange {
    Rename,   // a file or folder moved or replaced by another
    Removal,  // a file removed (RemoveFile)
};
// The `kind` changes numbered `first` to `first + count - 1` from now on (1 = the next) fail
// as when another program holds the file, which is all it takes on Windows; 0 disarms.
// Independent of FailNthWrite, which still counts renames among its writes.
void FailFileChanges(FileChange kind, std::uint64_t first, std::uint64_t count = 1);
// How many `kind` changes were seen since FailFileChanges armed it (arm with a `first`
// beyond reach to count a run's changes without failing any).
std::uint64_t FileChangesSeen(FileChange kind);
// Throws the armed failure of FailFileChanges for `path` when its turn has come.
void CheckFileChangeFault(FileChange kind, const std::filesystem::path& path);
// What runs right after each RenameFile that succeeds, given its source and target, as
// another program acting in that very instant would; an empty function disarms.
using RenameHook = std::function<void(const std::filesystem::path& source, const std::filesystem::path& target)>;
void AfterEachRename(RenameHook hook);
// Runs the hook AfterEachRename armed, if any; called by RenameFile.
void RunRenameHook(const std::filesystem::path& source, const std::filesystem::path& target);
// Throws the armed disk-full Error for `path` when its turn has come; called by File and
// the renames before they change anything.
void CheckWriteFault(const std::filesystem::path& path);

}  // namespace pasarela
