# pugixml::pugixml, GTest::gtest_main and GTest::gmock for both builds. Linux uses the
# Debian -dev packages; the Windows build compiles Debian's sources with the cross
# compiler, since Debian ships no MinGW builds of them. Nothing is vendored.

if(NOT CMAKE_CROSSCOMPILING)
  find_package(pugixml CONFIG REQUIRED)
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
