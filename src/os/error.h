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
};

// The file a run needs is not there: the front ends tell this apart from other errors
// (Orlavi is told -1, the command line exits with 2).
class MissingInputError : public Error {
public:
    using Error::Error;
};

// A file that another program, or another part of this one, holds for its exclusive use:
// callers that expect such a holder (a second import) tell it apart from other failures.
class FileInUseError : public Error {
public:
    using Error::Error;
};

// A file (or its folder) that is not there when it is opened: a caller racing with another
// run that removes it may try again.
class FileNotFoundError : public Error {
public:
    using Error::Error;
};

// A file that may not be opened as asked (permission, a read-only folder or disk): a
// reader that only needs to look may go on where a writer must stop.
class NoPermissionError : public Error {
public:
    using Error::Error;
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

// Rethrows `e` with "context: " in front, keeping the original wording after it.
[[noreturn]] inline void RethrowWithContext(std::string_view context, const std::exception& e)
{
    throw Error(std::string(context) + ": " + UserMessage(e));
}

}  // namespace pasarela
