// What Vandrel's unit tests share: every test starts from the interpreter as
// a new process has it and gives back what it made, so no test sees another's
// variables, arenas, settings, output or streams.
#ifndef VANDREL_CORE_TEST_SUPPORT_H_
#define VANDREL_CORE_TEST_SUPPORT_H_

#include <gtest/gtest.h>

// An empty store and pattern cache.
void X_test_begin();

// Releases every variable's arena and the main arena, the pattern cache and
// the streams left in the open-stream table; puts the settings, the output,
// the log levels and the clock back to their start values.
void X_test_end();

class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override { X_test_begin(); }
  void TearDown() override { X_test_end(); }
};

#endif  // VANDREL_CORE_TEST_SUPPORT_H_
