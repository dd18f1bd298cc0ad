# Cross-compiles the same sources for 64-bit Windows. It does not ship: it exists so the
# Windows tests can run under Wine on hosts whose kernel runs no 32-bit programs, and it
# keeps the code honest about pointer sizes.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PASARELA_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
