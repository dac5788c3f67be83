// The model framework: choice of the model, banner, lists by report kind,
// aggregators and the bus clock.
#include "pemto/cpu.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "pemto/bus.h"
#include "pemto/counters/perf_backend.h"
#include "pemto/counters/processor.h"
#include "pemto/counters/sim_testing.h"
#include "pemto/models/models.h"

namespace {

std::unique_ptr<Cpu> model_for(const std::string& name, bool* oom = nullptr) {
  SimHandle h = open_sim(name);
  bool out_of_memory = false;
  std::unique_ptr<Cpu> cpu(create_cpu_model(h.cpc, &out_of_memory));
  if (oom) *oom = out_of_memory;
  cpc_close(h.cpc);
  return cpu;
}

TEST(ModelSelection, ExactNamesChooseTheirModels) {
  const std::pair<const char*, const char*> table[] = {
      {"UltraSPARC I&II", "UltraSPARC I&II"},
      {"UltraSPARC III", "UltraSPARC III"},
      {"UltraSPARC IIIi & IIIi+", "UltraSPARC IIIi & IIIi+"},
      {"UltraSPARC III+", "UltraSPARC III+"},
      {"UltraSPARC III+ & IV", "UltraSPARC III+"},
      {"UltraSPARC IV+", "UltraSPARC III+ & IV"},
      {"UltraSPARC T1", "UltraSPARC T1"},
      {"UltraSPARC T2", "UltraSPARC T2"},
      {"UltraSPARC T2+", "UltraSPARC T2"},
      {"Pentium Pro with MMX, Pentium II", "Pentium Pro with MMX, Pentium II"},
      {"AMD Opteron & Athlon64", "AMD Opteron & Athlon64"},
      {"SPARC64 VI & VII", "SPARC64 VI & VII"},
      {"Pentium 4 with HyperThreading", "Pentium 4 with HyperThreading"},
  };
  for (const auto& [name, type] : table) {
    std::unique_ptr<Cpu> cpu = model_for(name);
    ASSERT_NE(cpu, nullptr) << name;
    EXPECT_STREQ(cpu->getCpuType(), type) << name;
  }
  EXPECT_EQ(model_for("AMD Opteron & Athlon64")->getNbCounters(), 4);
  EXPECT_EQ(model_for("SPARC64 VI & VII")->getNbCounters(), 8);
  EXPECT_NE(dynamic_cast<US4p*>(model_for("UltraSPARC IV+").get()), nullptr);
  EXPECT_NE(dynamic_cast<Xeon*>(model_for("Pentium 4 with HyperThreading").get()), nullptr);
}

TEST(ModelSelection, CaseOrSpacingDoNotMatch) {
  for (const char* name : {"ultrasparc III", "UltraSPARC  III", "UltraSPARC III ", "", "Xeon"}) {
    bool oom = true;
    EXPECT_EQ(model_for(name, &oom), nullptr) << name;
    EXPECT_FALSE(oom);
  }
}

TEST(ModelSelection, BannerAndRefusal) {
  SimHandle h = open_sim("UltraSPARC T1");
  testing::internal::CaptureStdout();
  ASSERT_TRUE(select_cpu_model(h.cpc, "Pemto"));
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\n\tCPU Type: UltraSPARC T1 with 2 counters\n\tReference: " +
                std::string(cpc_cpuref(h.cpc)) + "\n\n");
  EXPECT_STREQ(targetCpu->getCpuType(), "UltraSPARC T1");
  EXPECT_EQ(nb_counters, 2);
  delete targetCpu;
  targetCpu = nullptr;
  cpc_close(h.cpc);

  h = open_sim("UltraSparc T1");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(select_cpu_model(h.cpc, "Pemto"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Pemto: UltraSparc T1 is not a recognized cpu type.\n");
  EXPECT_EQ(targetCpu, nullptr);
  cpc_close(h.cpc);
}

// Whatever its processor's name, a machine counted through perf_event gets
// the generic-event model, planned from the events the kernel opens.
TEST(ModelSelection, PerfEventBackendGetsTheGenericModel) {
  PerfSyscalls sys;
  sys.open = [](perf_event_attr* attr, pid_t, int, int, unsigned long) {
    if (attr->type == PERF_TYPE_HARDWARE) return 50;
    errno = ENOENT;
    return -1;
  };
  sys.read = [](int, void*, size_t) -> ssize_t { return -1; };
  sys.ioctl = [](int, unsigned long) { return 0; };
  sys.close = [](int) { return 0; };
  int err = 0;
  std::unique_ptr<PerfBackend> backend = PerfBackend::open(
      sys, "Intel(R) Xeon(R) Gold 6130", [] { return uint64_t{0}; }, [](int) { return 2100; },
      &err);
  ASSERT_NE(backend, nullptr);
  cpc_t* cpc = cpc_open_backend(CPC_VER_CURRENT, std::move(backend));
  bool oom = false;
  std::unique_ptr<Cpu> cpu(create_cpu_model(cpc, &oom));
  ASSERT_NE(cpu, nullptr);
  EXPECT_NE(dynamic_cast<LinuxPerf*>(cpu.get()), nullptr);
  EXPECT_EQ(cpu->getNbCounters(), 4);
  EXPECT_EQ(
      cpu->getPiEvents(),
      (std::vector<std::string>{"instructions,cpu-cycles,branch-instructions,branch-misses",
                                "instructions,cache-misses",
                                "instructions,stalled-cycles-backend,stalled-cycles-frontend"}));
  cpc_close(cpc);
}

TEST(CpuBase, ListsAndComputationFollowTheMetricsType) {
  US3 cpu(2);
  cpu.setMetricsType(kPerReference);
  EXPECT_EQ(cpu.getEvents(), cpu.getPrEvents());
  cpu.setMetricsType(kPerSecond);
  EXPECT_EQ(cpu.getEvents(), cpu.getPsEvents());
  cpu.setMetricsType(kMemory);
  EXPECT_EQ(cpu.getEvents(), cpu.getPsMemoryEvents());
  cpu.setMetricsType(7);
  EXPECT_EQ(cpu.getEvents(), cpu.getPiEvents());
  US2 no_memory(2);
  no_memory.setMetricsType(kMemory);
  EXPECT_TRUE(no_memory.getEvents().empty());

  // Another type computes nothing, nor does a memory pass without memory metrics.
  ASSERT_TRUE(metrics.create(1));
  SampleMatrix m(22, 2);
  for (int s = 0; s < 22; s++) {
    m.row(s)[0] = m.row(s)[1] = 10;
    m.row(s)[2] = 100;
  }
  cpu.calc_metrics(0, m, 1000, 100);
  no_memory.calc_metrics(0, m, 1000, 100);
  EXPECT_EQ(metrics.get(0, 0), 0.0);
  cpu.setMetricsType(kPerInstruction);
  cpu.calc_metrics(0, m, 1000, 100);
  EXPECT_EQ(metrics.get(0, 0), 100.0);
  metrics.destroy();
}

TEST(Aggregators, SumAverageAndMaximum) {
  ASSERT_TRUE(metrics.create(3));
  const double column0[] = {1.5, -4.0, 2.5}, column1[] = {-1.0, -1.0, -1.0};
  for (int i = 0; i < 3; i++) {
    metrics.set(i, 0, column0[i]);
    metrics.set(i, 1, column1[i]);
  }
  EXPECT_DOUBLE_EQ(sum_metric(3, 0), 0.0);
  EXPECT_DOUBLE_EQ(sum_metric(0, 0), 0.0);
  EXPECT_DOUBLE_EQ(avg_metric(2, 0), -1.25);
  EXPECT_DOUBLE_EQ(max_metric(3, 0), 2.5);
  EXPECT_DOUBLE_EQ(avg_metric(3, 1), -1.0);
  EXPECT_DOUBLE_EQ(max_metric(3, 1), 0.0);  // negative values never win
  metrics.destroy();
}

class BusClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = processor_services_config();
    char pattern[] = "/tmp/pemto-bus-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    processor_services_configure(saved_);
    std::string command = "rm -rf '" + root_ + "'";
    if (system(command.c_str()) != 0) perror(command.c_str());
  }
  // A tree with a clock-frequency cell (big-endian) on node, "" for the root.
  double clock_with(const std::string& node, uint32_t hz) {
    std::string dir = root_ + "/t" + std::to_string(trees_++);
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/cpus").c_str(), 0755);
    mkdir((dir + "/cpus/cpu@0").c_str(), 0755);
    const char cell[4] = {static_cast<char>(hz >> 24), static_cast<char>(hz >> 16),
                          static_cast<char>(hz >> 8), static_cast<char>(hz)};
    if (!node.empty() || hz) {
      std::ofstream(dir + node + "/clock-frequency", std::ios::binary).write(cell, 4);
    }
    ProcessorServicesConfig config = saved_;
    config.device_tree = dir;
    processor_services_configure(config);
    return get_bus_clock();
  }
  std::string root_;
  int trees_ = 0;
  ProcessorServicesConfig saved_;
};

TEST_F(BusClockTest, RoundsToWholeMegahertz) {
  EXPECT_EQ(clock_with("", 1499999), 1.0);
  EXPECT_EQ(clock_with("", 1500000), 2.0);
  EXPECT_EQ(clock_with("", 150000000), 150.0);
  // Above 2^31 Hz the cell is still a clock, not a negative number.
  EXPECT_EQ(clock_with("", 3000000000u), 3000.0);
}

TEST_F(BusClockTest, FirstNodeWithTheProperty) {
  EXPECT_EQ(clock_with("/cpus/cpu@0", 1200000000u), 1200.0);
  // No node carries it: 0.
  EXPECT_EQ(clock_with("", 0), 0.0);
  ProcessorServicesConfig config = saved_;
  config.device_tree = root_ + "/missing";
  processor_services_configure(config);
  EXPECT_EQ(get_bus_clock(), 0.0);
}

}  // namespace
