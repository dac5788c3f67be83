#include "korbad/log.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::string text(const LogLine& line) {
  return std::string(line.data(), line.size());
}

TEST(LogLine, FormatsIntegersIncludingExtremes) {
  LogLine line;
  line.add("a").add_int(0).add(" ").add_int(-42).add(" ").add_int(LONG_MIN);
  EXPECT_EQ(text(line), "a0 -42 -9223372036854775808");
}

TEST(LogLine, DropsWhatDoesNotFit) {
  LogLine line;
  std::string big(1000, 'x');
  line.add(big).add(big).add_int(7);
  EXPECT_EQ(line.size(), 1536u);
  EXPECT_EQ(text(line), std::string(1536, 'x'));
}

}  // namespace
