#include "vandrel/services/exec_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "vandrel/core/errors.h"
#include "vandrel/core/test_support.h"
#include "vandrel/core/variable_store.h"

namespace {

class ExecTest : public InterpreterTest {
 protected:
  // Runs a cleaned command line as the dispatcher would.
  static int Run(const char* line, int ignore = 0) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%s", line);
    int compile = 0;
    return X_exec(nullptr, buf, compile, ignore);
  }
  static std::string Value(const char* name) {
    const char* v = X_get_value(name);
    return v != nullptr ? v : "<unset>";
  }
};

TEST_F(ExecTest, StringFunctionsChangeOrMeasureTheFirstValue) {
  X_put_value("name", "abc", 0, 0);
  EXPECT_EQ(Run("<@exec>   strlen   name   len  "), 0);
  EXPECT_EQ(Value("len"), "3");
  Run("<@exec> strlen nosuch other");
  EXPECT_EQ(Value("other"), "<unset>");

  X_put_value("s", "aab--c--d", 0, 0);
  Run("<@exec> strcut s ab");  // a partial match just before must not hide it
  EXPECT_EQ(Value("s"), "a");
  X_put_value("s", "a--c--d", 0, 0);
  Run("<@exec> strcut s \"--\"");
  EXPECT_EQ(Value("s"), "a");
  Run("<@exec> strcut s ax");  // runs past the value's end
  Run("<@exec> strcut s");     // no text: nothing to cut at
  EXPECT_EQ(Value("s"), "a");

  X_put_value("path", "/a/b/c", 0, 0);
  Run("<@exec> chchar path /_");
  Run("<@exec> chchar path \"/ _ \"");
  EXPECT_EQ(Value("path"), "/a/b/c");
  Run("<@exec> chchar path \"/ _\"");
  EXPECT_EQ(Value("path"), "_a_b_c");
  Run("<@exec> chchar path a-b");  // the middle character is only a separator
  EXPECT_EQ(Value("path"), "_b_b_c");
}

// A bound variable's value is a window of `cookie` bytes in shared memory
// that need not end in a NUL; here it is a heap block of exactly that size,
// so the sanitizer catches any read past it.
TEST_F(ExecTest, BoundWindowsAreNeverReadPastTheirLength) {
  ASSERT_EQ(X_put_value("shm", "", kBound, 8), 0);
  auto window = std::make_unique<char[]>(8);
  std::memcpy(window.get(), "ab/d/fgh", 8);
  X_get_user("shm")->var.value = window.get();

  Run("<@exec> strlen shm len");
  EXPECT_EQ(Value("len"), "8");
  Run("<@exec> chchar shm \"/ .\"");
  Run("<@exec> strcut shm hX");  // would match only past the window
  EXPECT_EQ(std::string(window.get(), 8), "ab.d.fgh");
  Run("<@exec> strcut shm gh");
  EXPECT_STREQ(window.get(), "ab.d.f");
}

TEST_F(ExecTest, HandlerChecksItsTagHonoursIgnoreAndRejectsUnknownNames) {
  X_put_value("name", "abc", 0, 0);
  EXPECT_EQ(Run("<@execute> strlen name len"), -1);
  EXPECT_EQ(Run("<@exe> strlen name len"), -1);
  EXPECT_EQ(Run("<@exec> strlen name len", 1), 0);
  EXPECT_EQ(Value("len"), "<unset>");
  // The fatal report goes to the page output; send that to stderr to see it.
  EXPECT_EXIT((dup2(2, 1), Run("<@exec> upper x")), ::testing::ExitedWithCode(256 + kFatalStatus),
              "EXEC: Unknown function name: upper");
  // Names are compared whole.
  EXPECT_EXIT((dup2(2, 1), Run("<@exec> strlength name len")),
              ::testing::ExitedWithCode(256 + kFatalStatus), "Unknown function name: strlength");
}

}  // namespace
