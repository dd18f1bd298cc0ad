#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace pasarela {

// Which file a name leads to, as the system tells files apart (device and inode; on
// Windows the volume's serial number and the file's index).
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// An open file that no other program (and no other File in this program) can open while
// we hold it: Orlavi's tables are used exclusively, as the timetabling program expects.
// On Windows through the share mode, elsewhere through an open-file-description lock.
class File {
public:
    enum class Mode {
        Read,       // existing file, read only
        ReadWrite,  // existing file, read and write
        Create,     // new or truncated file, read and write
        CreateNew,  // a file that must not exist yet, read and write: nothing else is cut
        Keep,       // new or existing file, read and write, never cut (a lock, which holds no data)
    };

    // Whether a symbolic link (or, on Windows, any reparse point) at `path` may be followed.
    enum class Links {
        Follow,  // Orlavi's tables and the user's files: wherever the user put them
        Refuse,  // our own files, which must never lead outside the folder they are in: a
                 // link, a reparse point, a file with another name (a hard link) or one that
                 // is not a plain file is refused before anything changes it
    };

    // Opens `path` for exclusive use. Throws Error naming the file and the reason
    // (missing, no permission, in use by another program, a link refused, ...).
    static File Open(const std::filesystem::path& path, Mode mode, Links links = Links::Follow);
    // A scratch file of this program's own, with no name anyone else can open, in the
    // system's folder for temporary files: gone once closed, or once the program ends
    // however it ends. Throws Error when none can be made.
    static File CreateTemporary();

    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool IsOpen() const;
    const std::filesystem::path& Path() const { return path_; }

    // Reads up to `size` bytes at `offset`; returns how many were read (less at the end).
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const;
    // Writes all `size` bytes at `offset` or throws (disk full, I/O error).
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    std::uint64_t Size() const;
    void Truncate(std::uint64_t size);
    // Pushes written data to the disk, so a replace that follows cannot publish a hole.
    void Sync();
    // Releases the lock and the handle; errors here are not reported (nothing is pending
    // once Sync or the last WriteAt has returned).
    void Close() noexcept;
    // Whether the name this file was opened by still leads to it: a lock file that its last
    // holder removed after we opened it is no lock any more.
    bool IsStillAtItsPath() const;
    // The identity of this file when it is a plain file with no other name; nullopt for a
    // hard link or anything but a plain file.
    std::optional<FileIdentity> PlainIdentity() const;

private:
    // The system's handle, held as a number: a HANDLE on Windows, a descriptor elsewhere.
    // -1 is "none" for both (INVALID_HANDLE_VALUE, and no descriptor).
    using Handle = std::intptr_t;
    static constexpr Handle kNoHandle = -1;

    File(std::filesystem::path path, Handle handle) : path_(std::move(path)), handle_(handle) {}
    // Windows' Open hands over its HANDLE (a void*) as it is; defined there only.
    File(std::filesystem::path path, void* handle);

    std::filesystem::path path_;
    Handle handle_ = kNoHandle;
};

// Replaces `target` by `source` in one step (same folder). Fails with a clear Error,
// leaving both files as they were, when `target` is held open by another program.
void ReplaceFileChecked(const std::filesystem::path& source, const std::filesystem::path& target);

// Renames `source` to `target` (same volume), replacing it, without taking locks first.
// For files whose locks the caller already holds or has checked.
void RenameFile(const std::filesystem::path& source, const std::filesystem::path& target);

// Renames the folder `source` to `target` (same volume), which must not exist.
void RenameFolder(const std::filesystem::path& source, const std::filesystem::path& target);

// Whether a file this program holds open can be renamed meanwhile: true where locks are
// advisory (POSIX), false on Windows, where an open handle without delete sharing pins
// the name.
bool CanRenameWhileHeld();

// Whether `path` is a symbolic link, or on Windows any reparse point (a junction too);
// false when nothing is there.
bool IsLink(const std::filesystem::path& path);

// Whether the folder `path` is where another file system is mounted (a disk, or another
// folder bound there): on another device than the folder that holds it, or the root of a
// mount. On Windows, any reparse point, as a mounted volume is one. False when nothing is there.
bool IsMountPoint(const std::filesystem::path& path);

// Removes `path` and, when it is a folder, everything in it, as a link goes: never through a
// link or reparse point, and never into another file system mounted inside (IsMountPoint),
// whose files are left where they are, with the folders that lead to them. True when nothing
// is left; nothing is thrown.
bool RemoveTree(const std::filesystem::path& path) noexcept;

// The identity of the file at `path` when it is a plain file reached without a link (or
// reparse point) and has no other name (a hard link); nullopt otherwise, or when nothing is
// there. For files of ours that another program may have swapped for a link.
std::optional<FileIdentity> PlainFileIdentity(const std::filesystem::path& path);

// Removes the lock file `lock` holds and then the folder it is in, when that folder is
// empty by then, and releases the lock, in the order that lets no other run take the lock
// of a folder still being removed. Nothing is reported: a lock taken by another run
// meanwhile keeps the folder.
void RemoveLockAndFolder(File& lock, const std::filesystem::path& folder) noexcept;

// Removes a file; a missing file is not an error. Throws Error when it cannot be removed.
void RemoveFile(const std::filesystem::path& path);

// The path as the user knows it, for messages (UTF-8).
std::string DisplayPath(const std::filesystem::path& path);
// The same between single quotes, as every message names a file.
std::string QuotedPath(const std::filesystem::path& path);

}  // namespace pasarela
