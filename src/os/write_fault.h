#pragma once

#include <cstdint>
#include <filesystem>

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
// Throws the armed disk-full Error for `path` when its turn has come; called by File and
// the renames before they change anything.
void CheckWriteFault(const std::filesystem::path& path);

}  // namespace pasarela
