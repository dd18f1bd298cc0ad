#include "os/file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "os/error.h"
#include "os/system_message.h"
#include "os/write_fault.h"

namespace pasarela {
namespace {

HANDLE NativeHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool IsInUse(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

[[noreturn]] void ThrowOpenError(const std::filesystem::path& path, DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        throw FileNotFoundError("No existe el archivo " + QuotedPath(path));
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        throw NoPermissionError("No hay permiso para abrir el archivo " + QuotedPath(path));
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        throw Error("No se pudo crear el archivo " + QuotedPath(path) + ": el disco está lleno");
    default:
        if (IsInUse(error))
            throw FileInUseError("El archivo " + QuotedPath(path) + " está en uso por otro programa");
        throw Error("No se pudo abrir el archivo " + QuotedPath(path) + ": " + SystemMessage(error));
    }
}

[[noreturn]] void ThrowWriteError(const std::filesystem::path& path, DWORD error)
{
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        throw Error("No se pudo escribir el archivo " + QuotedPath(path) + ": el disco está lleno");
    throw Error("No se pudo escribir el archivo " + QuotedPath(path) + ": " + SystemMessage(error));
}

// A name that leads to something other than a file on a disk (a folder, a pipe, a device):
// none holds a table, and reading a pipe would wait for a writer.
[[noreturn]] void ThrowNotAFile(const std::filesystem::path& path, const char* what)
{
    throw Error("No se pudo abrir el archivo " + QuotedPath(path) + ": " + what);
}

[[noreturn]] void ThrowLinkRefused(const std::filesystem::path& path)
{
    throw Error("El archivo " + QuotedPath(path) + " es un enlace a otro lugar y no se sigue");
}

std::optional<FileIdentity> PlainIdentityOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    const DWORD notPlain = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
    if ((info.dwFileAttributes & notPlain) != 0 || info.nNumberOfLinks != 1)
        return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

OVERLAPPED At(std::uint64_t offset)
{
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

}  // namespace

std::string DisplayPath(const std::filesystem::path& path)
{
    auto utf8 = path.u8string();
    return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

File File::Open(const std::filesystem::path& path, Mode mode, Links links)
{
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (mode != Mode::Read)
        access |= GENERIC_WRITE;
    if (mode == Mode::Create || mode == Mode::Keep)
        disposition = OPEN_ALWAYS;  // Create truncates below, once the handle (and so the lock) is ours
    if (mode == Mode::CreateNew) {
        CheckWriteFault(path);
        disposition = CREATE_NEW;
    }
    // Share mode 0: nobody else may open the file while we hold it.
    // Refusing a link: open the reparse point itself rather than what it leads to, and
    // give it up if that is what it is, before anything (truncation) changes it.
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (links == Links::Refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE handle = CreateFileW(path.c_str(), access, 0, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS && mode == Mode::CreateNew)
            throw Error("No se pudo crear el archivo " + QuotedPath(path) + ": ya existe");
        // A folder cannot be opened as a file at all: Windows says "access denied".
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            ThrowNotAFile(path, "es una carpeta");
        ThrowOpenError(path, error);
    }
    File file(path, handle);
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK)
        ThrowNotAFile(path, type == FILE_TYPE_PIPE ? "es una tubería con nombre, no un archivo"
                                                   : "es un dispositivo, no un archivo");
    BY_HANDLE_FILE_INFORMATION described{};
    if (GetFileInformationByHandle(handle, &described) && (described.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        ThrowNotAFile(path, "es una carpeta");
    // A second name (a hard link) shares the file with a path elsewhere: writing or cutting
    // it through ours would change that one.
    if (links == Links::Refuse) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(handle, &info) || !PlainIdentityOf(info))
            ThrowLinkRefused(path);
    }
    if (mode == Mode::Create)
        file.Truncate(0);
    return file;
}

File File::CreateTemporary()
{
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec)
        throw Error("No se encuentra la carpeta de archivos temporales de Windows");
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::filesystem::path path =
            folder / (L"pasarela-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L".tmp");
        // Windows removes it when the handle closes, which it does for a program that dies too.
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return File(path, handle);
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS)
            ThrowOpenError(path, error);
    }
    throw Error("No se pudo crear un archivo temporal en " + QuotedPath(folder));
}

File::File(std::filesystem::path path, void* handle)
    : path_(std::move(path)), handle_(reinterpret_cast<Handle>(handle))
{
}

std::size_t File::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const
{
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED overlapped = At(offset + done);
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD read = 0;
        if (!ReadFile(NativeHandle(handle_), out + done, chunk, &read, &overlapped)) {
            DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF)
                break;
            throw Error("No se pudo leer el archivo " + QuotedPath(path_) + ": " + SystemMessage(error));
        }
        if (read == 0)
            break;
        done += read;
    }
    return done;
}

void File::WriteAt(std::uint64_t offset, const void* data, std::size_t size)
{
    CheckWriteFault(path_);
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED overlapped = At(offset + done);
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(NativeHandle(handle_), in + done, chunk, &written, &overlapped))
            ThrowWriteError(path_, GetLastError());
        if (written == 0)
            ThrowWriteError(path_, ERROR_DISK_FULL);
        done += written;
    }
}

std::uint64_t File::Size() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(NativeHandle(handle_), &size))
        throw Error("No se pudo leer el archivo " + QuotedPath(path_) + ": " + SystemMessage(GetLastError()));
    return static_cast<std::uint64_t>(size.QuadPart);
}

void File::Truncate(std::uint64_t size)
{
    CheckWriteFault(path_);
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(NativeHandle(handle_), FileEndOfFileInfo, &info, sizeof info))
        ThrowWriteError(path_, GetLastError());
}

void File::Sync()
{
    CheckWriteFault(path_);
    if (!FlushFileBuffers(NativeHandle(handle_)))
        ThrowWriteError(path_, GetLastError());
}

std::optional<FileIdentity> File::PlainIdentity() const
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(NativeHandle(handle_), &info))
        return std::nullopt;
    return PlainIdentityOf(info);
}

std::optional<FileIdentity> PlainFileIdentity(const std::filesystem::path& path)
{
    // Attributes only, so no program's share mode stands in the way; the reparse point
    // itself, never what it leads to.
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool read = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!read)
        return std::nullopt;
    return PlainIdentityOf(info);
}

// A file held without delete sharing cannot be removed or renamed, so its name leads to it
// for as long as we hold it.
bool File::IsStillAtItsPath() const { return true; }

void File::Close() noexcept
{
    if (handle_ != kNoHandle) {
        CloseHandle(NativeHandle(handle_));
        handle_ = kNoHandle;
    }
}

void ReplaceFileChecked(const std::filesystem::path& source, const std::filesystem::path& target)
{
    // MoveFileEx refuses to replace a file that another program holds open, which is
    // exactly the exclusive use that Orlavi's tables need.
    CheckWriteFault(target);
    CheckFileChangeFault(FileChange::Rename, source);
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        if (IsInUse(error))
            throw FileInUseError("El archivo " + QuotedPath(target) + " está en uso por otro programa");
        if (error == ERROR_ACCESS_DENIED) {
            // A file opened without delete sharing also answers "access denied".
            HANDLE probe = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (probe == INVALID_HANDLE_VALUE && IsInUse(GetLastError()))
                throw FileInUseError("El archivo " + QuotedPath(target) + " está en uso por otro programa");
            if (probe != INVALID_HANDLE_VALUE)
                CloseHandle(probe);
            throw Error("No hay permiso para escribir el archivo " + QuotedPath(target));
        }
        throw Error("No se pudo reemplazar el archivo " + QuotedPath(target) + ": " + SystemMessage(error));
    }
}

void RenameFile(const std::filesystem::path& source, const std::filesystem::path& target)
{
    CheckWriteFault(target);
    CheckFileChangeFault(FileChange::Rename, source);
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        if (IsInUse(error))
            throw FileInUseError("El archivo " + QuotedPath(source) + " está en uso por otro programa");
        if (error == ERROR_ACCESS_DENIED)
            throw Error("No hay permiso para escribir el archivo " + QuotedPath(target));
        throw Error("No se pudo mover el archivo " + QuotedPath(source) + " a " + QuotedPath(target) + ": " +
                    SystemMessage(error));
    }
    RunRenameHook(source, target);
}

void RenameFolder(const std::filesystem::path& source, const std::filesystem::path& target)
{
    CheckWriteFault(target);
    CheckFileChangeFault(FileChange::Rename, source);
    // No MOVEFILE_REPLACE_EXISTING: Windows refuses it for folders.
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        throw Error("No se pudo mover la carpeta " + QuotedPath(source) + " a " + QuotedPath(target) + ": " +
                    SystemMessage(GetLastError()));
}

bool CanRenameWhileHeld() { return false; }

bool IsMountPoint(const std::filesystem::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const DWORD mounted = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & mounted) == mounted;
}

bool RemoveTree(const std::filesystem::path& path) noexcept
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return DeleteFileW(path.c_str()) != 0;
    // A junction, a link or a mounted volume goes as the name alone: what it leads to stays.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return RemoveDirectoryW(path.c_str()) != 0;
    bool all = true;
    try {
        std::error_code ec;
        for (std::filesystem::directory_iterator items(path, ec), end; !ec && items != end; items.increment(ec))
            all = RemoveTree(items->path()) && all;
        all = all && !ec;
    } catch (...) {
        all = false;
    }
    return all && RemoveDirectoryW(path.c_str()) != 0;
}

bool IsLink(const std::filesystem::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void RemoveLockAndFolder(File& lock, const std::filesystem::path& folder) noexcept
{
    // A file opened without delete sharing cannot be removed while held: release it first.
    // A run that takes it in between keeps it: the removal fails on its handle, and the
    // folder is then that run's, not ours to remove.
    if (!lock.IsOpen())
        return;
    const std::filesystem::path path = lock.Path();
    lock.Close();
    if (DeleteFileW(path.c_str()))
        RemoveDirectoryW(folder.c_str());
}

void RemoveFile(const std::filesystem::path& path)
{
    CheckFileChangeFault(FileChange::Removal, path);
    if (DeleteFileW(path.c_str()))
        return;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return;
    if (IsInUse(error))
        throw FileInUseError("El archivo " + QuotedPath(path) + " está en uso por otro programa");
    if (error == ERROR_ACCESS_DENIED)
        throw Error("No hay permiso para borrar el archivo " + QuotedPath(path));
    throw Error("No se pudo borrar el archivo " + QuotedPath(path) + ": " + SystemMessage(error));
}

}  // namespace pasarela
