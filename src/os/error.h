#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

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

// Rethrows `e` with "context: " in front, keeping the original wording after it.
[[noreturn]] inline void RethrowWithContext(std::string_view context, const std::exception& e)
{
    throw Error(std::string(context) + ": " + e.what());
}

}  // namespace pasarela
