#pragma once

#include <string>

namespace pasarela {

// What to say when Windows has no text for an error code.
enum class UnknownSystemError {
    Number,  // "error <code>", so a message about a file still says something
    Empty,   // nothing: the window's messages have said it this way from the start
};

// Windows' own text for a GetLastError() code, in UTF-8, without its trailing line break.
// `error` is a DWORD, spelt out so that callers need not include windows.h. Built only for
// Windows.
std::string SystemMessage(unsigned long error, UnknownSystemError unknown = UnknownSystemError::Number);

}  // namespace pasarela
