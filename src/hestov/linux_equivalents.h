// The Linux places that hold what Solaris keeps in its release file, device
// tree and processor services. Every path lies under `root` ("" for the
// running system), so tests can lay out a whole machine in a directory.
#ifndef HESTOV_LINUX_EQUIVALENTS_H_
#define HESTOV_LINUX_EQUIVALENTS_H_

#include <cstddef>
#include <string>

namespace hestov {

// The value of `key` in /proc/cpuinfo: in the block of processor `cpu`, or
// the first one anywhere when cpu < 0. Returns false (out empty) when absent.
bool cpuinfo_value(const std::string& root, int cpu, const char* key, char* out, size_t out_size);

// P_ONLINE or P_OFFLINE for processor `id`; -1 when there is no such processor.
int cpu_status(const std::string& root, int id);

// Nominal clock of processor `id` in MHz from cpufreq, else /proc/cpuinfo;
// 0 when unknown.
int cpu_clock_mhz(const std::string& root, int id);

// Size in KB of the outermost data or unified cache of cpu0 from sysfs, else
// the "cache size" of /proc/cpuinfo; 0 when unknown.
int external_cache_kb(const std::string& root);

// Processor name from /proc/cpuinfo, else the device tree; blanks collapsed.
void chip_name(const std::string& root, char* out, size_t out_size);

// System clock in MHz from the device tree's root "clock-frequency"; 0 when absent.
int system_clock_mhz(const std::string& root);

// Platform name: DMI product name, else the device tree's first "compatible".
bool platform_name(const std::string& root, char* out, size_t out_size);

// Banner: DMI vendor and product, else the device tree's "model".
void firmware_banner(const std::string& root, char* out, size_t out_size);

// Release text from os-release (/etc, else /usr/lib).
void os_release(const std::string& root, char* out, size_t out_size);

}  // namespace hestov

#endif  // HESTOV_LINUX_EQUIVALENTS_H_
