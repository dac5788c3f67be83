#include "vandrel/core/numbers.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(NumbersTest, ReadsLikeTheLibraryAtoi) {
  const char* texts[] = {"0",    "42",      "-14",  "  +7x", "\t\n 12 3", "abc", "",
                         "-",    "2147483647", "2147483648", "-2147483648", "-2147483649",
                         "4294967297", "99999999999999999999", "-99999999999999999999",
                         "9223372036854775807", "9223372036854775808", "-9223372036854775808",
                         "-9223372036854775809", "000123", "12e3"};
  for (const char* t : texts) EXPECT_EQ(std::atoi(t), X_atoi(t)) << "text: [" << t << "]";
}

}  // namespace
