# The licence notices of what the Windows programs carry inside them. Each library that
# is compiled or linked in names, beside the lines that bring it into the build, where its
# notice is read from; the build writes the list to pasarela-notices.tsv, from which
# scripts/release writes the notices into Pasarela-LEEME.txt and tests/release checks them.
# A library that leaves the build takes its notice with it.
#
#   pasarela_notice(NAME FILE)                 FILE is the notice, whole (LICENSE, COPYING)
#   pasarela_notice(NAME FILE PATTERN...)      FILE is a Debian copyright file
#                                              (machine-readable format); the notice is
#                                              each paragraph whose Files: field starts with
#                                              PATTERN, with its Copyright and its License
#   pasarela_debian_copyright(VARIABLE LIBRARY)
#       VARIABLE: the copyright file of the Debian package that holds LIBRARY (such as
#       libpthread.a) as the C++ compiler finds it
#   pasarela_write_notices()

set_property(GLOBAL PROPERTY PASARELA_NOTICES "")

function(pasarela_notice name file)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "The licence notice of ${name}, '${file}', does not exist.")
  endif()
  if(NOT ARGN)
    set_property(GLOBAL APPEND PROPERTY PASARELA_NOTICES "${name}\t${file}\t")
    return()
  endif()
  foreach(paragraph IN LISTS ARGN)
    string(REGEX REPLACE "([][+.*()^$?|\\])" "\\\\\\1" escaped "${paragraph}")
    file(STRINGS "${file}" found REGEX "^Files: ${escaped}( |$)")
    if(NOT found)
      message(FATAL_ERROR "${file} has no paragraph 'Files: ${paragraph}' for the notice of ${name}.")
    endif()
    set_property(GLOBAL APPEND PROPERTY PASARELA_NOTICES "${name}\t${file}\t${paragraph}")
  endforeach()
endfunction()

function(pasarela_debian_copyright variable library)
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" "-print-file-name=${library}"
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT IS_ABSOLUTE "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not find ${library}.")
  endif()
  file(REAL_PATH "${path}" path)
  execute_process(COMMAND dpkg-query --search "${path}"
    OUTPUT_VARIABLE owner OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  string(REGEX REPLACE ":.*" "" package "${owner}")
  if(NOT status EQUAL 0 OR package STREQUAL "")
    message(FATAL_ERROR "No Debian package holds ${path}, so its licence notice cannot be read.")
  endif()
  set(copyright "/usr/share/doc/${package}/copyright")
  if(NOT EXISTS "${copyright}")
    message(FATAL_ERROR "${package}, which holds ${library}, has no ${copyright}.")
  endif()
  set(${variable} "${copyright}" PARENT_SCOPE)
endfunction()

function(pasarela_write_notices)
  get_property(notices GLOBAL PROPERTY PASARELA_NOTICES)
  list(JOIN notices "\n" text)
  file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/pasarela-notices.tsv" CONTENT "${text}\n" @ONLY)
endfunction()
