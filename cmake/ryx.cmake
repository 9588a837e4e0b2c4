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
function(ryx_test_suite name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  add_executable(${name} ${sources} "${PROJECT_SOURCE_DIR}/tests/support/sanitizer_options.cpp")
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ryx_test_support GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/tests")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()
