# What both Windows toolchain files share; each sets PASARELA_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR first. The -posix variants are used because their libstdc++ has
# std::thread and std::mutex; they are linked in statically.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${PASARELA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PASARELA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PASARELA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PASARELA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the .exe files through Wine, with a prefix kept in the build folder;
# wine-run.sh picks the 32- or 64-bit loader from the program itself.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
