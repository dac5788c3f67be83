#include "vandrel/values/printf_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string fmt_value(const char* format, const char* value) {
  char out[128];
  return format_value(format, value, out, sizeof out) ? out : "<refused>";
}

std::string fmt_int(const char* format, int n) {
  char out[128];
  return format_int(format, n, out, sizeof out) ? out : "<refused>";
}

TEST(PrintfFormatTest, KindFollowsTheLettersOfTheFormat) {
  EXPECT_EQ(" 3.14", fmt_value("%5.2f", "3.14159"));
  EXPECT_EQ("[abc  ]", fmt_value("[%-5s]", "abc"));
  EXPECT_EQ("0042", fmt_value("%04d", "42abc"));
  EXPECT_EQ("1.500000e+00", fmt_value("%e", "1.5"));
  EXPECT_EQ("A", fmt_value("%c", "65"));  // no s, f, e or g: an integer
  EXPECT_EQ("100%", fmt_value("%d%%", "100"));
}

TEST(PrintfFormatTest, FormatsThatDoNotFitTheirKindAreRefused) {
  EXPECT_EQ("<refused>", fmt_value("%d items", "3"));  // the s makes it a text format
  EXPECT_EQ("<refused>", fmt_value("%s %s", "a"));
  EXPECT_EQ("<refused>", fmt_value("%n", "1"));
  EXPECT_EQ("<refused>", fmt_value("%*d", "1"));
  EXPECT_EQ("<refused>", fmt_value("%ld", "1"));
  EXPECT_EQ("<refused>", fmt_value("no conversion", "1"));
  EXPECT_EQ("<refused>", fmt_value("%", "1"));
  EXPECT_EQ("<refused>", fmt_value("%5.2f%d", "1"));
}

TEST(PrintfFormatTest, IntegerFormats) {
  EXPECT_EQ("00007", fmt_int("%05d", 7));
  EXPECT_EQ("ff", fmt_int("%x", 255));
  EXPECT_EQ("-2147483648", fmt_int("%d", -2147483647 - 1));
  EXPECT_EQ("<refused>", fmt_int("%s", 1));
  EXPECT_EQ("<refused>", fmt_int("%f", 1));
  EXPECT_EQ("<refused>", fmt_int("%d%d", 1));
}

TEST(PrintfFormatTest, OutputIsBounded) {
  char out[4];
  EXPECT_TRUE(format_int("%010d", 5, out, sizeof out));
  EXPECT_STREQ("000", out);
}

}  // namespace
