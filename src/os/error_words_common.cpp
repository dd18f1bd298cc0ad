#include <cerrno>
#include <filesystem>
#include <new>
#include <string>

#include "os/error.h"
#include "os/file.h"

namespace pasarela {
namespace {

// The kinds of system error a person can act on, each said one way whichever system said it.
enum class Kind {
    DiskFull,
    NoPermission,
    ReadOnly,
    InUse,
    Busy,
    NotFound,
    Exists,
    NotEmpty,
    IsFolder,
    TooLarge,
    NameTooLong,
    NoMemory,
    TooManyOpen,
    DiskFault,
    NotReady,
    Network,
    OtherDrive,
    Other,
};

std::string Words(Kind kind, long code)
{
    switch (kind) {
    case Kind::DiskFull: return "el disco está lleno";
    case Kind::NoPermission: return "no hay permiso";
    case Kind::ReadOnly: return "el disco o la carpeta es de solo lectura";
    case Kind::InUse: return "está en uso por otro programa";
    case Kind::Busy: return "el sistema lo tiene ocupado";
    case Kind::NotFound: return "no existe";
    case Kind::Exists: return "ya existe";
    case Kind::NotEmpty: return "la carpeta no está vacía";
    case Kind::IsFolder: return "es una carpeta";
    case Kind::TooLarge: return "es demasiado grande";
    case Kind::NameTooLong: return "el nombre o la ruta es demasiado largo";
    case Kind::NoMemory: return "no hay memoria suficiente";
    case Kind::TooManyOpen: return "hay demasiados archivos abiertos";
    case Kind::DiskFault: return "el disco no se pudo leer o escribir";
    case Kind::NotReady: return "la unidad no está disponible";
    case Kind::Network: return "la conexión con la unidad de red falló";
    case Kind::OtherDrive: return "está en otra unidad";
    case Kind::Other: break;
    }
    return "error del sistema número " + std::to_string(code);
}

Kind ErrnoKind(int error)
{
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return Kind::DiskFull;
    case EACCES:
    case EPERM: return Kind::NoPermission;
    case EROFS: return Kind::ReadOnly;
#ifdef ETXTBSY
    case ETXTBSY: return Kind::InUse;
#endif
    case EBUSY:
    case EAGAIN: return Kind::Busy;
    case ENOENT:
    case ENOTDIR:
    case ENODEV: return Kind::NotFound;
    case EEXIST: return Kind::Exists;
    case ENOTEMPTY: return Kind::NotEmpty;
    case EISDIR: return Kind::IsFolder;
    case EFBIG:
#ifdef EOVERFLOW
    case EOVERFLOW:
#endif
        return Kind::TooLarge;
    case ENAMETOOLONG: return Kind::NameTooLong;
    case ENOMEM: return Kind::NoMemory;
    case EMFILE:
    case ENFILE: return Kind::TooManyOpen;
    case EIO: return Kind::DiskFault;
    case ENXIO:
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
        return Kind::NotReady;
#ifdef ESTALE
    case ESTALE:
#endif
#ifdef EHOSTDOWN
    case EHOSTDOWN:
#endif
#ifdef ECONNRESET
    case ECONNRESET:
#endif
        return Kind::Network;
    case EXDEV: return Kind::OtherDrive;
    default: return Kind::Other;
    }
}

// Windows' error codes by value (winerror.h), so that this file needs no Windows header.
Kind WindowsKind(unsigned long error)
{
    switch (error) {
    case 39:    // ERROR_HANDLE_DISK_FULL
    case 112:   // ERROR_DISK_FULL
    case 1295:  // ERROR_DISK_QUOTA_EXCEEDED
        return Kind::DiskFull;
    case 5:     // ERROR_ACCESS_DENIED
    case 65:    // ERROR_NETWORK_ACCESS_DENIED
    case 740:   // ERROR_ELEVATION_REQUIRED
    case 1920:  // ERROR_CANT_ACCESS_FILE
        return Kind::NoPermission;
    case 19:    // ERROR_WRITE_PROTECT
    case 6009:  // ERROR_FILE_READ_ONLY
        return Kind::ReadOnly;
    case 32:    // ERROR_SHARING_VIOLATION
    case 33:    // ERROR_LOCK_VIOLATION
    case 1224:  // ERROR_USER_MAPPED_FILE
        return Kind::InUse;
    case 108:  // ERROR_DRIVE_LOCKED
    case 148:  // ERROR_PATH_BUSY
    case 170:  // ERROR_BUSY
    case 303:  // ERROR_DELETE_PENDING
        return Kind::Busy;
    case 2:    // ERROR_FILE_NOT_FOUND
    case 3:    // ERROR_PATH_NOT_FOUND
    case 15:   // ERROR_INVALID_DRIVE
    case 123:  // ERROR_INVALID_NAME
    case 161:  // ERROR_BAD_PATHNAME
        return Kind::NotFound;
    case 80:   // ERROR_FILE_EXISTS
    case 183:  // ERROR_ALREADY_EXISTS
        return Kind::Exists;
    case 145: return Kind::NotEmpty;  // ERROR_DIR_NOT_EMPTY
    case 267: return Kind::IsFolder;  // ERROR_DIRECTORY
    case 223: return Kind::TooLarge;  // ERROR_FILE_TOO_LARGE
    case 206: return Kind::NameTooLong;  // ERROR_FILENAME_EXCED_RANGE
    case 8:     // ERROR_NOT_ENOUGH_MEMORY
    case 14:    // ERROR_OUTOFMEMORY
    case 1450:  // ERROR_NO_SYSTEM_RESOURCES
    case 1455:  // ERROR_COMMITMENT_LIMIT
        return Kind::NoMemory;
    case 4: return Kind::TooManyOpen;  // ERROR_TOO_MANY_OPEN_FILES
    case 23:  // ERROR_CRC
    case 25:  // ERROR_SEEK
    case 29:  // ERROR_WRITE_FAULT
    case 30:  // ERROR_READ_FAULT
    case 31:  // ERROR_GEN_FAILURE
        return Kind::DiskFault;
    case 21:  // ERROR_NOT_READY
    case 55:  // ERROR_DEV_NOT_EXIST
        return Kind::NotReady;
    case 53:  // ERROR_BAD_NETPATH
    case 59:  // ERROR_UNEXP_NET_ERR
    case 64:  // ERROR_NETNAME_DELETED
    case 67:  // ERROR_BAD_NET_NAME
        return Kind::Network;
    case 17: return Kind::OtherDrive;  // ERROR_NOT_SAME_DEVICE
    default: return Kind::Other;
    }
}

}  // namespace

std::string ErrnoWords(int error) { return Words(ErrnoKind(error), error); }

std::string WindowsErrorWords(unsigned long error) { return Words(WindowsKind(error), static_cast<long>(error)); }

std::string UserMessage(const std::exception& e)
{
    if (dynamic_cast<const Error*>(&e) != nullptr)
        return e.what();
    if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr || dynamic_cast<const std::length_error*>(&e) != nullptr)
        return std::string(kOutOfMemoryMessage);
    if (const auto* failure = dynamic_cast<const std::filesystem::filesystem_error*>(&e)) {
        if (!failure->path1().empty())
            return "No se pudo usar " + QuotedPath(failure->path1()) + ": " + ErrorCodeWords(failure->code());
    }
    if (const auto* failure = dynamic_cast<const std::system_error*>(&e))
        return "Error del sistema: " + ErrorCodeWords(failure->code());
    return "Error inesperado: el proceso no terminó.";
}

}  // namespace pasarela
