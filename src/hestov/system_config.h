// The system configuration record, its collector and its report.
#ifndef HESTOV_SYSTEM_CONFIG_H_
#define HESTOV_SYSTEM_CONFIG_H_

#include <cstdint>
#include <cstdio>

#include "hestov/device_tree.h"
#include "hestov/sys_source.h"

namespace hestov {

// Texts are NUL-terminated and cut to fit; those no source fills stay empty.
struct system_config_t {
  char time_str[30];              // local time, "%H:%M:%S"
  char date_str[30];              // local date, "%x"
  char sys_name[30];              // node name
  char os_name[100];              // release text, a space, the kernel version
  char arch_name[30];             // machine hardware name
  char plat_name[30];             // platform name
  char chip_name[kChipNameSize];  // processor name
  char banner_name[100];          // hardware banner
  int32_t mem_size;               // physical memory in MB
  int32_t sys_freq;               // system clock in MHz; 0 when not found
  int32_t cpu_freq;               // processor clock in MHz; 0 when not found
  int32_t cpu_ecache;             // external cache in KB; 0 when not found
  int32_t ncpus;                  // configured processors
};

// Fills `cfg` from `src`. Missing sources leave their fields empty or 0.
// Ends the program through perrorExit when the prtconf child cannot be
// killed or reaped.
void get_system_config(system_config_t* cfg, SysSource& src);
// The same from the running host (see HostSource::from_environment).
void get_system_config(system_config_t* cfg);

// Writes the four-line report of `cfg` to `out`.
void write_sys_config(FILE* out, const system_config_t& cfg);

// Collects the configuration and writes its report to `out`. Returns 0, or
// -1 when the report could not be written.
int print_sys_config(FILE* out, SysSource& src);
int print_sys_config(FILE* out);

}  // namespace hestov

#endif  // HESTOV_SYSTEM_CONFIG_H_
