# ryx_library(<name> [DEPS <targets>...])
# One static library per source folder: every .cpp file of the calling
# folder belongs to it except program entry points (*_main.cpp); headers are
# included as "<folder>/<file>.h" from the project root.
function(ryx_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
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
function(ryx_test_suite name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  add_executable(${name} ${sources} "${PROJECT_SOURCE_DIR}/tests/support/sanitizer_options.cpp")
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ryx_test_support GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/tests")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()
