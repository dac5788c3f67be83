#include "hestov/linux_equivalents.h"

#include <gtest/gtest.h>

#include <string>

#include "hestov/host_source.h"
#include "hestov/test_scratch.h"

namespace hestov {
namespace {

// Two processors, the second offline, as /proc and /sys show them.
class LinuxRootTest : public testing::Test {
 protected:
  void SetUp() override {
    s.write("proc/cpuinfo",
            "processor\t: 0\nvendor_id\t: GenuineIntel\n"
            "model name\t: Intel(R) Xeon(R) CPU           E5462  @ 2.80GHz\n"
            "cpu MHz\t\t: 2793.510\ncache size\t: 6144 KB\n\n"
            "processor\t: 1\nmodel name\t: other\ncpu MHz\t\t: 1200.000\n");
    s.write("sys/devices/system/cpu/cpu0/uevent", "");
    s.write("sys/devices/system/cpu/cpu1/online", "0\n");
    root = s.dir();
  }
  void cache(int index, const char* level, const char* type, const char* size) {
    std::string dir = "sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/";
    s.write(dir + "level", level);
    s.write(dir + "type", type);
    s.write(dir + "size", size);
  }
  Scratch s;
  std::string root;
  char out[30];
};

TEST_F(LinuxRootTest, Processors) {
  EXPECT_EQ(cpu_status(root, 0), P_ONLINE);
  EXPECT_EQ(cpu_status(root, 1), P_OFFLINE);
  EXPECT_EQ(cpu_status(root, 2), -1);
  EXPECT_EQ(cpu_clock_mhz(root, 0), 2794);
  EXPECT_EQ(cpu_clock_mhz(root, 1), 1200);
  s.write("sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3500000\n");
  EXPECT_EQ(cpu_clock_mhz(root, 0), 3500);
  s.write("sys/devices/system/cpu/cpu0/cpufreq/base_frequency", "2799600\n");
  EXPECT_EQ(cpu_clock_mhz(root, 0), 2800);
  chip_name(root, out, sizeof out);
  EXPECT_STREQ(out, "Intel(R) Xeon(R) CPU E5462 @");
}

TEST_F(LinuxRootTest, ExternalCacheIsTheOutermostDataCache) {
  EXPECT_EQ(external_cache_kb(root), 6144);  // cpuinfo, without sysfs caches
  cache(0, "1", "Data", "32K");
  cache(1, "1", "Instruction", "32K");
  cache(2, "2", "Unified", "1024K");
  EXPECT_EQ(external_cache_kb(root), 1024);
  cache(3, "3", "Unified", "32M");
  EXPECT_EQ(external_cache_kb(root), 32768);
}

TEST_F(LinuxRootTest, FirmwareNames) {
  EXPECT_FALSE(platform_name(root, out, sizeof out));
  firmware_banner(root, out, sizeof out);
  EXPECT_STREQ(out, "");
  s.write("proc/device-tree/model", std::string("Raspberry Pi 4 Model B\0", 23));
  s.write("proc/device-tree/compatible", std::string("raspberrypi,4-model-b\0brcm,bcm2711\0", 35));
  s.write("proc/device-tree/clock-frequency", std::string("\x08\xf0\xd1\x80", 4));
  firmware_banner(root, out, sizeof out);
  EXPECT_STREQ(out, "Raspberry Pi 4 Model B");
  EXPECT_TRUE(platform_name(root, out, sizeof out));
  EXPECT_STREQ(out, "raspberrypi,4-model-b");
  EXPECT_EQ(system_clock_mhz(root), 150);

  s.write("sys/class/dmi/id/sys_vendor", "Dell Inc.\n");
  s.write("sys/class/dmi/id/product_name", "PowerEdge R740\n");
  firmware_banner(root, out, sizeof out);
  EXPECT_STREQ(out, "Dell Inc. PowerEdge R740");
  s.write("sys/class/dmi/id/product_name", "Dell Inc. PowerEdge R740\n");
  firmware_banner(root, out, sizeof out);
  EXPECT_STREQ(out, "Dell Inc. PowerEdge R740");  // the maker is not named twice
}

TEST_F(LinuxRootTest, HostSourceChoosesItsTools) {
  HostSource bare(root, "");
  EXPECT_EQ(bare.prtconf_path(), nullptr);
  EXPECT_EQ(bare.open_release_file(), nullptr);
  EXPECT_EQ(bare.p_online(1, P_STATUS), P_OFFLINE);
  EXPECT_EQ(bare.p_online(0, 0), -1);  // only asks, never changes
  char plat[8];
  s.write("usr/lib/os-release", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
  char release[100];
  bare.os_release(release, sizeof release);
  EXPECT_STREQ(release, "Debian GNU/Linux 12 (bookworm)");
  s.write("sys/class/dmi/id/product_name", "Standard PC (i440FX + PIIX, 1996)\n");
  EXPECT_EQ(bare.sysinfo(SI_PLATFORM, plat, sizeof plat), 34);
  EXPECT_STREQ(plat, "Standar");

  std::string tool = s.write("usr/sbin/prtconf", "", 0755);
  EXPECT_EQ(HostSource(root, "").prtconf_path(), tool);
  EXPECT_STREQ(HostSource(root, "/no/such/tool").prtconf_path(), "/no/such/tool");
}

}  // namespace
}  // namespace hestov
