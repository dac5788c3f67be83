#include "pemto/counters/platform.h"

#include <time.h>

#include <cstdlib>

#include "pemto/counters/sim_backend.h"

namespace {

constexpr long long kMaxSimulatedCpus = 4096;

}  // namespace

uint64_t monotonic_ns() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

Platform platform_from(const EnvironmentLookup& lookup) {
  Platform platform;
  ProcessorServicesConfig& config = platform.processors;
  const char* v;
  if ((v = lookup("PEMTO_SIMULATE")) && *v) platform.simulate = v;
  if ((v = lookup("PEMTO_SIMULATE_FAIL"))) platform.simulate_failures = v;
  if ((v = lookup("PEMTO_SYSFS_CPU")) && *v) config.sysfs_cpu = v;
  if ((v = lookup("PEMTO_CPUINFO")) && *v) config.cpuinfo = v;
  if ((v = lookup("PEMTO_DEVICE_TREE")) && *v) config.device_tree = v;
  if ((v = lookup("PEMTO_SIMULATE_CPUS")) && *v) {
    long long n;
    if (leading_number(v, &n) && n > 0 && n <= kMaxSimulatedCpus) {
      config.simulated_cpus = static_cast<int>(n);
      config.simulated_clock = sim_processor_clock(platform.simulate);
      if (config.simulated_clock <= 0) config.simulated_clock = 1000;
    }
  }
  return platform;
}

Platform platform_from_environment() {
  return platform_from([](const char* name) -> const char* { return getenv(name); });
}
