#include "hestov/system_config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "hestov/bounded_text.h"
#include "hestov/test_scratch.h"

namespace hestov {
namespace {

std::string report(const system_config_t& cfg) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  if (out == nullptr) return "";
  write_sys_config(out, cfg);
  fclose(out);
  std::string text(buf, len);
  free(buf);
  return text;
}

system_config_t sample() {
  system_config_t c{};
  strcpy(c.sys_name, "db1");
  strcpy(c.date_str, "12/08/26");
  strcpy(c.time_str, "20:41:09");
  strcpy(c.os_name, "Solaris 10 5/08 s10s_u5wos_10 SPARC Generic_137111-08");
  strcpy(c.chip_name, "SUNW,UltraSPARC-IIIi");
  strcpy(c.arch_name, "sun4u");
  strcpy(c.banner_name, "Sun Fire V440");
  c.cpu_freq = c.sys_freq = 2400;
  c.ncpus = 1;
  c.mem_size = 1023;
  return c;
}

// The second and third lines of the report of `c`.
std::string tail_of(const system_config_t& c) {
  std::string r = report(c);
  size_t second = r.find('\n', r.find('\n') + 1);
  return r.substr(second + 1);
}

TEST(ReportTest, ClocksCachesCpusAndMemory) {
  struct Case {
    int cpu_freq, sys_freq, ecache, ncpus, mem;
    const char* tail;
  } cases[] = {
      {2400, 2400, 0, 1, 1023, "2400 MHz\nSun Fire V440   1 CPU  1023 MB memory\n"},
      {1503, 150, 512, 2, 1024,
       "1503/150 MHz   512 KB E$\nSun Fire V440   2 CPUs    1.00 GB memory\n"},
      {2096, 0, 1023, 0, 0, "2096 MHz   1023 KB E$\nSun Fire V440   0 CPU  0 MB memory\n"},
      {0, 0, 1024, 72, 65536, "0 MHz   1 MB E$\nSun Fire V440   72 CPUs   64.00 GB memory\n"},
      {0, 150, 1535, 2, 1048576 * 2,
       "0/150 MHz   1 MB E$\nSun Fire V440   2 CPUs  2048.00 GB memory\n"},
  };
  for (const Case& k : cases) {
    system_config_t c = sample();
    c.cpu_freq = k.cpu_freq;
    c.sys_freq = k.sys_freq;
    c.cpu_ecache = k.ecache;
    c.ncpus = k.ncpus;
    c.mem_size = k.mem;
    EXPECT_EQ(tail_of(c), std::string("SUNW,UltraSPARC-IIIi   sun4u   ") + k.tail);
  }
}

// Fixed answers; the processor and platform calls and the page size can fail.
class FakeSource : public SysSource {
 public:
  time_t time() override { return 86399; }
  int uname(struct utsname* u) override {
    *u = {};
    copy_text(u->nodename, sizeof u->nodename, std::string(40, 'n').c_str());
    copy_text(u->version, sizeof u->version, (std::string(29, 'v') + "!cut").c_str());
    copy_text(u->machine, sizeof u->machine, "sun4u");
    return 0;
  }
  long sysconf(int name) override { return name == _SC_NPROCESSORS_CONF ? 2 : -1; }
  const char* kernel_version(const struct utsname& u) override { return u.version; }
  long sysinfo(int, char*, long) override { return -1; }
  int p_online(processorid_t id, int) override { return id == 2 || id == 3 ? P_ONLINE : -1; }
  int processor_info(processorid_t id, processor_info_t* pi) override {
    *pi = processor_info_t{};
    pi->pi_clock = id == 2 ? 1503 : 900;
    return 0;
  }
  FILE* open_release_file() override { return nullptr; }
  const char* prtconf_path() override { return nullptr; }
  void os_release(char* out, size_t n) override { copy_text(out, n, "Debian 12"); }
  void firmware_banner(char* out, size_t n) override { copy_text(out, n, "QEMU"); }
  void firmware_device_tree(DeviceTree* dt) override {
    *dt = DeviceTree{};
    dt->cpu_ecache = 512;
    copy_text(dt->chip_name, sizeof dt->chip_name, "AMD EPYC");
  }
};

TEST(CollectorTest, FillsFromTheEquivalentsAndCutsTexts) {
  setenv("TZ", "UTC", 1);
  tzset();
  FakeSource src;
  system_config_t c;
  get_system_config(&c, src);
  EXPECT_STREQ(c.plat_name, "");
  EXPECT_EQ(report(c), std::string(29, 'n') + "   01/01/70   23:59:59\n" + "Debian 12 " +
                           std::string(29, 'v') + "!\n" +
                           "AMD EPYC   sun4u   1503 MHz   512 KB E$\n"
                           "QEMU   2 CPUs  0 MB memory\n");
}

}  // namespace
}  // namespace hestov
