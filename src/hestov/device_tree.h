// Values read from the firmware device tree through the prtconf tool.
#ifndef HESTOV_DEVICE_TREE_H_
#define HESTOV_DEVICE_TREE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace hestov {

inline constexpr size_t kChipNameSize = 30;

struct DeviceTree {
  int sys_freq = 0;    // system clock in MHz; 0 when not found
  int cpu_ecache = 0;  // external cache in KB; 0 when not found
  char chip_name[kChipNameSize] = "";
};

// Clock in whole MHz, rounded, from Hz; saturates at INT_MAX.
int mhz_from_hz(uint64_t hz);
// Size in KB from bytes; saturates at INT_MAX.
int kb_from_bytes(uint64_t bytes);

// Reads the device-tree values from prtconf output, in the order the tool
// prints them: the first "clock-frequency:", then (only after an
// "ecache-line-size:") the first "ecache-size:" or "ecache-nlines:", then the
// quoted text of the next "name:  ". Values not found stay 0 or empty.
void read_device_tree(FILE* in, DeviceTree* dt);

enum class PrtconfStatus {
  kDone,        // child ran (or failed to exec, which it reported itself) and was reaped
  kNotStarted,  // no pipe or no fork; nothing read
  kKillFailed,  // the child could not be killed
  kWaitError,   // the child could not be reaped
};

// Runs `path` as "prtconf -vp" in a child whose standard output is a pipe,
// reads the device-tree values from it, then kills the child (it may still be
// writing) with its process group and reaps it. A child that cannot exec
// writes "sys child: exec failed" to standard error and ends with status 1;
// the values then stay 0 and empty, as they do when the child has not ended
// its output within source_timeout() seconds.
PrtconfStatus run_prtconf(const char* path, DeviceTree* dt);

}  // namespace hestov

#endif  // HESTOV_DEVICE_TREE_H_
