#pragma once

#include <string>

namespace pasarela {

// A GetLastError() code in our own words (WindowsErrorWords), never Windows' own text, which
// may be in another language than the user's. `error` is a DWORD, spelt out so that callers
// need not include windows.h. Built only for Windows.
std::string SystemMessage(unsigned long error);

}  // namespace pasarela
