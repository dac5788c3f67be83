#include "pemto/counters/processor.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

// A directory tree for one test, removed at its end.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/pemto-processor-XXXXXX";
    const char* dir = mkdtemp(pattern);
    root_ = dir ? dir : "";
  }
  ~Scratch() {
    if (!root_.empty()) {
      std::string command = "rm -rf '" + root_ + "'";
      if (system(command.c_str()) != 0) perror(command.c_str());
    }
  }
  // Writes path (relative to the root) and its directories.
  void write(const std::string& path, const std::string& text) const {
    std::string full = root_ + "/" + path;
    for (size_t slash = full.find('/', 1); slash != std::string::npos;
         slash = full.find('/', slash + 1)) {
      mkdir(full.substr(0, slash).c_str(), 0755);
    }
    std::ofstream(full) << text;
  }
  void dir(const std::string& path) const { write(path + "/.keep", ""); }
  std::string path(const std::string& rel) const { return root_ + "/" + rel; }

 private:
  std::string root_;
};

// Restores the processor services' configuration after each test.
class ProcessorTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = processor_services_config(); }
  void TearDown() override { processor_services_configure(saved_); }

  void use_fixture() {
    scratch_.write("sys/cpu0/cpufreq/base_frequency", "2400000\n");
    scratch_.write("sys/cpu0/cpufreq/cpuinfo_max_freq", "3500000\n");
    scratch_.write("sys/cpu1/online", "1\n");
    scratch_.write("sys/cpu1/cpufreq/cpuinfo_max_freq", "3100000\n");
    scratch_.write("sys/cpu2/online", "0\n");
    scratch_.dir("sys/cpu4");
    scratch_.dir("sys/cpufreq");
    scratch_.dir("sys/cpuidle");
    scratch_.write("sys/online", "0-1,4\n");
    scratch_.write("cpuinfo",
                   "processor\t: 0\ncpu MHz\t\t: 1000.0\n\n"
                   "processor\t: 2\ncpu MHz\t\t: 1500.2\n\n"
                   "processor\t: 4\nmodel name\t: Test CPU\ncpu MHz\t\t: 1999.6\n\n");
    ProcessorServicesConfig config;
    config.sysfs_cpu = scratch_.path("sys");
    config.cpuinfo = scratch_.path("cpuinfo");
    config.device_tree = scratch_.path("no-device-tree");
    processor_services_configure(config);
  }

  ProcessorServicesConfig saved_;
  Scratch scratch_;
};

int clock_of(processorid_t cpu) {
  processor_info_t info;
  if (processor_info(cpu, &info) != 0) return -1;
  return info.pi_clock;
}

TEST_F(ProcessorTest, OnlineStateFromSysfs) {
  use_fixture();
  EXPECT_EQ(p_online(0, P_STATUS), P_ONLINE);  // no "online" file: cannot go offline
  EXPECT_EQ(p_online(1, P_STATUS), P_ONLINE);
  EXPECT_EQ(p_online(2, P_STATUS), P_OFFLINE);
  EXPECT_EQ(p_online(4, P_STATUS), P_ONLINE);  // from the online list
  errno = 0;
  EXPECT_EQ(p_online(3, P_STATUS), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(p_online(-1, P_STATUS), -1);
  EXPECT_EQ(p_online(0, P_OFFLINE), -1);
  EXPECT_EQ(errno, ENOTSUP);
  EXPECT_EQ(processor_count(), 4);
  EXPECT_EQ(processor_max_id(), 4);
}

TEST_F(ProcessorTest, ClocksFromCpufreqThenCpuinfo) {
  use_fixture();
  EXPECT_EQ(clock_of(0), 2400);  // the nominal clock before the highest
  EXPECT_EQ(clock_of(1), 3100);
  EXPECT_EQ(clock_of(2), 1500);
  EXPECT_EQ(clock_of(4), 2000);
  EXPECT_EQ(clock_of(3), -1);
  processor_info_t info;
  ASSERT_EQ(processor_info(2, &info), 0);
  EXPECT_EQ(info.pi_state, P_OFFLINE);
  EXPECT_EQ(processor_clock_table(), (std::vector<int>{2400, 3100, 1500, 0, 2000}));
}

TEST_F(ProcessorTest, ThisMachine) {
  processor_services_configure(ProcessorServicesConfig());
  EXPECT_EQ(processor_count(), static_cast<int>(sysconf(_SC_NPROCESSORS_CONF)));
  EXPECT_EQ(p_online(0, P_STATUS), P_ONLINE);
  EXPECT_EQ(p_online(processor_max_id() + 1, P_STATUS), -1);
  std::vector<int> clocks = processor_clock_table();
  ASSERT_FALSE(clocks.empty());
  EXPECT_EQ(clock_of(0), clocks[0]);
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_GT(clocks[0], 0);  // x86 cpuinfo always states a clock
#endif
}

TEST_F(ProcessorTest, ProcessorSetIsTheAffinityMask) {
  processor_services_configure(ProcessorServicesConfig());
  if (sysconf(_SC_NPROCESSORS_ONLN) < 2) GTEST_SKIP() << "needs two processors";
  std::thread([] {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    if (!CPU_ISSET(0, &all) || !CPU_ISSET(1, &all)) return;
    psetid_t mine = 7, cpu0 = 7, cpu1 = 7;
    ASSERT_EQ(pset_bind(PS_QUERY, P_PID, P_MYID, &mine), 0);
    ASSERT_EQ(pset_assign(PS_QUERY, 0, &cpu0), 0);
    EXPECT_EQ(mine, PS_NONE);
    EXPECT_EQ(cpu0, PS_NONE);

    cpu_set_t only0;
    CPU_ZERO(&only0);
    CPU_SET(0, &only0);
    ASSERT_EQ(sched_setaffinity(0, sizeof only0, &only0), 0);
    ASSERT_EQ(pset_bind(PS_QUERY, P_PID, P_MYID, &mine), 0);
    ASSERT_EQ(pset_assign(PS_QUERY, 0, &cpu0), 0);
    ASSERT_EQ(pset_assign(PS_QUERY, 1, &cpu1), 0);
    EXPECT_NE(mine, PS_NONE);
    EXPECT_EQ(cpu0, mine);
    EXPECT_NE(cpu1, mine);
    errno = 0;
    EXPECT_EQ(pset_assign(PS_QUERY, processor_max_id() + 1, &cpu1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(pset_bind(PS_MYID, P_PID, P_MYID, &mine), -1);
    EXPECT_EQ(errno, ENOTSUP);
  }).join();
}

TEST_F(ProcessorTest, PinningAThreadAndLettingGo) {
  processor_services_configure(ProcessorServicesConfig());
  std::thread([] {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    processorid_t last = processor_max_id();
    if (p_online(last, P_STATUS) != P_ONLINE || !CPU_ISSET(last, &before)) return;
    ASSERT_EQ(pin_thread_to_processor(last), 0);
    EXPECT_EQ(pinned_processor(), last);
    EXPECT_EQ(sched_getcpu(), last);
    unpin_thread();
    EXPECT_EQ(pinned_processor(), -1);
    cpu_set_t after;
    ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
    errno = 0;
    EXPECT_EQ(pin_thread_to_processor(last + 1), -1);
    EXPECT_EQ(errno, EINVAL);
  }).join();
}

TEST_F(ProcessorTest, SimulatedProcessors) {
  ProcessorServicesConfig config;
  config.simulated_cpus = 8;
  config.simulated_clock = 1200;
  processor_services_configure(config);
  EXPECT_EQ(processor_count(), 8);
  EXPECT_EQ(processor_max_id(), 7);
  EXPECT_EQ(p_online(7, P_STATUS), P_ONLINE);
  EXPECT_EQ(p_online(8, P_STATUS), -1);
  EXPECT_EQ(clock_of(5), 1200);
  psetid_t set = 7;
  ASSERT_EQ(pset_assign(PS_QUERY, 6, &set), 0);
  EXPECT_EQ(set, PS_NONE);
  std::thread([] {
    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    int usable = CPU_COUNT(&mask);
    int host = -1;
    for (int cpu = 0, k = 0; cpu < CPU_SETSIZE; cpu++) {
      if (CPU_ISSET(cpu, &mask) && k++ == 5 % usable) host = cpu;
    }
    ASSERT_EQ(pin_thread_to_processor(5), 0);
    EXPECT_EQ(pinned_processor(), 5);
    EXPECT_EQ(sched_getcpu(), host);
    unpin_thread();
  }).join();
}

TEST(Priocntl, RealTimeClassIsRoundRobin) {
  pcinfo_t info = {};
  snprintf(info.pc_clname, sizeof info.pc_clname, "%s", "RT");
  ASSERT_NE(priocntl(P_PID, 0, PC_GETCID, &info), -1);
  id_t rt = info.pc_cid;
  EXPECT_EQ(info.pc_clinfo[0], 59);
  snprintf(info.pc_clname, sizeof info.pc_clname, "%s", "XX");
  errno = 0;
  EXPECT_EQ(priocntl(P_PID, 0, PC_GETCID, &info), -1);
  EXPECT_EQ(errno, EINVAL);

  // Entering the class changes the scheduling of the process, so in a child.
  EXPECT_EXIT(
      {
        pcparms_t params = {};
        params.pc_cid = rt;
        params.pc_rtparms.rt_pri = RT_NOCHANGE;
        params.pc_rtparms.rt_tqnsecs = RT_TQDEF;
        if (priocntl(P_PID, P_MYID, PC_SETPARMS, &params) == -1) exit(2);
        if (sched_getscheduler(0) != SCHED_RR) exit(3);
        pcparms_t now = {};
        if (priocntl(P_PID, P_MYID, PC_GETPARMS, &now) == -1 || now.pc_cid != rt) exit(4);
        params.pc_rtparms.rt_pri = 60;
        if (priocntl(P_PID, P_MYID, PC_SETPARMS, &params) != -1) exit(5);
        exit(0);
      },
      ::testing::ExitedWithCode(geteuid() == 0 ? 0 : 2), "");
}

TEST(Threads, CreateAndJoin) {
  thread_t tid;
  int value = 20;
  ASSERT_EQ(thr_create(
                nullptr, 0,
                [](void* arg) -> void* {
                  *static_cast<int*>(arg) += 1;
                  return arg;
                },
                &value, THR_BOUND | THR_NEW_LWP, &tid),
            0);
  thread_t departed;
  void* status = nullptr;
  ASSERT_EQ(thr_join(tid, &departed, &status), 0);
  EXPECT_EQ(status, &value);
  EXPECT_EQ(value, 21);
  EXPECT_TRUE(pthread_equal(departed, tid));

  char stack[64];
  EXPECT_EQ(thr_create(
                stack, sizeof stack, [](void*) -> void* { return nullptr; }, nullptr, 0, &tid),
            ENOTSUP);
  EXPECT_EQ(thr_create(
                nullptr, 0, [](void*) -> void* { return nullptr; }, nullptr, 0x1000, &tid),
            EINVAL);
}

}  // namespace
