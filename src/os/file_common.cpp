#include "os/file.h"

#include <atomic>
#include <cstdlib>

#include "os/error.h"
#include "os/write_fault.h"

namespace pasarela {
namespace {

// Writes left until the armed failure; 0 when none is armed, as in every real run.
std::atomic<std::uint64_t> writesUntilFault{0};
std::atomic<bool> faultFired{false};
std::atomic<bool> faultEndsProcess{false};

// FailFileChanges: per kind, the changes seen since arming and the range that fails.
struct ChangeFault {
    std::atomic<std::uint64_t> seen{0};
    std::atomic<std::uint64_t> first{0};
    std::atomic<std::uint64_t> count{0};
};
ChangeFault changeFaults[2];

RenameHook& ArmedRenameHook()
{
    static RenameHook hook;
    return hook;
}

}  // namespace

File::File(File&& other) noexcept : path_(std::move(other.path_)), handle_(other.handle_)
{
    other.handle_ = kNoHandle;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        path_ = std::move(other.path_);
        handle_ = other.handle_;
        other.handle_ = kNoHandle;
    }
    return *this;
}

File::~File() { Close(); }

bool File::IsOpen() const { return handle_ != kNoHandle; }

std::string QuotedPath(const std::filesystem::path& path)
{
    // Built in place: GCC 12 at -O3 takes "'" + DisplayPath(...) for an overlapping copy.
    return std::string("'").append(DisplayPath(path)).append("'");
}

void FailNthWrite(std::uint64_t n, bool endProcess)
{
    faultFired = false;
    faultEndsProcess = endProcess;
    writesUntilFault = n;
}

bool WriteFaultFired() { return faultFired; }

void CheckWriteFault(const std::filesystem::path& path)
{
    std::uint64_t left = writesUntilFault.load();
    while (left != 0 && !writesUntilFault.compare_exchange_weak(left, left - 1)) {
    }
    if (left != 1)
        return;
    faultFired = true;
    if (faultEndsProcess)
        std::_Exit(kWriteFaultExitStatus);  // nothing unwinds, nothing is cleaned up
    // The very words of a real full disk, so what the user reads is tested too.
    throw Error("No se pudo escribir el archivo '" + DisplayPath(path) + "': el disco está lleno");
}

void FailFileChanges(FileChange kind, std::uint64_t first, std::uint64_t count)
{
    ChangeFault& fault = changeFaults[static_cast<int>(kind)];
    fault.first = 0;
    fault.seen = 0;
    fault.count = count;
    fault.first = first;
}

void AfterEachRename(RenameHook hook) { ArmedRenameHook() = std::move(hook); }

void RunRenameHook(const std::filesystem::path& source, const std::filesystem::path& target)
{
    if (const RenameHook& hook = ArmedRenameHook())
        hook(source, target);
}

std::uint64_t FileChangesSeen(FileChange kind) { return changeFaults[static_cast<int>(kind)].seen; }

void CheckFileChangeFault(FileChange kind, const std::filesystem::path& path)
{
    ChangeFault& fault = changeFaults[static_cast<int>(kind)];
    const std::uint64_t first = fault.first.load();
    if (first == 0)
        return;
    const std::uint64_t number = ++fault.seen;
    if (number < first || number >= first + fault.count.load())
        return;
    // What Windows answers when another program glances at the file at that moment.
    throw FileInUseError("El archivo '" + DisplayPath(path) + "' está en uso por otro programa");
}

}  // namespace pasarela
