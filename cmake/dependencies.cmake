# EXPAT::EXPAT, GTest::gtest_main and GTest::gmock for both builds. Linux uses the
# Debian -dev packages; the Windows build compiles Debian's sources with the cross
# compiler, since Debian ships no MinGW builds of them. Nothing is vendored.

if(NOT CMAKE_CROSSCOMPILING)
  find_package(EXPAT REQUIRED)
  if(PASARELA_BUILD_TESTS)
    find_package(GTest REQUIRED)
  endif()
  return()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/notices.cmake)

# Finds the newest source package of NAME that scripts/setup unpacked into .deps/ (with
# `apt-get source NAME`), as the folder holding MARKER, and keeps it in the cache variable
# VARIABLE so a user can point it at another unpacked copy.
function(pasarela_source_package name variable glob marker)
  file(GLOB candidates LIST_DIRECTORIES true "${PROJECT_SOURCE_DIR}/.deps/${glob}/${marker}")
  set(found "")
  if(candidates)
    list(SORT candidates COMPARE NATURAL)
    list(GET candidates -1 newest)
    string(REGEX REPLACE "/${marker}$" "" found "${newest}")
  endif()
  set(${variable} "${found}" CACHE PATH "Unpacked ${name} source package (the folder holding ${marker})")
  if(${variable} STREQUAL "" AND found)
    # Configured once before scripts/setup fetched the source: take it now.
    set(${variable} "${found}" CACHE PATH "Unpacked ${name} source package (the folder holding ${marker})" FORCE)
  endif()
  if(NOT EXISTS "${${variable}}/${marker}")
    message(FATAL_ERROR
      "${name} source not found (${variable}='${${variable}}'). "
      "Run scripts/setup, which unpacks Debian's ${name} source package into .deps/, "
      "or point ${variable} at the folder of an unpacked copy that holds ${marker}.")
  endif()
  message(STATUS "${name} source: ${${variable}}")
endfunction()

# expat's configuration header is the one its own build would write for this target.
pasarela_source_package(expat PASARELA_EXPAT_SOURCE_DIR "expat-*/expat" lib/xmlparse.c)

enable_language(C)
# CONFIGURE rewrites the header only when it changes, so expat is not rebuilt each time.
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/expat-config/expat_config.h" CONTENT "\
#define BYTEORDER 1234
#define XML_CONTEXT_BYTES 1024
#define XML_DTD 1
#define XML_NS 1
#define HAVE_STDINT_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRING_H 1
#define STDC_HEADERS 1
" @ONLY)
add_library(pasarela_expat STATIC
  "${PASARELA_EXPAT_SOURCE_DIR}/lib/xmlparse.c"
  "${PASARELA_EXPAT_SOURCE_DIR}/lib/xmlrole.c"
  "${PASARELA_EXPAT_SOURCE_DIR}/lib/xmltok.c")
target_include_directories(pasarela_expat
  SYSTEM PUBLIC "${PASARELA_EXPAT_SOURCE_DIR}/lib"
  PRIVATE "${PROJECT_BINARY_DIR}/expat-config")
target_compile_definitions(pasarela_expat PUBLIC XML_STATIC)
add_library(EXPAT::EXPAT ALIAS pasarela_expat)
pasarela_notice(expat "${PASARELA_EXPAT_SOURCE_DIR}/COPYING")

# -static links MinGW-w64's own runtime into every program, and with it (the -posix
# compilers' threads) winpthreads. The runtime's notices: the whole of it, the number
# conversions (gdtoa, two files of which carry their author's own notice) and the printf
# family (mingw_pformat) that libstdc++ calls.
pasarela_debian_copyright(pasarela_mingw_runtime_copyright libmingwex.a)
pasarela_notice("MinGW-w64" "${pasarela_mingw_runtime_copyright}"
  "*" "mingw-w64-crt/gdtoa/*" "mingw-w64-crt/gdtoa/qnan.c" "mingw-w64-crt/misc/basename.c")
pasarela_debian_copyright(pasarela_winpthreads_copyright libpthread.a)
pasarela_notice(winpthreads "${pasarela_winpthreads_copyright}"
  "mingw-w64-libraries/winpthreads/*" "mingw-w64-libraries/winpthreads/include/pthread.h")
pasarela_write_notices()

if(NOT PASARELA_BUILD_TESTS)
  return()
endif()

# GoogleTest: the source tree that Debian's googletest package installs.
set(PASARELA_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
  "GoogleTest source tree (holding googletest/ and googlemock/)")
set(pasarela_gtest_dir "${PASARELA_GOOGLETEST_SOURCE_DIR}/googletest")
set(pasarela_gmock_dir "${PASARELA_GOOGLETEST_SOURCE_DIR}/googlemock")
if(NOT EXISTS "${pasarela_gtest_dir}/src/gtest-all.cc"
   OR NOT EXISTS "${pasarela_gmock_dir}/src/gmock-all.cc")
  message(FATAL_ERROR
    "GoogleTest source not found in '${PASARELA_GOOGLETEST_SOURCE_DIR}'. "
    "Run scripts/setup (Debian package googletest) or set PASARELA_GOOGLETEST_SOURCE_DIR.")
endif()

add_library(pasarela_gtest STATIC "${pasarela_gtest_dir}/src/gtest-all.cc")
target_include_directories(pasarela_gtest
  SYSTEM PUBLIC "${pasarela_gtest_dir}/include"
  PRIVATE "${pasarela_gtest_dir}")

add_library(pasarela_gtest_main STATIC "${pasarela_gtest_dir}/src/gtest_main.cc")
target_link_libraries(pasarela_gtest_main PUBLIC pasarela_gtest)

add_library(pasarela_gmock STATIC "${pasarela_gmock_dir}/src/gmock-all.cc")
target_include_directories(pasarela_gmock
  SYSTEM PUBLIC "${pasarela_gmock_dir}/include"
  PRIVATE "${pasarela_gmock_dir}")
target_link_libraries(pasarela_gmock PUBLIC pasarela_gtest)

add_library(GTest::gtest ALIAS pasarela_gtest)
add_library(GTest::gtest_main ALIAS pasarela_gtest_main)
add_library(GTest::gmock ALIAS pasarela_gmock)
