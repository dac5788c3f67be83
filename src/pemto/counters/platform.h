// What Pemto takes from the environment it runs in, read once at start-up
// into one description that is handed down: the counter library takes its
// backend and clock from it, the processor services their files and their
// simulated processors. Nothing below the start-up reads the environment, so
// a test describes the machine it wants by filling in a Platform. (The shape
// of LevelDB's Env::Default(): one description of the real machine, made in
// one place, and replaceable wherever it is used.)
//
// The environment variables, each ignored when empty:
//   PEMTO_SIMULATE       processor name: simulated counters of that processor
//                        instead of the kernel's perf_event counters
//   PEMTO_SIMULATE_FAIL  "bind@3,sample@1,unbind@*": simulated operations that
//                        fail on those processors (* for all), see
//                        SimBackend::set_failures
//   PEMTO_SYSFS_CPU      cpu directory (default /sys/devices/system/cpu)
//   PEMTO_CPUINFO        cpuinfo file (default /proc/cpuinfo)
//   PEMTO_DEVICE_TREE    device tree (default /proc/device-tree, see devinfo.h)
//   PEMTO_SIMULATE_CPUS  N: pretend to have processors 0 .. N-1 (see
//                        processor.h), clocked at the simulated processor's
//                        clock, or 1000 MHz when PEMTO_SIMULATE names none;
//                        anything but decimal digits making 1 to 4096 is an
//                        error: a count the tests rely on must not silently
//                        become the host's processors
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pemto/counters/processor.h"

// Monotonic time in nanoseconds.
uint64_t monotonic_ns();

struct Platform {
  std::string simulate;           // simulated processor name; empty: perf_event
  std::string simulate_failures;  // failure list of the simulated processor
  ProcessorServicesConfig processors;
  std::function<uint64_t()> now = monotonic_ns;  // the counters' clock, nanoseconds
  std::string error;  // why a variable cannot be used, naming it; empty: none
};

// Looks a variable up: its value, or null when it is not set.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// The platform the variables describe.
Platform platform_from(const EnvironmentLookup& lookup);
// The platform of this process's environment. A variable that cannot be
// used is a start-up error: its message goes to standard error after the
// program's name, and the process exits with status 1.
Platform platform_from_environment();
