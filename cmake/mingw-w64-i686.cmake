# Cross-compiles for 32-bit Windows with Debian's MinGW-w64: the build that ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PASARELA_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
