#include "vandrel/core/argument_split.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  const char* in;
  size_t size;
  const char* text;
  int used;
};

TEST(ArgString, SplitsWordsAndDelimitedTexts) {
  const Case cases[] = {
      {"  first second", 64, "first", 7},
      {R"(a\ b c)", 64, "a b", 4},    // escaped blank stays in the word
      {"word\tx", 64, "word\tx", 6},  // only the space separates
      {"   ", 64, "", 0},
      {R"( "a b \"c\" d\x" rest)", 64, R"(a b "c" d\x)", 16},  // other backslashes kept
      {"{a {b} c} tail", 64, "a {b", 6},                       // no nesting
      {R"([a\]b] c)", 64, "a]b", 6},
      {"'q r'", 64, "q r", 5},
      {"^q r^", 64, "q r", 5},
      {"`q r`", 64, "q r", 5},
      {"~q r~", 64, "q r", 5},
      {R"("" x)", 64, "", 2},  // an empty quoted text is still an argument
      {"\"never closed", 64, "never closed", 13},
      {"abcdefgh next", 4, "abc", 8},  // cut, but consumed whole
      {"\"abcdefgh\" next", 1, "", 10},
  };
  for (const Case& c : cases) {
    char out[64];
    EXPECT_EQ(X_arg_string(c.in, out, c.size), c.used) << c.in;
    EXPECT_STREQ(out, c.text) << c.in;
  }
}

TEST(ArgString, SeparatorSetsAndPlainWords) {
  char out[32];
  const char* in = ",;a b;,c";
  int used = X_arg_string_sep(in, out, sizeof out, ";,");
  EXPECT_EQ(used, 5);
  EXPECT_STREQ(out, "a b");
  EXPECT_EQ(X_arg_string_sep(in + used, out, sizeof out, ";,"), 3);
  EXPECT_STREQ(out, "c");
  EXPECT_EQ(X_arg_string_sep(",,;", out, sizeof out, ";,"), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(X_arg_string_sep("bcdef,g", out, 4, ","), 5);
  EXPECT_STREQ(out, "bcd");
  EXPECT_EQ(X_arg_string_sep(" \"p q\" r", out, sizeof out, ""), 6);  // no set: X_arg_string
  EXPECT_STREQ(out, "p q");

  EXPECT_EQ(X_take_string("  \"quoted text\"", out, sizeof out), 9);  // quotes mean nothing
  EXPECT_STREQ(out, "\"quoted");
  EXPECT_EQ(X_take_string(" longword x", out, 4), 9);
  EXPECT_STREQ(out, "lon");
  EXPECT_EQ(X_take_string("   ", out, sizeof out), 0);
  EXPECT_STREQ(out, "");
}

}  // namespace
