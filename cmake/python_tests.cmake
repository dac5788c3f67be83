# How a black-box test is declared: a Python script (or a unittest
# selection) run by one interpreter for the whole project, finding the
# helpers that several suites share in tests/harness through PYTHONPATH, and,
# when it needs the database, running after the private MariaDB server of
# this build tree has started (the "mariadb" fixture).
include_guard(GLOBAL)

# Debian's Python, which has the modules the tests use (selenium, pymysql).
set(TEST_PYTHON /usr/bin/python3 CACHE FILEPATH "Python 3 interpreter of the black-box tests")
if(NOT EXISTS ${TEST_PYTHON})
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(TEST_PYTHON ${Python3_EXECUTABLE})
endif()

set(TEST_HARNESS_DIR ${PROJECT_SOURCE_DIR}/tests/harness)

# The database server of one build tree: its data directory and the file with
# its coordinates live here, so that two trees testing at once never share a
# server, a socket or a port.
set(TEST_DATABASE_DIR ${CMAKE_BINARY_DIR}/test-database)
set(TEST_DATABASE_FIXTURE mariadb)
# A command prefix that runs a test with the coordinates of the server the
# fixture started (the environment cannot pass from one ctest test to the
# next). It also serves as a program's CROSSCOMPILING_EMULATOR, through which
# gtest_discover_tests lists and runs the program's cases.
set(TEST_DATABASE_LAUNCHER ${TEST_HARNESS_DIR}/with_database ${TEST_DATABASE_DIR}/server.env)

# add_test_database_fixture(): the tests that start and stop the server; once,
# in the folder of the black-box tests.
function(add_test_database_fixture)
  add_test(NAME mariadb/start COMMAND ${TEST_HARNESS_DIR}/test_database start ${TEST_DATABASE_DIR})
  # mariadb-install-db and a slow first start on a loaded machine take a while.
  set_tests_properties(mariadb/start PROPERTIES
    FIXTURES_SETUP ${TEST_DATABASE_FIXTURE} TIMEOUT 300 LABELS mariadb)
  add_test(NAME mariadb/stop COMMAND ${TEST_HARNESS_DIR}/test_database stop ${TEST_DATABASE_DIR})
  set_tests_properties(mariadb/stop PROPERTIES
    FIXTURES_CLEANUP ${TEST_DATABASE_FIXTURE} TIMEOUT 120 LABELS mariadb)
endfunction()

# add_python_test(NAME COMMAND script.py|-m module [arg...]
#                 [TIMEOUT seconds] [LABELS label...] [ENVIRONMENT VAR=VALUE...]
#                 [WORKING_DIRECTORY dir] [DATABASE])
# One ctest test: the interpreter runs COMMAND. LABELS default to the first
# part of NAME (up to "/"), TIMEOUT to 60 s. DATABASE: the test runs after the
# server has started, with its coordinates (MYSQL_SOCKET, VANDREL_TEST_*),
# and is labelled mariadb too.
function(add_python_test)
  cmake_parse_arguments(arg "DATABASE" "NAME;TIMEOUT;WORKING_DIRECTORY"
                        "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT arg_NAME OR NOT arg_COMMAND)
    message(FATAL_ERROR "add_python_test: NAME and COMMAND are required")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "add_python_test(${arg_NAME}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 60)
  endif()
  if(NOT arg_LABELS)
    string(REGEX REPLACE "/.*" "" arg_LABELS ${arg_NAME})
  endif()
  set(launcher "")
  if(arg_DATABASE)
    set(launcher ${TEST_DATABASE_LAUNCHER})
    list(APPEND arg_LABELS mariadb)
  endif()
  set(where "")
  if(arg_WORKING_DIRECTORY)
    set(where WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  endif()
  add_test(NAME ${arg_NAME} COMMAND ${launcher} ${TEST_PYTHON} -B ${arg_COMMAND} ${where})
  set_tests_properties(${arg_NAME} PROPERTIES
    TIMEOUT ${arg_TIMEOUT}
    LABELS "${arg_LABELS}"
    ENVIRONMENT "${arg_ENVIRONMENT}"
    ENVIRONMENT_MODIFICATION "PYTHONPATH=path_list_prepend:${TEST_HARNESS_DIR}")
  if(arg_DATABASE)
    set_tests_properties(${arg_NAME} PROPERTIES FIXTURES_REQUIRED ${TEST_DATABASE_FIXTURE})
  endif()
endfunction()

# add_python_tests(AREA [SCRIPT file.py [ARGS arg...]] [TIMEOUT seconds]
#                  [LABELS label...] [ENVIRONMENT VAR=VALUE...] [DATABASE]
#                  SUITES "NAME|SELECTION[|TIMEOUT]"... | METHODS)
# One ctest test AREA/NAME per suite, labelled AREA unless LABELS say
# otherwise. Without SCRIPT a suite runs "-m unittest -v SELECTION" (blank
# separated) in the calling folder; with SCRIPT it runs the script with ARGS,
# then SELECTION. METHODS makes one suite per test method of SCRIPT, named
# after the method without "test_" and selected as Class.test_method, so a
# method added to the script is a test without touching this list.
function(add_python_tests area)
  cmake_parse_arguments(arg "DATABASE;METHODS" "SCRIPT;TIMEOUT"
                        "ARGS;LABELS;ENVIRONMENT;SUITES" ${ARGN})
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "add_python_tests(${area}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_LABELS)
    set(arg_LABELS ${area})
  endif()
  set(database "")
  if(arg_DATABASE)
    set(database DATABASE)
  endif()
  if(arg_SCRIPT)
    get_filename_component(script ${arg_SCRIPT} ABSOLUTE)
    set(run ${script} ${arg_ARGS})
    set(where "")
  else()
    set(run -m unittest -v)
    set(where WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  endif()

  set(suites ${arg_SUITES})
  if(arg_METHODS)
    if(NOT arg_SCRIPT)
      message(FATAL_ERROR "add_python_tests(${area}): METHODS needs SCRIPT")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script})
    file(STRINGS ${script} lines REGEX "^(class [A-Za-z0-9_]+\\(|    def test_[A-Za-z0-9_]+\\()")
    set(class "")
    foreach(line IN LISTS lines)
      if(line MATCHES "^class ([A-Za-z0-9_]+)")
        set(class ${CMAKE_MATCH_1})
      elseif(line MATCHES "^    def test_([A-Za-z0-9_]+)")
        list(APPEND suites "${CMAKE_MATCH_1}|${class}.test_${CMAKE_MATCH_1}")
      endif()
    endforeach()
  endif()
  if(NOT suites)
    message(FATAL_ERROR "add_python_tests(${area}): no suites")
  endif()

  foreach(entry IN LISTS suites)
    string(REPLACE "|" ";" fields "${entry}")
    list(LENGTH fields count)
    list(GET fields 0 name)
    list(GET fields 1 selection)
    set(timeout ${arg_TIMEOUT})
    if(count GREATER 2)
      list(GET fields 2 timeout)
    endif()
    separate_arguments(selection)
    add_python_test(NAME ${area}/${name} COMMAND ${run} ${selection} ${where}
                    TIMEOUT ${timeout} LABELS ${arg_LABELS} ENVIRONMENT ${arg_ENVIRONMENT}
                    ${database})
  endforeach()
endfunction()
