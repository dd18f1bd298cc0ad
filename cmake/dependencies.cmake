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

# The Debian version of the source package unpacked in DIR (the first line of its
# debian/changelog, beside DIR or above it), or "" when it has none.
function(pasarela_debian_source_version variable dir)
  set(version "")
  foreach(changelog "${dir}/debian/changelog" "${dir}/../debian/changelog")
    if(EXISTS "${changelog}")
      file(STRINGS "${changelog}" first LIMIT_COUNT 1)
      if(first MATCHES "^[^ ]+ \\(([^)]+)\\)")
        set(version "${CMAKE_MATCH_1}")
        break()
      endif()
    endif()
  endforeach()
  set(${variable} "${version}" PARENT_SCOPE)
endfunction()

# Whether Debian version A is newer than B, as dpkg orders versions.
function(pasarela_version_newer variable a b)
  execute_process(COMMAND dpkg --compare-versions "${a}" gt "${b}" RESULT_VARIABLE status)
  if(status EQUAL 0)
    set(${variable} TRUE PARENT_SCOPE)
  else()
    set(${variable} FALSE PARENT_SCOPE)
  endif()
endfunction()

# Finds the newest source package of NAME that scripts/setup unpacked into .deps/ (with
# `apt-get source NAME`), as the folder holding MARKER, and keeps it in the cache variable
# VARIABLE. Newest is by the Debian version of each copy's changelog (dpkg's order; of two
# copies of one version, the first by name), so the choice does not hang on folder names
# or on the order the system lists them in. A copy the user points VARIABLE at is kept; one
# found here is found again at each configure, so a newer copy unpacked later is taken.
# VARIABLE_VERSION is set to the Debian version of the copy used ("" when it has none).
function(pasarela_source_package name variable glob marker)
  file(GLOB candidates LIST_DIRECTORIES true "${PROJECT_SOURCE_DIR}/.deps/${glob}/${marker}")
  list(SORT candidates)
  set(found "")
  set(found_version "")
  foreach(candidate IN LISTS candidates)
    string(REGEX REPLACE "/${marker}$" "" dir "${candidate}")
    pasarela_debian_source_version(version "${dir}")
    if(found STREQUAL "")
      set(newer TRUE)
    else()
      pasarela_version_newer(newer "${version}" "${found_version}")
    endif()
    if(newer)
      set(found "${dir}")
      set(found_version "${version}")
    endif()
  endforeach()
  set(doc "Unpacked ${name} source package (the folder holding ${marker})")
  if(NOT DEFINED CACHE{${variable}} OR "$CACHE{${variable}}" STREQUAL ""
     OR "$CACHE{${variable}}" STREQUAL "$CACHE{${variable}_FOUND}")
    set(${variable} "${found}" CACHE PATH "${doc}" FORCE)
  endif()
  set(${variable}_FOUND "${found}" CACHE INTERNAL "The copy of ${name} found in .deps/ last time")
  if(NOT EXISTS "${${variable}}/${marker}")
    message(FATAL_ERROR
      "${name} source not found (${variable}='${${variable}}'). "
      "Run scripts/setup, which unpacks Debian's ${name} source package into .deps/, "
      "or point ${variable} at the folder of an unpacked copy that holds ${marker}.")
  endif()
  pasarela_debian_source_version(version "${${variable}}")
  set(${variable}_VERSION "${version}" PARENT_SCOPE)
  message(STATUS "${name} source: ${${variable}} (${version})")
endfunction()

# expat's configuration header is the one its own build would write for this target.
pasarela_source_package(expat PASARELA_EXPAT_SOURCE_DIR "expat-*/expat" lib/xmlparse.c)
# The version compiled in, which the programs tell (--version) and the release names and
# checks against the system's expat.
if(PASARELA_EXPAT_SOURCE_DIR_VERSION STREQUAL "")
  file(STRINGS "${PASARELA_EXPAT_SOURCE_DIR}/lib/expat.h" expat_numbers REGEX "#define XML_(MAJOR|MINOR|MICRO)_VERSION")
  string(REGEX REPLACE "[^0-9;]" "" expat_numbers "${expat_numbers}")
  list(JOIN expat_numbers "." PASARELA_EXPAT_SOURCE_DIR_VERSION)
endif()
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/pasarela-expat-version.txt"
  CONTENT "${PASARELA_EXPAT_SOURCE_DIR_VERSION}\n" @ONLY)

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
target_compile_definitions(pasarela_expat PUBLIC XML_STATIC
  "PASARELA_EXPAT_PACKAGE_VERSION=\"${PASARELA_EXPAT_SOURCE_DIR_VERSION}\"")
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
