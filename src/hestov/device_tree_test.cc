#include "hestov/device_tree.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "hestov/test_scratch.h"

namespace hestov {
namespace {

// The shape of "prtconf -vp" on a SPARC server: root node first, cpu nodes later.
const char kSparcTree[] =
    "System Configuration:  Sun Microsystems  sun4u\n"
    "Node 0xf002958c\n"
    "    stick-frequency:  00bebc20\n"
    "    clock-frequency:  08f0d180\n"
    "    banner-name:  'Sun Fire V440'\n"
    "    name:  'SUNW,Sun-Fire-V440'\n"
    "    Node 0xf006d2f0\n"
    "        ecache-line-size:  00000040\n"
    "        ecache-size:  00100000\n"
    "        clock-frequency:  59a53800\n"
    "        device_type:  'cpu'\n"
    "        name:  'SUNW,UltraSPARC-IIIi'\n";

DeviceTree tree_of(const std::string& text) {
  DeviceTree dt;
  dt.sys_freq = -1;
  FILE* in = text_stream(text);
  if (in != nullptr) {
    read_device_tree(in, &dt);
    fclose(in);
  }
  return dt;
}

TEST(DeviceTreeTest, ReadsClockCacheAndChipInOrder) {
  DeviceTree dt = tree_of(kSparcTree);
  EXPECT_EQ(dt.sys_freq, 150);
  EXPECT_EQ(dt.cpu_ecache, 1024);
  EXPECT_STREQ(dt.chip_name, "SUNW,UltraSPARC-IIIi");
}

TEST(DeviceTreeTest, NlinesBeforeSizeGivesLinesTimesLineSize) {
  DeviceTree dt = tree_of(
      "clock-frequency:  05f5e100\n"
      "ecache-line-size:  00000040\n"
      "ecache-nlines:  00008000\n"
      "ecache-size:  00100000\n"
      "name:  'cpu'\n");
  EXPECT_EQ(dt.sys_freq, 100);
  EXPECT_EQ(dt.cpu_ecache, 2048);
  EXPECT_STREQ(dt.chip_name, "cpu");
}

TEST(DeviceTreeTest, MissingValuesStayZero) {
  // Without a line size the search runs to the end, so no name is found either.
  DeviceTree dt = tree_of("clock-frequency:  08f0d17f\necache-size:  00100000\nname:  'x'\n");
  EXPECT_EQ(dt.sys_freq, 150);  // 149999999 Hz rounds up
  EXPECT_EQ(dt.cpu_ecache, 0);
  EXPECT_STREQ(dt.chip_name, "");

  dt = tree_of("name:  'x'\n");
  EXPECT_EQ(dt.sys_freq, 0);
  EXPECT_STREQ(dt.chip_name, "");

  dt = tree_of("clock-frequency:  0\necache-line-size:  40\nname:  'x'\n");
  EXPECT_EQ(dt.cpu_ecache, 0);
  EXPECT_STREQ(dt.chip_name, "");
}

TEST(DeviceTreeTest, HugeValuesSaturate) {
  DeviceTree dt = tree_of(
      "clock-frequency:  ffffffffffffffff\n"
      "ecache-line-size:  ffffffff\n"
      "ecache-nlines:  ffffffffff\n");
  EXPECT_EQ(dt.sys_freq, INT_MAX);
  EXPECT_EQ(dt.cpu_ecache, INT_MAX);
  EXPECT_EQ(mhz_from_hz(149499999), 149);
  EXPECT_EQ(kb_from_bytes(1023), 0);
}

}  // namespace
}  // namespace hestov
