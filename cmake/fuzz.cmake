# Fuzz targets: programs that define LLVMFuzzerTestOneInput and nothing else.
#
# FUZZING=ON (clang only) builds the whole tree with libFuzzer's coverage
# counters and the address and undefined-behaviour sanitizers, so the
# libraries under a target are explored as well as the target itself, and
# links each target with libFuzzer's driver. Without it (the g++ trees) a
# target links a small replay driver instead, and with BUILD_TESTING each one
# is a ctest that runs its seed corpus once: the corpora are regression
# tests in every tree, under the sanitizers in the SANITIZE one.
#
# Included before the top-level compile options are set, which FUZZING
# changes.
include_guard(GLOBAL)

option(FUZZING "Build the fuzz targets with libFuzzer (clang), the tree with coverage and sanitizers" OFF)

if(FUZZING)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR NOT CMAKE_C_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "FUZZING=ON needs clang (libFuzzer): configure with CC=clang CXX=clang++ "
                        "(C: ${CMAKE_C_COMPILER_ID}, C++: ${CMAKE_CXX_COMPILER_ID})")
  endif()
  if(SANITIZE)
    message(FATAL_ERROR "FUZZING=ON already builds with the sanitizers: leave SANITIZE off")
  endif()
  # The sanitizer tree (the top-level SANITIZE flags, which clang takes as
  # they are: a sanitizer finding is a crash the fuzzer keeps), with
  # libFuzzer's coverage counters in every library.
  set(SANITIZE ON)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

set(FUZZ_REPLAY_MAIN ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cc)

# toolkit_fuzz_target(NAME name SOURCES file.cc... [LIBRARIES target...]
#                     CORPUS dir)
# The program fuzz_NAME from SOURCES over LIBRARIES. CORPUS (relative to the
# calling folder) holds its seed inputs; with BUILD_TESTING, the ctest
# fuzz_NAME (label fuzz) runs every one of them once.
function(toolkit_fuzz_target)
  cmake_parse_arguments(arg "" "NAME;CORPUS" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT arg_NAME OR NOT arg_SOURCES OR NOT arg_CORPUS)
    message(FATAL_ERROR "toolkit_fuzz_target: NAME, SOURCES and CORPUS are required")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "toolkit_fuzz_target(${arg_NAME}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  get_filename_component(corpus ${arg_CORPUS} ABSOLUTE)
  if(NOT IS_DIRECTORY ${corpus})
    message(FATAL_ERROR "toolkit_fuzz_target(${arg_NAME}): no corpus folder ${corpus}")
  endif()
  set(target fuzz_${arg_NAME})
  add_executable(${target} ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/fuzz)
  if(FUZZING)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${target} PRIVATE ${FUZZ_REPLAY_MAIN})
  endif()
  # Where bench/fuzz finds the seeds of each target it runs.
  set_property(GLOBAL APPEND PROPERTY TOOLKIT_FUZZ_TARGETS "${target}=${corpus}")
  if(BUILD_TESTING)
    # -runs=0: libFuzzer runs the corpus once and stops; the replay driver
    # skips options.
    add_test(NAME ${target} COMMAND ${target} -runs=0 ${corpus})
    set_tests_properties(${target} PROPERTIES LABELS fuzz TIMEOUT 60)
  endif()
endfunction()

# The list of targets and their corpus folders for bench/fuzz, written once
# every folder has declared its targets.
function(toolkit_fuzz_write_list)
  get_property(targets GLOBAL PROPERTY TOOLKIT_FUZZ_TARGETS)
  string(REPLACE ";" "\n" lines "${targets}")
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz_targets.txt "${lines}\n")
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL toolkit_fuzz_write_list)
