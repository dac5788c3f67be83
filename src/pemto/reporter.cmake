# The reporter Pemto: the CPU model framework and catalogue, the sampling
# threads, the command line and the run loop, on top of pemto_core (the event
# parser and counter-set groups) and pemto_counters. Included from this
# folder's CMakeLists.txt; paths are relative to this file.
set(PEMTO_REPORTER_DIR ${CMAKE_CURRENT_LIST_DIR})

add_library(pemto_reporter STATIC
  ${PEMTO_REPORTER_DIR}/bus.cc
  ${PEMTO_REPORTER_DIR}/cpu.cc
  ${PEMTO_REPORTER_DIR}/gtick.cc
  ${PEMTO_REPORTER_DIR}/pemto.cc
  ${PEMTO_REPORTER_DIR}/models/linux.cc
  ${PEMTO_REPORTER_DIR}/models/opteron.cc
  ${PEMTO_REPORTER_DIR}/models/p6.cc
  ${PEMTO_REPORTER_DIR}/models/sparc64.cc
  ${PEMTO_REPORTER_DIR}/models/us2.cc
  ${PEMTO_REPORTER_DIR}/models/us3.cc
  ${PEMTO_REPORTER_DIR}/models/us3i.cc
  ${PEMTO_REPORTER_DIR}/models/us3p.cc
  ${PEMTO_REPORTER_DIR}/models/us4p.cc
  ${PEMTO_REPORTER_DIR}/models/ust1.cc
  ${PEMTO_REPORTER_DIR}/models/ust2.cc
  ${PEMTO_REPORTER_DIR}/models/xeon.cc)
target_include_directories(pemto_reporter PUBLIC ${PEMTO_REPORTER_DIR})
target_link_libraries(pemto_reporter PUBLIC pemto_core)

add_executable(Pemto ${PEMTO_REPORTER_DIR}/main.cc)
target_link_libraries(Pemto PRIVATE pemto_reporter)
install(TARGETS Pemto RUNTIME DESTINATION bin)

if(BUILD_TESTING)
  add_executable(pemto_reporter_tests
    ${PEMTO_REPORTER_DIR}/cpu_test.cc
    ${PEMTO_REPORTER_DIR}/gtick_test.cc
    ${PEMTO_REPORTER_DIR}/pemto_test.cc
    ${PEMTO_REPORTER_DIR}/models/models_test.cc)
  target_link_libraries(pemto_reporter_tests PRIVATE pemto_reporter GTest::gtest_main)
  gtest_discover_tests(pemto_reporter_tests DISCOVERY_TIMEOUT 30 PROPERTIES LABELS pemto)
endif()
