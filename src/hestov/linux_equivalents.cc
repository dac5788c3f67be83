#include "hestov/linux_equivalents.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hestov/bounded_text.h"
#include "hestov/device_tree.h"
#include "hestov/release_text.h"
#include "hestov/sys_source.h"
#include "hestov/timed_source.h"

namespace hestov {

namespace {

constexpr size_t kSmallFile = 256;

// Reads up to size-1 bytes of a (pseudo) file and terminates them; -1 when
// the file cannot be read in time.
ssize_t read_file(const std::string& path, char* buf, size_t size) {
  return read_source_file(path, buf, size);
}

// A one-line sysfs text, trimmed; false when absent or empty.
bool read_value(const std::string& path, char* out, size_t out_size) {
  char buf[kSmallFile];
  if (read_file(path, buf, sizeof buf) < 0) {
    copy_text(out, out_size, "");
    return false;
  }
  copy_text(out, out_size, trim(buf));
  return out_size > 0 && out[0] != '\0';
}

long read_number(const std::string& path) {
  char buf[32];
  if (!read_value(path, buf, sizeof buf)) return -1;
  char* end;
  errno = 0;
  long v = strtol(buf, &end, 10);
  return end == buf || errno != 0 ? -1 : v;
}

bool is_dir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string cpu_dir(const std::string& root, int id) {
  return root + "/sys/devices/system/cpu/cpu" + std::to_string(id);
}

// Replaces every run of blanks by one space, dropping them at both ends,
// and cuts the result to fit.
void collapse_blanks(const char* in, char* out, size_t out_size) {
  size_t n = 0;
  bool gap = false;
  for (; *in != '\0'; ++in) {
    bool blank = *in == ' ' || *in == '\t' || *in == '\n' || *in == '\r';
    if (blank) {
      gap = n > 0;
      continue;
    }
    if (gap && n + 1 < out_size) out[n++] = ' ';
    gap = false;
    if (n + 1 < out_size) out[n++] = *in;
  }
  if (n > 0 && out[n - 1] == ' ') --n;  // a cut can end on a gap
  if (out_size > 0) out[n] = '\0';
}

// The first NUL-terminated string of a device-tree property.
bool dt_string(const std::string& root, const char* prop, char* out, size_t out_size) {
  char buf[kSmallFile];
  if (read_file(root + "/proc/device-tree/" + prop, buf, sizeof buf) <= 0) {
    copy_text(out, out_size, "");
    return false;
  }
  collapse_blanks(buf, out, out_size);
  return out_size > 0 && out[0] != '\0';
}

int round_mhz(double mhz) {
  if (!(mhz > 0) || mhz >= INT_MAX) return 0;
  return static_cast<int>(std::lround(mhz));
}

// Cache size text as sysfs ("1024K", "32M") or cpuinfo ("1024 KB") writes it.
int cache_kb(const char* text) {
  char* end;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (end == text || errno != 0 || v <= 0) return 0;
  while (*end == ' ') ++end;
  long scale = *end == 'M' ? 1024 : *end == 'G' ? 1024 * 1024 : 1;
  return v > INT_MAX / scale ? INT_MAX : static_cast<int>(v * scale);
}

}  // namespace

bool cpuinfo_value(const std::string& root, int cpu, const char* key, char* out, size_t out_size) {
  copy_text(out, out_size, "");
  FILE* in = open_source_file(root + "/proc/cpuinfo");
  if (in == nullptr) return false;
  char line[512];
  int current = -1;
  bool found = false;
  while (!found && read_line(in, line, sizeof line)) {
    char* colon = strchr(line, ':');
    if (colon == nullptr) continue;
    *colon = '\0';
    const char* name = trim(line);
    const char* value = trim(colon + 1);
    if (strcmp(name, "processor") == 0 && value[0] >= '0' && value[0] <= '9') {
      current = atoi(value);
      if (cpu >= 0 && strcmp(key, "processor") == 0 && current == cpu) found = true;
      continue;
    }
    if (strcmp(name, key) == 0 && (cpu < 0 || current == cpu)) {
      copy_text(out, out_size, value);
      found = true;
    }
  }
  fclose(in);
  return found;
}

int cpu_status(const std::string& root, int id) {
  if (id < 0) return -1;
  if (is_dir(root + "/sys/devices/system/cpu")) {
    std::string dir = cpu_dir(root, id);
    if (!is_dir(dir)) return -1;
    // cpu0 usually cannot go offline and then has no "online" file.
    return read_number(dir + "/online") == 0 ? P_OFFLINE : P_ONLINE;
  }
  char buf[16];
  return cpuinfo_value(root, id, "processor", buf, sizeof buf) ? P_ONLINE : -1;
}

int cpu_clock_mhz(const std::string& root, int id) {
  std::string freq = cpu_dir(root, id) + "/cpufreq/";
  // base_frequency is the nominal clock where the driver knows it;
  // cpuinfo_max_freq may include turbo steps.
  for (const char* file : {"base_frequency", "cpuinfo_max_freq"}) {
    long khz = read_number(freq + file);
    if (khz > 0) {
      long mhz = khz / 1000 + (khz % 1000 >= 500 ? 1 : 0);
      return mhz > INT_MAX ? INT_MAX : static_cast<int>(mhz);
    }
  }
  char buf[64];
  if (cpuinfo_value(root, id, "cpu MHz", buf, sizeof buf) ||
      cpuinfo_value(root, id, "clock", buf, sizeof buf))  // powerpc: "3000.000000MHz"
    return round_mhz(strtod(buf, nullptr));
  return 0;
}

int external_cache_kb(const std::string& root) {
  std::string base = cpu_dir(root, 0) + "/cache/index";
  int best_level = 0;
  int best_kb = 0;
  for (int i = 0; i < 32; ++i) {
    std::string dir = base + std::to_string(i);
    if (!is_dir(dir)) break;
    char type[32];
    char size[32];
    long level = read_number(dir + "/level");
    read_value(dir + "/type", type, sizeof type);
    if (level <= 0 || strcmp(type, "Instruction") == 0) continue;
    if (!read_value(dir + "/size", size, sizeof size)) continue;
    int kb = cache_kb(size);
    if (level > best_level || (level == best_level && kb > best_kb)) {
      best_level = static_cast<int>(level);
      best_kb = kb;
    }
  }
  if (best_kb > 0) return best_kb;
  char buf[64];
  return cpuinfo_value(root, -1, "cache size", buf, sizeof buf) ? cache_kb(buf) : 0;
}

void chip_name(const std::string& root, char* out, size_t out_size) {
  char buf[256];
  // x86, mips, powerpc and sparc, old arm.
  for (const char* key : {"model name", "cpu model", "cpu", "Processor"}) {
    if (cpuinfo_value(root, -1, key, buf, sizeof buf) && buf[0] != '\0') {
      collapse_blanks(buf, out, out_size);
      return;
    }
  }
  dt_string(root, "cpus/cpu@0/compatible", out, out_size);
}

int system_clock_mhz(const std::string& root) {
  char buf[17];
  ssize_t n = read_file(root + "/proc/device-tree/clock-frequency", buf, sizeof buf);
  if (n != 4 && n != 8) return 0;
  uint64_t hz = 0;  // device-tree cells are big-endian
  for (ssize_t i = 0; i < n; ++i) hz = hz << 8 | static_cast<unsigned char>(buf[i]);
  return mhz_from_hz(hz);
}

bool platform_name(const std::string& root, char* out, size_t out_size) {
  char buf[kSmallFile];
  if (read_value(root + "/sys/class/dmi/id/product_name", buf, sizeof buf)) {
    collapse_blanks(buf, out, out_size);
    return true;
  }
  return dt_string(root, "compatible", out, out_size);
}

void firmware_banner(const std::string& root, char* out, size_t out_size) {
  char vendor[kSmallFile];
  char product[kSmallFile];
  bool has_vendor = read_value(root + "/sys/class/dmi/id/sys_vendor", vendor, sizeof vendor);
  bool has_product = read_value(root + "/sys/class/dmi/id/product_name", product, sizeof product);
  if (has_vendor || has_product) {
    char both[2 * kSmallFile];
    if (!has_vendor || (has_product && strncmp(product, vendor, strlen(vendor)) == 0)) {
      snprintf(both, sizeof both, "%s", product);  // the product often names its maker
    } else if (!has_product) {
      snprintf(both, sizeof both, "%s", vendor);
    } else {
      snprintf(both, sizeof both, "%s %s", vendor, product);
    }
    collapse_blanks(both, out, out_size);
    return;
  }
  dt_string(root, "model", out, out_size);
}

void os_release(const std::string& root, char* out, size_t out_size) {
  copy_text(out, out_size, "");
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    FILE* in = open_source_file(root + path);
    if (in == nullptr) continue;
    os_release_name(in, out, out_size);
    fclose(in);
    return;
  }
}

}  // namespace hestov
