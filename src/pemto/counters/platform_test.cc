#include "pemto/counters/platform.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

Platform platform_of(const std::map<std::string, std::string>& env) {
  return platform_from([&env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  });
}

TEST(Platform, ConfigurationFromTheEnvironment) {
  Platform platform = platform_of({{"PEMTO_SIMULATE_CPUS", "8"},
                                   {"PEMTO_SIMULATE", "UltraSPARC III"},
                                   {"PEMTO_SIMULATE_FAIL", "bind@2"},
                                   {"PEMTO_SYSFS_CPU", "/nowhere/cpu"},
                                   {"PEMTO_CPUINFO", "/nowhere/cpuinfo"},
                                   {"PEMTO_DEVICE_TREE", "/nowhere/tree"}});
  const ProcessorServicesConfig& config = platform.processors;
  EXPECT_EQ(config.simulated_cpus, 8);
  EXPECT_EQ(config.simulated_clock, 1050);
  EXPECT_EQ(config.sysfs_cpu, "/nowhere/cpu");
  EXPECT_EQ(config.cpuinfo, "/nowhere/cpuinfo");
  EXPECT_EQ(config.device_tree, "/nowhere/tree");
  EXPECT_EQ(platform.simulate, "UltraSPARC III");
  EXPECT_EQ(platform.simulate_failures, "bind@2");
  EXPECT_EQ(platform_of({{"PEMTO_SIMULATE_CPUS", "8"}, {"PEMTO_SIMULATE", "no such processor"}})
                .processors.simulated_clock,
            1000);
  EXPECT_EQ(platform_of({{"PEMTO_SIMULATE_CPUS", "many"}, {"PEMTO_SIMULATE", "UltraSPARC III"}})
                .processors.simulated_cpus,
            0);
  Platform empty = platform_of({});
  EXPECT_EQ(empty.processors.sysfs_cpu, "/sys/devices/system/cpu");
  EXPECT_EQ(empty.simulate, "");
}

}  // namespace
