#include "hestov/findstr.h"

#include <gtest/gtest.h>

#include <string>

#include "hestov/test_scratch.h"

namespace hestov {
namespace {

TEST(FindstrTest, SearchesContinueWhereThePreviousStopped) {
  FILE* in = text_stream(
      "a-key: 1\n"
      "ecache-nlines:  00001000\n"
      "ecache-size:  00800000\n"
      "both: one: x\n");
  ASSERT_NE(in, nullptr);
  char v[32];
  EXPECT_EQ(findstr(in, "ecache-size:", "ecache-nlines:", v, sizeof v), 2);
  EXPECT_STREQ(v, "  00001000");
  EXPECT_EQ(findstr(in, "ecache-size:", "ecache-nlines:", v, sizeof v), 1);
  EXPECT_STREQ(v, "  00800000");
  EXPECT_EQ(findstr(in, "one:", "both:", v, sizeof v), 1);  // first key wins on one line
  EXPECT_STREQ(v, " x");
  EXPECT_EQ(findstr(in, "a-key:", nullptr, v, sizeof v), 0);  // already passed
  EXPECT_STREQ(v, "");
  fclose(in);
}

TEST(FindstrTest, LongLinesAreCutAndTheirRestIsNoLine) {
  std::string filler(kFindLineMax, 'x');
  FILE* in = text_stream(filler + "key: hidden\n" + "key: seen 'a long value'\n");
  ASSERT_NE(in, nullptr);
  char v[8];
  EXPECT_EQ(findstr(in, "key:", nullptr, v, sizeof v), 1);
  EXPECT_STREQ(v, " seen '");  // cut to the buffer
  fclose(in);
}

TEST(FindstrTest, HexValues) {
  EXPECT_EQ(hex_value("  05f5e100"), 100000000u);
  EXPECT_EQ(hex_value("0x40"), 64u);
  EXPECT_EQ(hex_value("00000040.00000000"), 64u);
  EXPECT_EQ(hex_value("'text'"), 0u);
  EXPECT_EQ(hex_value("-1"), 0u);  // no sign in tool output
  EXPECT_EQ(hex_value(""), 0u);
  EXPECT_EQ(hex_value("1ffffffffffffffff"), UINT64_MAX);
}

TEST(FindstrTest, QuotedText) {
  char out[8];
  quoted_text("  'SUNW,UltraSPARC'", out, sizeof out);
  EXPECT_STREQ(out, "SUNW,Ul");
  quoted_text(" '' x", out, sizeof out);
  EXPECT_STREQ(out, "");
  quoted_text(" 'unclosed", out, sizeof out);
  EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace hestov
