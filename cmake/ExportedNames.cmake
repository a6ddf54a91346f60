# The names our shared libraries export are exactly the global names of their linker version
# scripts.
#
# ordella_exported_library(target MAP version_script) sets a library up that way (hidden
# visibility, the version script, nothing leaking from the static libraries it links) and adds
# ordella_check_exports(target version_script): a CTest test that compares
# `nm -D --defined-only` of the built library with the script. Run with -P (as that test does),
# this file performs the comparison.

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
  execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
  endif()
  string(REGEX MATCHALL "[^ \n]+\n" exported "${listing}")
  list(TRANSFORM exported STRIP)
  list(SORT exported)

  file(READ ${VERSION_SCRIPT} script)
  string(REGEX MATCH "global:([^}]*)local:" global_part "${script}")
  string(REPLACE ";" " " names "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" expected "${names}")
  list(SORT expected)

  if(NOT exported STREQUAL expected)
    message(FATAL_ERROR "${LIBRARY} exports\n  ${exported}\nbut should export\n  ${expected}")
  endif()
  message(STATUS "${LIBRARY}: exports exactly ${expected}")
  return()
endif()

function(ordella_check_exports target version_script)
  if(NOT ORDELLA_TESTS)
    return()
  endif()
  add_test(NAME ${target}_exports
           COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:${target}>
                   -DVERSION_SCRIPT=${version_script} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE})
endfunction()

function(ordella_exported_library target)
  cmake_parse_arguments(E "" "MAP" "" ${ARGN})
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${E_MAP})
  target_link_options(${target} PRIVATE -Wl,--version-script=${E_MAP} -Wl,--exclude-libs,ALL)
  ordella_warnings(${target})
  ordella_check_exports(${target} ${E_MAP})
endfunction()
