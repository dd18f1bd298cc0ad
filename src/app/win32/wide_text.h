#pragma once

#include <string>
#include <string_view>

// Win32 speaks UTF-16 and the rest of the program UTF-8; these convert at that edge.
namespace pasarela {

// UTF-8 to UTF-16; malformed bytes become U+FFFD.
std::wstring Widen(std::string_view utf8);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Narrow(std::wstring_view wide);

}  // namespace pasarela
