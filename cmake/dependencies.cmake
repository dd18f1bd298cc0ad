# pugixml::pugixml, EXPAT::EXPAT, GTest::gtest_main and GTest::gmock for both builds. Linux uses the
# Debian -dev packages; the Windows build compiles Debian's sources with the cross
# compiler, since Debian ships no MinGW builds of them. Nothing is vendored.

if(NOT CMAKE_CROSSCOMPILING)
  find_package(pugixml CONFIG REQUIRED)
  find_package(EXPAT REQUIRED)
  if(PASARELA_BUILD_TESTS)
    find_package(GTest REQUIRED)
  endif()
  return()
endif()

# pugixml: the source package that scripts/setup unpacks with `apt-get source pugixml`.
file(GLOB pasarela_pugixml_candidates LIST_DIRECTORIES true
  "${PROJECT_SOURCE_DIR}/.deps/pugixml-*/src/pugixml.cpp")
set(pasarela_pugixml_default "")
if(pasarela_pugixml_candidates)
  list(SORT pasarela_pugixml_candidates COMPARE NATURAL)
  list(GET pasarela_pugixml_candidates -1 pasarela_pugixml_newest)
  cmake_path(GET pasarela_pugixml_newest PARENT_PATH pasarela_pugixml_src)
  cmake_path(GET pasarela_pugixml_src PARENT_PATH pasarela_pugixml_default)
endif()
set(PASARELA_PUGIXML_SOURCE_DIR "${pasarela_pugixml_default}" CACHE PATH
  "Unpacked pugixml source package (the folder holding src/pugixml.cpp)")
if(PASARELA_PUGIXML_SOURCE_DIR STREQUAL "" AND pasarela_pugixml_default)
  # Configured once before scripts/setup fetched the source: take it now.
  set(PASARELA_PUGIXML_SOURCE_DIR "${pasarela_pugixml_default}" CACHE PATH
    "Unpacked pugixml source package (the folder holding src/pugixml.cpp)" FORCE)
endif()
if(NOT EXISTS "${PASARELA_PUGIXML_SOURCE_DIR}/src/pugixml.cpp")
  message(FATAL_ERROR
    "pugixml source not found (PASARELA_PUGIXML_SOURCE_DIR='${PASARELA_PUGIXML_SOURCE_DIR}'). "
    "Run scripts/setup, which unpacks Debian's pugixml source package into .deps/, "
    "or point PASARELA_PUGIXML_SOURCE_DIR at an unpacked copy.")
endif()
message(STATUS "pugixml source: ${PASARELA_PUGIXML_SOURCE_DIR}")

add_library(pasarela_pugixml STATIC "${PASARELA_PUGIXML_SOURCE_DIR}/src/pugixml.cpp")
target_include_directories(pasarela_pugixml SYSTEM PUBLIC "${PASARELA_PUGIXML_SOURCE_DIR}/src")
add_library(pugixml::pugixml ALIAS pasarela_pugixml)

# expat: likewise from the source package that scripts/setup unpacks (`apt-get source
# expat`), with the configuration header its own build would write for this target.
file(GLOB pasarela_expat_candidates LIST_DIRECTORIES true
  "${PROJECT_SOURCE_DIR}/.deps/expat-*/expat/lib/xmlparse.c")
set(pasarela_expat_default "")
if(pasarela_expat_candidates)
  list(SORT pasarela_expat_candidates COMPARE NATURAL)
  list(GET pasarela_expat_candidates -1 pasarela_expat_newest)
  cmake_path(GET pasarela_expat_newest PARENT_PATH pasarela_expat_lib)
  cmake_path(GET pasarela_expat_lib PARENT_PATH pasarela_expat_default)
endif()
set(PASARELA_EXPAT_SOURCE_DIR "${pasarela_expat_default}" CACHE PATH
  "Unpacked expat source package (the folder holding lib/xmlparse.c)")
if(PASARELA_EXPAT_SOURCE_DIR STREQUAL "" AND pasarela_expat_default)
  set(PASARELA_EXPAT_SOURCE_DIR "${pasarela_expat_default}" CACHE PATH
    "Unpacked expat source package (the folder holding lib/xmlparse.c)" FORCE)
endif()
if(NOT EXISTS "${PASARELA_EXPAT_SOURCE_DIR}/lib/xmlparse.c")
  message(FATAL_ERROR
    "expat source not found (PASARELA_EXPAT_SOURCE_DIR='${PASARELA_EXPAT_SOURCE_DIR}'). "
    "Run scripts/setup, which unpacks Debian's expat source package into .deps/, "
    "or point PASARELA_EXPAT_SOURCE_DIR at the expat folder of an unpacked copy.")
endif()
message(STATUS "expat source: ${PASARELA_EXPAT_SOURCE_DIR}")

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
