# Cross-compiles for 32-bit Windows with Debian's MinGW-w64. The -posix variants are used
# because their libstdc++ has std::thread and std::mutex; they are linked in statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PASARELA_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${PASARELA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PASARELA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PASARELA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PASARELA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the .exe files through Wine, with a prefix kept in the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
