# ryx_library(<name> [SOURCES <glob>...] [EXCLUDE <glob>...] [DEPS <targets>...])
# One static library per source folder: every .cpp file of the calling
# folder belongs to it except program entry points (*_main.cpp); headers are
# included as "<folder>/<file>.h" from the project root. A folder that holds
# programs of different needs splits its files between libraries: SOURCES
# globs (relative to the folder, default "*.cpp") pick a library's files and
# EXCLUDE globs leave out those of another.
function(ryx_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;EXCLUDE;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    set(ARG_SOURCES "*.cpp")
  endif()
  set(sources "")
  foreach(pattern IN LISTS ARG_SOURCES)
    file(GLOB found CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${pattern}")
    list(APPEND sources ${found})
  endforeach()
  foreach(pattern IN LISTS ARG_EXCLUDE)
    file(GLOB dropped CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${pattern}")
    if(dropped)
      list(REMOVE_ITEM sources ${dropped})
    endif()
  endforeach()
  list(FILTER sources EXCLUDE REGEX "_main\\.cpp$")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# ryx_program(<name> LIBS <targets>...)
# A program from its entry point <name>_main.cpp in the calling folder.
function(ryx_program name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} "${CMAKE_CURRENT_SOURCE_DIR}/${name}_main.cpp")
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()

# ryx_test_suite(<name> LIBS <targets>...)
# One test program per test folder from every *_test.cpp in it; each test
# case runs as its own CTest test, so process-wide state never leaks from
# one case into the next.
#
# Most of a test file's compile time goes to what every test file
# instantiates and emits again (GoogleTest's assertions, the standard
# containers and strings, their debugging information), so test files
# listed together by ryx_test_group are compiled as one translation unit.
function(ryx_test_suite name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ryx_test_support ryx_sanitizer_options GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_MODE GROUP)
  # The code under test keeps its build type's optimisation; the test files
  # themselves (assertions, fixtures, small oracles) compile without it, which
  # halves their compile time, the larger part of every build, and the
  # headers every test file starts with are parsed once per suite.
  target_compile_options(${name} PRIVATE -O0)
  target_precompile_headers(${name} PRIVATE <gtest/gtest.h> <algorithm> <random> <string> <vector>)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/tests")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()

# ryx_test_group(<suite> <files>...)
# Compiles test files of the calling folder's suite as one translation unit.
# They share its anonymous namespace and file-scope using-directives, so no
# name one of them declares at namespace scope, or brings in, may be used
# unqualified in another with a different meaning; a file that does not fit
# a group stays out of all of them and is compiled alone, as is every file
# no group lists. About eight files make a group: enough to share most of
# the repeated work, few enough to rebuild quickly after an edit.
function(ryx_test_group suite)
  get_property(count TARGET ${suite} PROPERTY RYX_TEST_GROUP_COUNT)
  if(NOT count)
    set(count 0)
  endif()
  math(EXPR count "${count} + 1")
  set_property(TARGET ${suite} PROPERTY RYX_TEST_GROUP_COUNT ${count})
  set_source_files_properties(${ARGN} PROPERTIES UNITY_GROUP "${suite}_${count}")
endfunction()
