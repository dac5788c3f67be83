# How a program of the toolkit is declared: its logic in static libraries
# (one per folder), a thin main over them, and the unit tests beside the code.
# Sources are listed explicitly, so a file that is added or lost shows in the
# diff of the CMakeLists.txt that names it. Include paths are rooted at src/:
# every header is reached as "program/folder/file.h".
include(GNUInstallDirs)
include(python_tests)

# toolkit_library(NAME SOURCES file.cc... [LINK target...]
#                 [TESTS file_test.cc... [TEST_LINK target...]] [LABEL label]
#                 [DATABASE])
# A static library NAME; with TESTS, also the GoogleTest program NAME_tests,
# whose cases ctest runs under LABEL (DATABASE: see toolkit_tests).
function(toolkit_library name)
  cmake_parse_arguments(arg "DATABASE" "LABEL" "SOURCES;LINK;TESTS;TEST_LINK" ${ARGN})
  if(NOT arg_SOURCES)
    message(FATAL_ERROR "toolkit_library(${name}): no SOURCES")
  endif()
  add_library(${name} STATIC ${arg_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  if(arg_LINK)
    target_link_libraries(${name} PUBLIC ${arg_LINK})
  endif()
  if(arg_TESTS)
    set(database "")
    if(arg_DATABASE)
      set(database DATABASE)
    endif()
    toolkit_tests(${name}_tests SOURCES ${arg_TESTS} LINK ${name} ${arg_TEST_LINK}
                  LABEL ${arg_LABEL} ${database})
  endif()
endfunction()

# toolkit_tests(NAME SOURCES file_test.cc... LINK target... [LABEL label]
#               [DATABASE])
# A GoogleTest program NAME whose cases ctest runs under LABEL; nothing when
# the tests are not built. DATABASE: its cases run after the test database
# server has started, with its coordinates (see python_tests.cmake).
function(toolkit_tests name)
  cmake_parse_arguments(arg "DATABASE" "LABEL" "SOURCES;LINK" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  if(NOT arg_LABEL)
    message(FATAL_ERROR "toolkit_tests(${name}): no LABEL")
  endif()
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LINK} GTest::gtest_main)
  if(arg_DATABASE)
    # The launcher reads the server's coordinates, which the fixture's start
    # wrote, before it runs (or lists) the cases.
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${TEST_DATABASE_LAUNCHER}")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES
      LABELS ${arg_LABEL} FIXTURES_REQUIRED ${TEST_DATABASE_FIXTURE})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES LABELS ${arg_LABEL})
  endif()
endfunction()

# toolkit_program(NAME MAIN main.cc LINK target...)
# The program NAME, built into build/bin and installed under PREFIX/bin.
function(toolkit_program name)
  cmake_parse_arguments(arg "" "MAIN" "LINK" ${ARGN})
  add_executable(${name} ${arg_MAIN})
  target_link_libraries(${name} PRIVATE ${arg_LINK})
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
