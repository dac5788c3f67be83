// The command line's operands and counting-mode suffixes, CPU discovery and
// the processor-set filter on fixture systems.
#include "pemto/pemto.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pemto/counters/processor.h"
#include "pemto/counters/sim_testing.h"
#include "pemto/models/models.h"
#include "pemto/strtoset.h"

namespace {

TEST(CommandLine, ProgramNameIsTheLastPathComponent) {
  EXPECT_EQ(progname_of("/usr/local/bin/Pemto"), "Pemto");
  EXPECT_EQ(progname_of("pemto2"), "pemto2");
  EXPECT_EQ(progname_of(nullptr), "Pemto");
}

int operands(std::vector<const char*> args, int nlist, Options* o) {
  std::vector<char*> argv;
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  return parse_operands(static_cast<int>(argv.size()), argv.data(), nlist, o);
}

TEST(CommandLine, OperandsSetTheIntervalPerSetAndTheCount) {
  Options o;
  EXPECT_EQ(operands({}, 20, &o), 0);
  EXPECT_EQ(o.interval, 5000u);
  EXPECT_EQ(o.count, -1);
  EXPECT_EQ(operands({"10", "5"}, 20, &o), 0);
  EXPECT_EQ(o.interval, 500u);
  EXPECT_EQ(o.count, 5);
  Options t;
  EXPECT_EQ(operands({"1"}, 22, &t), 0);
  EXPECT_EQ(t.interval, 45u);  // 45.45 truncated
  EXPECT_EQ(operands({"2", "-3"}, 22, &t), 0);
  EXPECT_EQ(t.count, -3);
}

TEST(CommandLine, OperandErrors) {
  for (std::vector<const char*> args : std::vector<std::vector<const char*>>{
           {"0.001"}, {"5", "0"}, {"1", "2", "3"}, {"abc"}, {"-5"}, {"1e300"}, {"nan"}}) {
    Options o;
    EXPECT_EQ(operands(args, 20, &o), 1) << args[0];
  }
}

TEST(CommandLine, SuffixKeepsEverySpecificationValid) {
  EXPECT_EQ(with_suffix("A,B", konly_string), "A,B,sys,nouser");
  EXPECT_EQ(with_suffix("A,B,", uk_string), "A,B,sys");
  EXPECT_EQ(with_suffix("", uk_string), "sys");
  EXPECT_EQ(with_suffix("A,B", ""), "A,B");
  // Every list of every simulated processor still parses with each suffix,
  // and the requests count in the chosen modes.
  strtoset_errfn = capture_message;
  for (const std::string& name : sim_processor_names()) {
    SimHandle h = open_sim(name);
    bool oom = false;
    std::unique_ptr<Cpu> cpu(create_cpu_model(h.cpc, &oom));
    ASSERT_NE(cpu, nullptr);
    for (auto list :
         {cpu->getPrEvents(), cpu->getPiEvents(), cpu->getPsEvents(), cpu->getPsMemoryEvents()}) {
      for (const std::string& spec : list) {
        for (const char* suffix : {konly_string, uk_string}) {
          captured_messages().clear();
          cpc_set_t* set = cpc_strtoset(h.cpc, with_suffix(spec, suffix).c_str(), 0);
          ASSERT_NE(set, nullptr) << name << ": " << spec << ": " << captured_messages();
          unsigned flags =
              suffix == konly_string ? CPC_COUNT_SYSTEM : CPC_COUNT_SYSTEM | CPC_COUNT_USER;
          for (const RequestView& r : requests_of(h.cpc, set)) EXPECT_EQ(r.flags, flags);
          cpc_set_destroy(h.cpc, set);
        }
      }
    }
    cpc_close(h.cpc);
  }
  strtoset_errfn = nullptr;
}

// A fixture sysfs: processor directories with their online state.
class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = processor_services_config();
    char pattern[] = "/tmp/pemto-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    processor_services_configure(saved_);
    std::string command = "rm -rf '" + root_ + "'";
    if (system(command.c_str()) != 0) perror(command.c_str());
  }
  // online: -1 for a processor without an "online" file.
  void cpu(int id, int online, int mhz) {
    std::string dir = root_ + "/cpu" + std::to_string(id);
    mkdir(dir.c_str(), 0755);
    if (online >= 0) std::ofstream(dir + "/online") << online << "\n";
    mkdir((dir + "/cpufreq").c_str(), 0755);
    std::ofstream(dir + "/cpufreq/base_frequency") << mhz * 1000 << "\n";
  }
  void use(const std::string& online_list) {
    std::ofstream(root_ + "/online") << online_list << "\n";
    ProcessorServicesConfig config = saved_;
    config.sysfs_cpu = root_;
    config.simulated_cpus = 0;
    processor_services_configure(config);
  }
  std::string root_;
  ProcessorServicesConfig saved_;
};

TEST_F(DiscoveryTest, OfflineTakesASlotGapsAreSkippedAndTheWalkEnds) {
  cpu(0, -1, 2000);
  cpu(1, 1, 2100);
  cpu(2, 0, 2200);
  cpu(5, 1, 2500);  // ids 3 and 4 do not exist
  use("0-1,5");
  ASSERT_EQ(processor_count(), 4);
  // One slot more than there are processors: the walk still ends.
  tstate slots[5] = {};
  ASSERT_EQ(discover_cpus(slots, 5), 4);
  EXPECT_EQ(slots[0].cpuid, 0);
  EXPECT_EQ(slots[0].clock, 2000.0);
  EXPECT_EQ(slots[1].cpuid, 1);
  EXPECT_EQ(slots[2].cpuid, -1);
  EXPECT_EQ(slots[3].cpuid, 5);
  EXPECT_EQ(slots[3].clock, 2500.0);
  EXPECT_EQ(number_cpus(slots, 4), 3);
  EXPECT_EQ(slots[3].index, 2);
  // Fewer slots than processors: the walk stops when they are full.
  tstate two[2] = {};
  EXPECT_EQ(discover_cpus(two, 2), 2);
  EXPECT_EQ(two[1].cpuid, 1);
}

TEST_F(DiscoveryTest, ProcessorsOutsideTheProcessSetAreNotSampled) {
  // The process may use the CPUs of its mask; one more online CPU is not in it.
  cpu_set_t mask;
  ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
  int outside = 0;
  for (int id = 0; id < CPU_SETSIZE; id++) {
    if (CPU_ISSET(id, &mask)) outside = id + 1;
  }
  for (int id = 0; id <= outside; id++) cpu(id, 1, 1000);
  use("0-" + std::to_string(outside));
  std::vector<tstate> slots(outside + 1);
  ASSERT_EQ(discover_cpus(slots.data(), outside + 1), outside + 1);
  testing::internal::CaptureStderr();
  filter_processor_set(slots.data(), outside + 1, "Pemto");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  for (int id = 0; id <= outside; id++) {
    EXPECT_EQ(slots[id].cpuid, CPU_ISSET(id, &mask) ? id : -1) << id;
  }
  EXPECT_EQ(number_cpus(slots.data(), outside + 1), CPU_COUNT(&mask));
}

}  // namespace
