#include "vandrel/values/compare.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "vandrel/core/test_support.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/values/dates.h"

namespace {

// Results of one operator on (lesser, greater), (greater, lesser), (equal).
struct OperatorCase {
  const char* op;
  int lt;
  int gt;
  int eq;
};

const std::vector<OperatorCase> kOrdering = {
    {">=", -1, 0, 0},   {"&ge;", -1, 0, 0},  {"&gt;=", -1, 0, 0}, {"<=", 0, -1, 0},
    {"&le;", 0, -1, 0}, {"&lt;=", 0, -1, 0}, {">", -1, 0, -1},    {"&gt;", -1, 0, -1},
    {"<", 0, -1, -1},   {"&lt;", 0, -1, -1}, {"=", -1, -1, 0},    {"==", -1, -1, 0},
    {"!=", 0, 0, -1},
};

TEST(CompareTest, EverySpellingOnTextsIntsAndFloats) {
  for (const OperatorCase& c : kOrdering) {
    // Texts compare bytes: "10" is below "9".
    EXPECT_EQ(X_user_cmp("10", c.op, "9"), c.lt) << c.op;
    EXPECT_EQ(X_user_cmp("9", c.op, "10"), c.gt) << c.op;
    EXPECT_EQ(X_user_cmp("abc", c.op, "abc"), c.eq) << c.op;
    EXPECT_EQ(X_user_icmp(9, c.op, 10), c.lt) << c.op;
    EXPECT_EQ(X_user_icmp(10, c.op, 9), c.gt) << c.op;
    EXPECT_EQ(X_user_icmp(INT_MIN, c.op, INT_MAX), c.lt) << c.op;
    EXPECT_EQ(X_user_icmp(-5, c.op, -5), c.eq) << c.op;
    EXPECT_EQ(X_user_fcmp(-0.5, c.op, 0.25), c.lt) << c.op;
    EXPECT_EQ(X_user_fcmp(1e300, c.op, -1e300), c.gt) << c.op;
    EXPECT_EQ(X_user_fcmp(-0.0, c.op, 0.0), c.eq) << c.op;
  }
  EXPECT_EQ(X_user_cmp("\xC1", "&gt;", "z"), 0);  // bytes, not the collation order
}

TEST(CompareTest, NanMakesTheNegatedOperatorsTrue) {
  const double nan = std::nan("");
  for (double other : {1.0, nan}) {
    for (const char* op : {">=", "&ge;", "<=", "&lt;=", ">", "&gt;", "!="}) {
      EXPECT_EQ(X_user_fcmp(nan, op, other), 0) << op;
      EXPECT_EQ(X_user_fcmp(other, op, nan), 0) << op;
    }
    for (const char* op : {"<", "&lt;", "=", "=="}) {
      EXPECT_EQ(X_user_fcmp(nan, op, other), -1) << op;
      EXPECT_EQ(X_user_fcmp(other, op, nan), -1) << op;
    }
  }
}

using PatternOperatorTest = InterpreterTest;

TEST_F(PatternOperatorTest, LikeAndVlikeWithTheirNegations) {
  EXPECT_EQ(X_user_cmp("index.htm", "like", "*.html||*.htm"), 0);
  EXPECT_EQ(X_user_cmp("abc", "like", "a*&&*z"), -1);
  EXPECT_EQ(X_user_cmp("abcz", "like", "a*&&*z"), 0);
  EXPECT_EQ(X_user_cmp("abc", "!like", "a*&&*z"), 0);
  EXPECT_EQ(X_user_cmp("abcz", "!like", "a*&&*z"), -1);
  EXPECT_EQ(X_user_cmp("*", "like", "abc"), -1);  // the pattern is the second

  ASSERT_EQ(X_put_value("page", "index.html", 0, 0), 0);
  EXPECT_EQ(X_user_cmp("page", "vlike", "*.html"), 0);
  EXPECT_EQ(X_user_cmp("page", "vlike", "page"), -1);  // the value, not the name
  EXPECT_EQ(X_user_cmp("page", "!vlike", "*.html"), -1);
  EXPECT_EQ(X_user_cmp("page", "!vlike", "*.txt"), 0);
  // An unset variable matches nothing, not even "*".
  EXPECT_EQ(X_user_cmp("unset", "vlike", "*"), -1);
  EXPECT_EQ(X_user_cmp("unset", "!vlike", "*"), 0);
}

// The reporter prints on standard output; send it to standard error, where
// the death test reads it.
void fatal_cmp(const char* op) {
  dup2(2, 1);
  X_user_cmp("a", op, "b");
}
void fatal_icmp(const char* op) {
  dup2(2, 1);
  X_user_icmp(1, op, 2);
}
void fatal_fcmp(const char* op) {
  dup2(2, 1);
  X_user_fcmp(1, op, 2);
}

TEST(CompareDeathTest, UnknownOperatorsEndTheRun) {
  const auto ended = ::testing::ExitedWithCode(254);
  EXPECT_EXIT(fatal_cmp("=>"), ended, "Unknown CMP operator: => ");
  EXPECT_EXIT(fatal_cmp("LIKE"), ended, "Unknown CMP operator: LIKE ");
  EXPECT_EXIT(fatal_cmp(" ="), ended, "Unknown CMP operator:  = ");
  EXPECT_EXIT(fatal_cmp("&gt"), ended, "Unknown CMP operator: &gt ");
  EXPECT_EXIT(fatal_icmp("like"), ended, "Unknown ICMP operator: like ");
  EXPECT_EXIT(fatal_icmp("<>"), ended, "Unknown ICMP operator: <> ");
  EXPECT_EXIT(fatal_fcmp("!vlike"), ended, "Unknown FCMP operator: !vlike ");
  EXPECT_EXIT(fatal_fcmp(""), ended, "Unknown FCMP operator:  ");
}

TEST(TypeCheckTest, IntegersAndNumbers) {
  for (const char* yes : {"", "0", "-12", "007", "-"}) EXPECT_EQ(X_check_int(yes), 0) << yes;
  for (const char* no : {"12a", "1-2", "+1", " 1", "1.0", "--1"}) {
    EXPECT_EQ(X_check_int(no), -1) << no;
  }
  for (const char* yes : {"", "1", "-1.5", ".5", "5.", "-.", "12"}) {
    EXPECT_EQ(X_check_float(yes), 0) << yes;
  }
  for (const char* no : {"1.2.3", "1e5", "1-", "+1.0", "1,5", ".-1"}) {
    EXPECT_EQ(X_check_float(no), -1) << no;
  }
}

TEST(TypeCheckTest, GetIntCopiesExactlyLenCharacters) {
  char val[8];
  std::memset(val, 'x', sizeof val);
  EXPECT_EQ(X_get_int("12345", val, 3), 0);
  EXPECT_STREQ(val, "123");
  EXPECT_EQ(val[4], 'x');  // nothing past len + 1 bytes is written
  EXPECT_EQ(X_get_int("-4x", val, 2), 0);
  EXPECT_STREQ(val, "-4");
  EXPECT_EQ(X_get_int("-4x", val, 3), -1);
  EXPECT_EQ(X_get_int("7", val, 5), 0);  // a shorter text stops the copy
  EXPECT_STREQ(val, "7");
  EXPECT_EQ(X_get_int("abc", val, 0), 0);
  EXPECT_STREQ(val, "");
  EXPECT_EQ(X_get_int("abc", val, -3), 0);
  EXPECT_STREQ(val, "");
}

TEST(TypeCheckTest, Dates) {
  for (const char* yes : {"2009-02-29", "2010-12-31", "0000-01-01", "2009-04-30", "-999-01-31"}) {
    EXPECT_EQ(X_check_date(yes), 0) << yes;
  }
  for (const char* no :
       {"2009-02-30", "2009-2-28", "2009-04-31", "2009-13-01", "2009-00-10", "2009-01-00",
        "2009/01/01", "2009-01-011", "20a9-01-01", "2009-0a-01", "2009-01--1", ""}) {
    EXPECT_EQ(X_check_date(no), -1) << no;
  }
}

TEST(TypeCheckTest, TodayIsTheLocalDate) {
  X_heap* hp = X_heap_new();
  ASSERT_NE(hp, nullptr);
  std::time_t before = std::time(nullptr);
  char* today = X_today(hp);
  std::time_t after = std::time(nullptr);
  ASSERT_NE(today, nullptr);
  char expect[2][16];
  for (int k = 0; k < 2; ++k) {
    std::tm local;
    localtime_r(k == 0 ? &before : &after, &local);
    std::strftime(expect[k], sizeof expect[k], "%Y-%m-%d", &local);
  }
  EXPECT_TRUE(std::strcmp(today, expect[0]) == 0 || std::strcmp(today, expect[1]) == 0) << today;
  EXPECT_EQ(X_check_date(today), 0);
  X_heap_free(hp);
}

}  // namespace
