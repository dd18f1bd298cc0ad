#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "os/file.h"

namespace pasarela {

// Writes a file beside its target and publishes it only on Commit(), so a failure or a
// crash never leaves a half-written table or document where the user looks for it.
class AtomicFile {
public:
    // Creates the temporary file in the target's folder. Throws Error when it cannot.
    explicit AtomicFile(std::filesystem::path target);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~AtomicFile();

    // Appends bytes (buffered). Throws Error on a write failure such as a full disk.
    void Write(std::string_view bytes);
    // Whether Commit waits for the data to reach the disk.
    enum class Durability { Synced, Unsynced };

    // Flushes, syncs (unless told not to) and replaces the target. Throws Error and leaves
    // the target untouched on failure.
    void Commit(Durability durability = Durability::Synced);

    const std::filesystem::path& Target() const { return target_; }

private:
    void Flush();

    std::filesystem::path target_;
    std::filesystem::path temp_;
    File file_;
    std::vector<char> buffer_;
    std::uint64_t written_ = 0;
    bool committed_ = false;
};

}  // namespace pasarela
