#include "os/error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "os/file.h"
#include "os/error_message.h"

#ifdef _WIN32
#include <windows.h>
#else
// Windows' values (winerror.h), so that the mapping is tested here too; the Windows build
// takes them from windows.h instead, which checks these numbers.
constexpr unsigned long ERROR_FILE_NOT_FOUND = 2;
constexpr unsigned long ERROR_PATH_NOT_FOUND = 3;
constexpr unsigned long ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr unsigned long ERROR_ACCESS_DENIED = 5;
constexpr unsigned long ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr unsigned long ERROR_OUTOFMEMORY = 14;
constexpr unsigned long ERROR_WRITE_PROTECT = 19;
constexpr unsigned long ERROR_NOT_READY = 21;
constexpr unsigned long ERROR_CRC = 23;
constexpr unsigned long ERROR_SHARING_VIOLATION = 32;
constexpr unsigned long ERROR_LOCK_VIOLATION = 33;
constexpr unsigned long ERROR_HANDLE_DISK_FULL = 39;
constexpr unsigned long ERROR_NETNAME_DELETED = 64;
constexpr unsigned long ERROR_FILE_EXISTS = 80;
constexpr unsigned long ERROR_DISK_FULL = 112;
constexpr unsigned long ERROR_DIR_NOT_EMPTY = 145;
constexpr unsigned long ERROR_BUSY = 170;
constexpr unsigned long ERROR_FILENAME_EXCED_RANGE = 206;
constexpr unsigned long ERROR_FILE_TOO_LARGE = 223;
constexpr unsigned long ERROR_USER_MAPPED_FILE = 1224;
constexpr unsigned long ERROR_NO_SYSTEM_RESOURCES = 1450;
#endif

namespace pasarela {
namespace {

TEST(ErrorWordsTest, EachErrnoKindIsSaidInOurOwnWords)
{
    struct Case {
        int error;
        const char* words;
    };
    const Case cases[] = {
        {ENOSPC, "el disco está lleno"},
        {EACCES, "no hay permiso"},
        {EPERM, "no hay permiso"},
        {EROFS, "el disco o la carpeta es de solo lectura"},
        {EBUSY, "el sistema lo tiene ocupado"},
        {EAGAIN, "el sistema lo tiene ocupado"},
#ifdef ETXTBSY
        {ETXTBSY, "está en uso por otro programa"},
#endif
        {ENOENT, "no existe"},
        {EEXIST, "ya existe"},
        {ENOTEMPTY, "la carpeta no está vacía"},
        {EISDIR, "es una carpeta"},
        {EFBIG, "es demasiado grande"},
        {ENAMETOOLONG, "el nombre o la ruta es demasiado largo"},
        {ENOMEM, "no hay memoria suficiente"},
        {EMFILE, "hay demasiados archivos abiertos"},
        {ENFILE, "hay demasiados archivos abiertos"},
        {EIO, "el disco no se pudo leer o escribir"},
        {EXDEV, "está en otra unidad"},
        {9999, "error del sistema número 9999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(ErrnoWords(c.error), c.words);
        EXPECT_EQ(ErrorCodeWords(std::error_code(c.error, std::generic_category())), c.words);
    }
}

TEST(ErrorWordsTest, EachWindowsErrorKindIsSaidInOurOwnWords)
{
    struct Case {
        unsigned long error;
        const char* words;
    };
    const Case cases[] = {
        {ERROR_DISK_FULL, "el disco está lleno"},
        {ERROR_HANDLE_DISK_FULL, "el disco está lleno"},
        {ERROR_ACCESS_DENIED, "no hay permiso"},
        {ERROR_WRITE_PROTECT, "el disco o la carpeta es de solo lectura"},
        {ERROR_SHARING_VIOLATION, "está en uso por otro programa"},
        {ERROR_LOCK_VIOLATION, "está en uso por otro programa"},
        {ERROR_USER_MAPPED_FILE, "está en uso por otro programa"},
        {ERROR_BUSY, "el sistema lo tiene ocupado"},
        {ERROR_FILE_NOT_FOUND, "no existe"},
        {ERROR_PATH_NOT_FOUND, "no existe"},
        {ERROR_FILE_EXISTS, "ya existe"},
        {ERROR_DIR_NOT_EMPTY, "la carpeta no está vacía"},
        {ERROR_FILE_TOO_LARGE, "es demasiado grande"},
        {ERROR_FILENAME_EXCED_RANGE, "el nombre o la ruta es demasiado largo"},
        {ERROR_NOT_ENOUGH_MEMORY, "no hay memoria suficiente"},
        {ERROR_OUTOFMEMORY, "no hay memoria suficiente"},
        {ERROR_NO_SYSTEM_RESOURCES, "no hay memoria suficiente"},
        {ERROR_TOO_MANY_OPEN_FILES, "hay demasiados archivos abiertos"},
        {ERROR_CRC, "el disco no se pudo leer o escribir"},
        {ERROR_NOT_READY, "la unidad no está disponible"},
        {ERROR_NETNAME_DELETED, "la conexión con la unidad de red falló"},
        {99999, "error del sistema número 99999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(WindowsErrorWords(c.error), c.words);
    }
}

TEST(ErrorWordsTest, WhatTheUserReadsOfAnyExceptionIsOurs)
{
    const std::filesystem::path path = std::filesystem::path("VTEMP") / "PROFT.DBF";
    struct Case {
        const char* name;
        std::string (*message)(const std::filesystem::path&);
        std::string expected;
    };
    const Case cases[] = {
        {"our own error, as it is", [](const std::filesystem::path&) { return UserMessage(Error("No existe archivo")); },
         "No existe archivo"},
        {"memory run out",
         [](const std::filesystem::path&) { return UserMessage(std::bad_alloc()); },
         std::string(kOutOfMemoryMessage)},
        {"a size beyond what a container holds",
         [](const std::filesystem::path&) { return UserMessage(std::length_error("vector::_M_realloc_insert")); },
         std::string(kOutOfMemoryMessage)},
        {"a file system failure names its file",
         [](const std::filesystem::path& p) {
             return UserMessage(std::filesystem::filesystem_error(
                 "filesystem error: cannot create directories", p, std::make_error_code(std::errc::no_space_on_device)));
         },
         "No se pudo usar " + QuotedPath(path) + ": el disco está lleno"},
        {"a system failure without a file",
         [](const std::filesystem::path&) {
             return UserMessage(std::system_error(std::make_error_code(std::errc::device_or_resource_busy)));
         },
         "Error del sistema: el sistema lo tiene ocupado"},
        {"anything else", [](const std::filesystem::path&) { return UserMessage(std::out_of_range("basic_string::at")); },
         "Error inesperado: el proceso no terminó."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.message(path), c.expected);
    }
}

TEST(ErrorWordsTest, ContextBeforeARunOutOfMemoryKeepsOurWords)
{
    EXPECT_EQ(test::ErrorMessageOf([] { RethrowWithContext("profesor nº 3", std::bad_alloc()); }),
              "profesor nº 3: " + std::string(kOutOfMemoryMessage));
}

#ifndef _WIN32
// A program's own file, while it runs, cannot be opened to write (ETXTBSY): held, as by Orlavi.
TEST(ErrorWordsTest, RunningProgramOpenedToWriteIsAFileInUse)
{
    EXPECT_EQ(test::ErrorMessageOf<FileInUseError>([] { File::Open("/proc/self/exe", File::Mode::ReadWrite); }),
              "El archivo '/proc/self/exe' está en uso por otro programa");
}
#endif

}  // namespace
}  // namespace pasarela
