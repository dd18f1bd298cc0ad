#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

// What the harnesses share: a scratch folder per process and files written from raw bytes.
namespace pasarela::fuzz {

// A folder of this process, in memory where the system offers one: every input is written
// and synced there, and a disk would make that the slowest part of each run.
inline std::filesystem::path ScratchFolder(std::string_view harness)
{
    const std::filesystem::path shm = "/dev/shm";
    std::error_code ec;
    const auto base = std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path();
    const auto folder = base / ("pasarela-" + std::string(harness) + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder);
    return folder;
}

inline void WriteBytes(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
        // The harness itself cannot work: stop rather than report nonsense as findings.
        std::abort();
    }
}

// Removes the scratch folder when the process ends normally (a crash leaves it for study).
struct ScratchCleanup {
    std::filesystem::path folder;
    ~ScratchCleanup()
    {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

}  // namespace pasarela::fuzz
