# Shared build settings: strict warnings for our own code, optional sanitizers,
# and one helper to declare a GoogleTest test.

set(ORDELLA_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wformat=2 -Werror=format-security
    -Werror=return-type)

if(ORDELLA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Stamped into every program and library so that platform::FileVersion can read it back.
set(ORDELLA_FILE_VERSION "${PROJECT_VERSION}")

# ordella_warnings(target): our strict warning set for a target of ours.
function(ordella_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${ORDELLA_WARNINGS}>)
endfunction()

# ordella_test(NAME name SOURCES a_test.cc ... LIBS lib ...)
# A GoogleTest program registered with CTest. Each test runs with its own temporary
# prefix (ORDELLA_PREFIX) so runs never share state; a test that needs a fixed one sets it itself.
function(ordella_test)
  if(NOT ORDELLA_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  ordella_warnings(${T_NAME})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "ORDELLA_BUILD_DIR=${CMAKE_BINARY_DIR};ORDELLA_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
