# pasarela_options: warnings and Windows definitions for the project's own targets only,
# so that third-party sources built here (expat, GoogleTest) keep their own settings.
add_library(pasarela_options INTERFACE)

set(pasarela_warnings
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Woverloaded-virtual -Wformat=2)
if(PASARELA_WERROR)
  list(APPEND pasarela_warnings -Werror)
endif()
# C++ only: windres would reject these flags on .rc files.
target_compile_options(pasarela_options INTERFACE
  "$<$<COMPILE_LANGUAGE:CXX>:${pasarela_warnings}>")

if(WIN32)
  # Wide Win32 calls by default (accented paths and names), Windows 7 and later.
  target_compile_definitions(pasarela_options INTERFACE
    UNICODE _UNICODE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
endif()
