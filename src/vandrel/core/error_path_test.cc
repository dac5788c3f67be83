// The error path linked with nothing but the allocator, the trace log and
// what those write to: every test runs in a child process, since each one
// ends the run.
#include "vandrel/core/errors.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "vandrel/core/output.h"
#include "vandrel/core/settings.h"

namespace {

template <char C>
void say() {
  std::fputc(C, stderr);
}

void say_b_and_end_again() {
  std::fputc('b', stderr);
  X_exit(5);
}

void end_with_cleanups() {
  X_on_exit(say<'a'>);
  X_on_exit(say_b_and_end_again);
  X_on_exit(say<'c'>);
  X_on_exit(say<'a'>);
  for (auto cleanup : {say<'d'>, say<'e'>, say<'f'>, say<'g'>, say<'h'>}) X_on_exit(cleanup);
  if (!X_on_exit(say<'z'>)) std::fputs("full:", stderr);
  X_exit(3);
}

TEST(ErrorPathDeathTest, CleanupsRunOnceInTheirOrderEvenWhenOneEndsTheRunAgain) {
  EXPECT_EXIT(end_with_cleanups(), ::testing::ExitedWithCode(5), "^full:abcdefgh$");
}

bool body_follows() {
  std::fputs("[header]", stderr);
  return true;
}

bool no_body() {
  std::fputs("[header]", stderr);
  return false;
}

void error_page(const char* path) {
  int again = ERRMSG("second %d", 2);
  std::fprintf(stderr, "[page %s: %s, again %d, locked %d, stdout %d]", path, X_ERRMSG, again,
               X_error_locked() ? 1 : 0, X_output() == stdout ? 1 : 0);
}

FILE* file_block = nullptr;

void fail(bool (*open_body)()) {
  dup2(2, 1);  // the plain message goes to standard output: show it where the test reads
  X_ERROR = "/srv/x.error";
  X_set_error_hooks({open_body, error_page});
  X_on_exit(say<'x'>);
  file_block = std::tmpfile();
  X_redirect(file_block);  // as inside a <@file> block
  ERRMSG("first %d", 1);
}

TEST(ErrorPathDeathTest, ErrorPageRunsOnStandardOutputAndLaterErrorsReturn) {
  EXPECT_EXIT(fail(body_follows), ::testing::ExitedWithCode(256 + kFatalStatus),
              "^\\[header\\]\\[page /srv/x\\.error: first 1, again -1, locked 1, stdout 1\\]x$");
}

TEST(ErrorPathDeathTest, AnAnswerWithoutBodyGetsNeitherMessageNorPage) {
  EXPECT_EXIT(fail(no_body), ::testing::ExitedWithCode(256 + kFatalStatus), "^\\[header\\]x$");
}

}  // namespace
