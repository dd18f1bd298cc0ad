#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace pasarela {

// The one exception family of the program. Its text is what the user reads, so it is
// written for a person; context (file, record, field) is prefixed as the error climbs.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
    // Throws an error of this very kind, carrying what this one carries, worded `message`.
    [[noreturn]] virtual void ThrowReworded(const std::string& message) const { throw Error(message); }
};

// The base of a kind of Error that carries nothing but its text: reworded, it stays `Kind`.
template <typename Kind>
class ErrorKind : public Error {
public:
    using Error::Error;
    [[noreturn]] void ThrowReworded(const std::string& message) const override { throw Kind(message); }
};

// The file a run needs is not there: the front ends tell this apart from other errors
// (Orlavi is told -1, the command line exits with 2).
class MissingInputError : public ErrorKind<MissingInputError> {
public:
    using ErrorKind<MissingInputError>::ErrorKind;
};

// A file that another program, or another part of this one, holds for its exclusive use:
// callers that expect such a holder (a second import) tell it apart from other failures.
class FileInUseError : public ErrorKind<FileInUseError> {
public:
    using ErrorKind<FileInUseError>::ErrorKind;
};

// A file (or its folder) that is not there when it is opened: a caller racing with another
// run that removes it may try again.
class FileNotFoundError : public ErrorKind<FileNotFoundError> {
public:
    using ErrorKind<FileNotFoundError>::ErrorKind;
};

// A file that may not be opened as asked (permission, a read-only folder or disk): a
// reader that only needs to look may go on where a writer must stop.
class NoPermissionError : public ErrorKind<NoPermissionError> {
public:
    using ErrorKind<NoPermissionError>::ErrorKind;
};

// What a front end says when memory runs out, in place of the library's "std::bad_alloc".
inline constexpr std::string_view kOutOfMemoryMessage =
    "No hay memoria suficiente para terminar el trabajo. Cierre otros programas y vuelva a intentarlo.";

// An errno value in our own words ("el disco está lleno"), to follow "...: " in a message
// that names the file; never the system's text, which may be English.
std::string ErrnoWords(int error);
// A Windows error code (GetLastError()) in our own words; plain numbers, testable anywhere.
std::string WindowsErrorWords(unsigned long error);
// A std::error_code of either family (errno, or this system's own codes) in our own words.
std::string ErrorCodeWords(const std::error_code& code);
// What the user reads for `e`: our Error's text as it is, anything else in our own words.
std::string UserMessage(const std::exception& e);

// The one way to add context: rethrows `e` with "context: " in front of its wording and of
// the same kind (in use, no permission, ...); anything but an Error becomes a plain Error,
// worded as the user reads it.
[[noreturn]] inline void RethrowWithContext(std::string_view context, const std::exception& e)
{
    const std::string message = std::string(context) + ": " + UserMessage(e);
    if (const auto* error = dynamic_cast<const Error*>(&e))
        error->ThrowReworded(message);
    throw Error(message);
}

}  // namespace pasarela
