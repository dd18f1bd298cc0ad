#include "os/file.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/error.h"
#include "os/write_fault.h"

namespace pasarela {
namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

[[noreturn]] void ThrowOpenError(const std::filesystem::path& path, int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        throw FileNotFoundError("No existe el archivo " + QuotedPath(path));
    case EACCES:
    case EPERM:
    case EROFS:
        throw NoPermissionError("No hay permiso para abrir el archivo " + QuotedPath(path));
    case ENOSPC:
        throw Error("No se pudo crear el archivo " + QuotedPath(path) + ": el disco está lleno");
    case ETXTBSY:
        throw FileInUseError("El archivo " + QuotedPath(path) + " está en uso por otro programa");
    default:
        throw Error("No se pudo abrir el archivo " + QuotedPath(path) + ": " + ErrnoWords(error));
    }
}

[[noreturn]] void ThrowLinkRefused(const std::filesystem::path& path)
{
    throw Error("El archivo " + QuotedPath(path) + " es un enlace a otro lugar y no se sigue");
}

// lockf and fcntl locks (a process's record locks, and open file description locks) are
// independent of flock: a program that holds a file that way uses it as surely.
bool HeldByRecordLock(int fd)
{
    struct flock probe {};
    probe.l_type = F_WRLCK;  // conflicts with any lock, read or write
    probe.l_whence = SEEK_SET;
#ifdef F_OFD_GETLK
    // Sees both kinds, even those of this very process.
    if (::fcntl(fd, F_OFD_GETLK, &probe) == 0)
        return probe.l_type != F_UNLCK;
    probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
#endif
    return ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

std::optional<FileIdentity> PlainIdentityOf(const struct stat& info)
{
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

[[noreturn]] void ThrowWriteError(const std::filesystem::path& path, int error)
{
    if (error == ENOSPC || error == EDQUOT)
        throw Error("No se pudo escribir el archivo " + QuotedPath(path) + ": el disco está lleno");
    throw Error("No se pudo escribir el archivo " + QuotedPath(path) + ": " + ErrnoWords(error));
}

}  // namespace

std::string DisplayPath(const std::filesystem::path& path) { return path.string(); }

File File::Open(const std::filesystem::path& path, Mode mode, Links links)
{
    if (mode == Mode::Create || mode == Mode::CreateNew)
        CheckWriteFault(path);
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::Create:
    case Mode::Keep: flags |= O_RDWR | O_CREAT; break;
    case Mode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    }
    if (links == Links::Refuse)
        flags |= O_NOFOLLOW | O_NONBLOCK;  // a FIFO planted in our place must not hang us
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        if (errno == ELOOP && links == Links::Refuse)
            ThrowLinkRefused(path);
        if (errno == EEXIST)
            throw Error("No se pudo crear el archivo " + QuotedPath(path) + ": ya existe");
        ThrowOpenError(path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        throw Error("No se pudo abrir el archivo " + QuotedPath(path) + ": es una carpeta");
    }
    // A second name (a hard link) shares the file with a path elsewhere: writing or cutting
    // it through ours would change that one.
    // (No name at all is a file its last holder removed meanwhile: IsStillAtItsPath tells.)
    if (links == Links::Refuse && (!S_ISREG(info.st_mode) || info.st_nlink > 1)) {
        ::close(fd);
        ThrowLinkRefused(path);
    }
    if (links == Links::Refuse)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // flock locks belong to the open file description, so a second open in this very
    // process is refused too, unlike fcntl record locks.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            throw FileInUseError("El archivo " + QuotedPath(path) + " está en uso por otro programa");
        ThrowOpenError(path, error);
    }
    if (HeldByRecordLock(fd)) {
        ::close(fd);
        throw FileInUseError("El archivo " + QuotedPath(path) + " está en uso por otro programa");
    }
    // Truncate only once the lock is ours: never cut a file that someone else holds.
    if (mode == Mode::Create && ::ftruncate(fd, 0) != 0) {
        int error = errno;
        ::close(fd);
        ThrowWriteError(path, error);
    }
    return File(path, fd);
}

File File::CreateTemporary()
{
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec)
        folder = "/tmp";
#ifdef O_TMPFILE
    // Never named at all, so nothing is left behind even by a crash.
    const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (unnamed >= 0)
        return File(folder, unnamed);
#endif
    // File systems without unnamed files: named for the moment it takes to remove the name.
    std::string name = (folder / "pasarela-XXXXXX").string();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        ThrowOpenError(folder, errno);
    ::unlink(name.c_str());
    return File(folder, fd);
}

std::size_t File::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const
{
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(Fd(handle_), out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Error("No se pudo leer el archivo " + QuotedPath(path_) + ": " + ErrnoWords(errno));
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void File::WriteAt(std::uint64_t offset, const void* data, std::size_t size)
{
    CheckWriteFault(path_);
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(Fd(handle_), in + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowWriteError(path_, errno);
        }
        done += static_cast<std::size_t>(n);
    }
}

std::uint64_t File::Size() const
{
    struct stat info {};
    if (::fstat(Fd(handle_), &info) != 0)
        throw Error("No se pudo leer el archivo " + QuotedPath(path_) + ": " + ErrnoWords(errno));
    return static_cast<std::uint64_t>(info.st_size);
}

void File::Truncate(std::uint64_t size)
{
    CheckWriteFault(path_);
    if (::ftruncate(Fd(handle_), static_cast<off_t>(size)) != 0)
        ThrowWriteError(path_, errno);
}

void File::Sync()
{
    CheckWriteFault(path_);
    if (::fsync(Fd(handle_)) != 0)
        ThrowWriteError(path_, errno);
}

std::optional<FileIdentity> File::PlainIdentity() const
{
    struct stat info {};
    if (::fstat(Fd(handle_), &info) != 0)
        return std::nullopt;
    return PlainIdentityOf(info);
}

std::optional<FileIdentity> PlainFileIdentity(const std::filesystem::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return PlainIdentityOf(info);
}

bool File::IsStillAtItsPath() const
{
    struct stat held {};
    struct stat named {};
    if (::fstat(Fd(handle_), &held) != 0 || ::lstat(path_.c_str(), &named) != 0)
        return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

void File::Close() noexcept
{
    if (handle_ >= 0) {
        ::close(Fd(handle_));  // closing the descriptor releases the flock
        handle_ = kNoHandle;
    }
}

void ReplaceFileChecked(const std::filesystem::path& source, const std::filesystem::path& target)
{
    // rename() ignores locks, so take the target's lock first: a table that Orlavi holds
    // must not be swapped under it. The lock is on the old inode and goes with it.
    File held;
    std::error_code ec;
    if (std::filesystem::exists(target, ec))
        held = File::Open(target, File::Mode::Read);
    CheckWriteFault(target);
    CheckFileChangeFault(FileChange::Rename, source);
    if (::rename(source.c_str(), target.c_str()) != 0) {
        int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS)
            throw Error("No hay permiso para escribir el archivo " + QuotedPath(target));
        throw Error("No se pudo reemplazar el archivo " + QuotedPath(target) + ": " + ErrnoWords(error));
    }
}

void RenameFile(const std::filesystem::path& source, const std::filesystem::path& target)
{
    CheckWriteFault(target);
    CheckFileChangeFault(FileChange::Rename, source);
    if (::rename(source.c_str(), target.c_str()) != 0) {
        int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS)
            throw Error("No hay permiso para escribir el archivo " + QuotedPath(target));
        throw Error("No se pudo mover el archivo " + QuotedPath(source) + " a " + QuotedPath(target) + ": " +
                    ErrnoWords(error));
    }
}

void RenameFolder(const std::filesystem::path& source, const std::filesystem::path& target)
{
    CheckWriteFault(target);
    CheckFileChangeFault(FileChange::Rename, source);
    if (::rename(source.c_str(), target.c_str()) != 0) {
        int error = errno;
        throw Error("No se pudo mover la carpeta " + QuotedPath(source) + " a " + QuotedPath(target) + ": " +
                    ErrnoWords(error));
    }
}

bool CanRenameWhileHeld() { return true; }

bool IsLink(const std::filesystem::path& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

void RemoveLockAndFolder(File& lock, const std::filesystem::path& folder) noexcept
{
    // flock is advisory and unlink ignores it, so the name goes while the lock is still
    // ours: a run that opens it from now on makes a new file, which it then sees is not the
    // one it named (IsStillAtItsPath), or finds the folder gone and makes it anew.
    if (lock.IsOpen()) {
        ::unlink(lock.Path().c_str());
        ::rmdir(folder.c_str());
    }
    lock.Close();
}

void RemoveFile(const std::filesystem::path& path)
{
    // As in ReplaceFileChecked: a file held by another program is not pulled from under it.
    File held;
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        held = File::Open(path, File::Mode::Read);
    CheckFileChangeFault(FileChange::Removal, path);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS)
            throw Error("No hay permiso para borrar el archivo " + QuotedPath(path));
        throw Error("No se pudo borrar el archivo " + QuotedPath(path) + ": " + ErrnoWords(error));
    }
}

}  // namespace pasarela
