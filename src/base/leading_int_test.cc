#include "base/leading_int.h"

#include <gtest/gtest.h>

namespace {

TEST(LeadingInt, ReadsLikeAtoi) {
  EXPECT_EQ(leading_int64("  42 rest"), 42);
  EXPECT_EQ(leading_int64("\t-14"), -14);
  EXPECT_EQ(leading_int64("+7x"), 7);
  EXPECT_EQ(leading_int64("x7"), 0);
  EXPECT_EQ(leading_int64(""), 0);
}

TEST(LeadingInt, NeverPastTheLengthOrANul) {
  EXPECT_EQ(leading_int64("123456", 3), 123);
  EXPECT_EQ(leading_int32("123", 2), 12);
  EXPECT_EQ(leading_int64("12\0"
                          "34",
                          5),
            12);
}

TEST(LeadingInt, SaturatesOutOfRange) {
  EXPECT_EQ(leading_int64("99999999999999999999"), INT64_MAX);
  EXPECT_EQ(leading_int64("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(leading_int64("-99999999999999999999999"), INT64_MIN);
  EXPECT_EQ(leading_int64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(leading_int32("-3000000000"), INT32_MIN);
}

}  // namespace
