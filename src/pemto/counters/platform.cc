#include "pemto/counters/platform.h"

#include <errno.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>

#include "pemto/counters/sim_backend.h"

namespace {

constexpr int kMaxSimulatedCpus = 4096;

// Decimal digits only, so that " 8", "8x" or "2.5" are not taken for 8 or 2.
bool simulated_cpu_count(const char* text, int* count) {
  int n = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    n = n * 10 + (*c - '0');
    if (n > kMaxSimulatedCpus) return false;  // also keeps n from overflowing
  }
  if (n < 1) return false;
  *count = n;
  return true;
}

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
    int n = 0;
    if (simulated_cpu_count(v, &n)) {
      config.simulated_cpus = n;
      config.simulated_clock = sim_processor_clock(platform.simulate);
      if (config.simulated_clock <= 0) config.simulated_clock = 1000;
    } else {
      char message[160];
      snprintf(message, sizeof message,
               "PEMTO_SIMULATE_CPUS is \"%.64s\": it must be a whole number from 1 to %d", v,
               kMaxSimulatedCpus);
      platform.error = message;
    }
  }
  return platform;
}

Platform platform_from_environment() {
  Platform platform =
      platform_from([](const char* name) -> const char* { return getenv(name); });
  if (!platform.error.empty()) {
    fprintf(stderr, "%s: %s\n", program_invocation_short_name, platform.error.c_str());
    exit(1);
  }
  return platform;
}
