#include "hestov/banner.h"

#include <gtest/gtest.h>

namespace hestov {
namespace {

TEST(BannerTest, CommandQuotesThePath) {
  char cmd[128];
  ASSERT_TRUE(banner_command("/opt/it's here/prtconf", cmd, sizeof cmd));
  EXPECT_STREQ(cmd,
               "'/opt/it'\\''s here/prtconf' -pv | /usr/bin/head -20 | "
               "/usr/bin/grep 'banner-name:' ");
  EXPECT_FALSE(banner_command("/opt/prtconf", cmd, 40));
  EXPECT_STREQ(cmd, "");
}

}  // namespace
}  // namespace hestov
