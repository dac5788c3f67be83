#include "pemto/counters/perf_backend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pemto/counters/cpc.h"
#include "pemto/counters/platform.h"
#include "pemto/counters/sim_testing.h"

namespace {

// A kernel that offers some events and records what it is asked for.
struct FakeKernel {
  struct Open {
    uint32_t type;
    uint64_t config;
    pid_t pid;
    int cpu;
    bool exclude_user, exclude_kernel;
  };
  int refuse_with = 0;  // errno for every event, when set
  bool hardware_only = false;
  int fail_cpu_open_after = -1;  // per-CPU opens that succeed before one fails
  std::vector<Open> opens;       // per-CPU opens only
  std::set<int> live, enabled;
  int next_fd = 100;
  uint64_t value = 1000, time_enabled = 200, time_running = 200;

  PerfSyscalls calls() {
    PerfSyscalls sys;
    sys.open = [this](perf_event_attr* attr, pid_t pid, int cpu, int, unsigned long) {
      if (refuse_with) {
        errno = refuse_with;
        return -1;
      }
      if (hardware_only && attr->type != PERF_TYPE_HARDWARE) {
        errno = ENOENT;
        return -1;
      }
      if (pid == -1) {
        if (fail_cpu_open_after == 0) {
          errno = EACCES;
          return -1;
        }
        if (fail_cpu_open_after > 0) fail_cpu_open_after--;
        opens.push_back({attr->type, attr->config, pid, cpu, attr->exclude_user == 1,
                         attr->exclude_kernel == 1});
      }
      live.insert(next_fd);
      return next_fd++;
    };
    sys.read = [this](int fd, void* buf, size_t count) -> ssize_t {
      if (!live.count(fd) || count < 24) {
        errno = EBADF;
        return -1;
      }
      uint64_t data[3] = {value, time_enabled, time_running};
      memcpy(buf, data, sizeof data);
      return 24;
    };
    sys.ioctl = [this](int fd, unsigned long request) {
      if (request == PERF_EVENT_IOC_ENABLE) enabled.insert(fd);
      return 0;
    };
    sys.close = [this](int fd) {
      live.erase(fd);
      enabled.erase(fd);
      return 0;
    };
    return sys;
  }
};

class PerfBackendTest : public ::testing::Test {
 protected:
  cpc_t* open_fake() {
    int err = 0;
    auto backend = PerfBackend::open(
        kernel_.calls(), "AMD EPYC", [this] { return now_; }, [](int) { return 2500; }, &err);
    if (!backend) {
      errno = err;
      return nullptr;
    }
    cpc_t* cpc = cpc_open_backend(CPC_VER_CURRENT, std::move(backend));
    cpc_seterrhndlr(cpc, capture_message);
    return cpc;
  }

  FakeKernel kernel_;
  uint64_t now_ = 0;
};

TEST(CpuinfoName, EachArchitecturesKey) {
  EXPECT_EQ(cpuinfo_processor_name("processor\t: 0\nvendor_id\t: AuthenticAMD\ncpu family\t: "
                                   "26\nmodel name\t: AMD EPYC\ncpu MHz\t\t: 2096.006\n"),
            "AMD EPYC");
  EXPECT_EQ(cpuinfo_processor_name("processor\t: 0\ncpu\t\t: POWER9 (raw), altivec supported\n"
                                   "clock\t\t: 2300.000000MHz\n"),
            "POWER9 (raw), altivec supported");
  EXPECT_EQ(cpuinfo_processor_name("processor\t: 0\nBogoMIPS\t: 50.00\nCPU implementer\t: "
                                   "0x41\nCPU part\t: 0xd0c\n"),
            "ARM implementer 0x41 part 0xd0c");
  EXPECT_EQ(cpuinfo_processor_name(""), "unknown processor");
}

TEST_F(PerfBackendTest, NoHardwareCountersMeansNoHandle) {
  kernel_.refuse_with = ENOENT;  // what a kernel without a hardware PMU answers
  errno = 0;
  EXPECT_EQ(open_fake(), nullptr);
  EXPECT_EQ(errno, ENOTSUP);
  kernel_.refuse_with = EACCES;
  EXPECT_EQ(open_fake(), nullptr);
  EXPECT_EQ(errno, EACCES);
  EXPECT_TRUE(kernel_.live.empty());
}

TEST_F(PerfBackendTest, OffersTheEventsTheKernelOpens) {
  kernel_.hardware_only = true;
  cpc_t* cpc = open_fake();
  ASSERT_NE(cpc, nullptr);
  EXPECT_STREQ(cpc_cciname(cpc), "AMD EPYC");
  EXPECT_STREQ(cpc_backend_name(cpc), "perf_event");
  EXPECT_EQ(cpc_npic(cpc), 4u);
  std::vector<std::string> names;
  cpc_walk_events_pic(cpc, 3, &names, [](void* arg, unsigned, const char* e) {
    static_cast<std::vector<std::string>*>(arg)->push_back(e);
  });
  EXPECT_EQ(names.size(), 10u);
  EXPECT_EQ(names[1], "instructions");
  cpc_set_t* set = cpc_set_create(cpc);
  EXPECT_EQ(cpc_set_add_request(cpc, set, "L1-dcache-load-misses", 0, CPC_COUNT_USER, 0, nullptr),
            -1);
  cpc_set_destroy(cpc, set);
  cpc_close(cpc);
  EXPECT_TRUE(kernel_.live.empty());  // probes are closed again

  kernel_.hardware_only = false;
  cpc = open_fake();
  set = cpc_set_create(cpc);
  EXPECT_EQ(cpc_set_add_request(cpc, set, "L1-dcache-load-misses", 0, CPC_COUNT_USER, 0, nullptr),
            0);
  cpc_set_destroy(cpc, set);
  cpc_close(cpc);
}

TEST_F(PerfBackendTest, BindOpensPerCpuEventsWithTheRequestedModes) {
  cpc_t* cpc = open_fake();
  ASSERT_NE(cpc, nullptr);
  cpc_set_t* set = cpc_set_create(cpc);
  cpc_set_add_request(cpc, set, "instructions", 0, CPC_COUNT_USER, 0, nullptr);
  cpc_set_add_request(cpc, set, "cpu-cycles", 0, CPC_COUNT_SYSTEM, 0, nullptr);
  cpc_set_add_request(cpc, set, "LLC-load-misses", 5, CPC_COUNT_USER | CPC_COUNT_SYSTEM, 0,
                      nullptr);
  cpc_buf_t* buf = cpc_buf_create(cpc, set);
  ASSERT_EQ(cpc_bind_cpu(cpc, 0, set, 0), 0);
  ASSERT_EQ(kernel_.opens.size(), 3u);
  for (const FakeKernel::Open& o : kernel_.opens) {
    EXPECT_EQ(o.pid, -1);
    EXPECT_EQ(o.cpu, 0);
  }
  EXPECT_EQ(kernel_.opens[0].config, uint64_t{PERF_COUNT_HW_INSTRUCTIONS});
  EXPECT_FALSE(kernel_.opens[0].exclude_user);
  EXPECT_TRUE(kernel_.opens[0].exclude_kernel);
  EXPECT_TRUE(kernel_.opens[1].exclude_user);
  EXPECT_FALSE(kernel_.opens[1].exclude_kernel);
  EXPECT_FALSE(kernel_.opens[2].exclude_user || kernel_.opens[2].exclude_kernel);
  EXPECT_EQ(kernel_.opens[2].type, uint32_t{PERF_TYPE_HW_CACHE});
  EXPECT_EQ(kernel_.opens[2].config, PERF_COUNT_HW_CACHE_LL | (PERF_COUNT_HW_CACHE_OP_READ << 8) |
                                         (PERF_COUNT_HW_CACHE_RESULT_MISS << 16));
  EXPECT_EQ(kernel_.enabled.size(), 3u);

  // Half a second at 2500 MHz; the kernel counted half the time it was enabled.
  now_ += 500000000;
  kernel_.time_running = 100;
  ASSERT_EQ(cpc_set_sample(cpc, set, buf), 0);
  EXPECT_EQ(cpc_buf_tick(cpc, buf), 1250000000u);
  uint64_t v = 0;
  cpc_buf_get(cpc, buf, 0, &v);
  EXPECT_EQ(v, 2000u);
  cpc_buf_get(cpc, buf, 2, &v);
  EXPECT_EQ(v, 2005u);
  kernel_.time_running = 0;
  ASSERT_EQ(cpc_set_sample(cpc, set, buf), 0);
  cpc_buf_get(cpc, buf, 1, &v);
  EXPECT_EQ(v, 0u);

  ASSERT_EQ(cpc_unbind(cpc, set), 0);
  EXPECT_TRUE(kernel_.live.empty());
  cpc_buf_destroy(cpc, buf);
  cpc_set_destroy(cpc, set);
  cpc_close(cpc);
}

TEST_F(PerfBackendTest, AFailedOpenClosesWhatWasOpened) {
  cpc_t* cpc = open_fake();
  ASSERT_NE(cpc, nullptr);
  cpc_set_t* set = cpc_set_create(cpc);
  cpc_set_add_request(cpc, set, "instructions", 0, CPC_COUNT_USER, 0, nullptr);
  cpc_set_add_request(cpc, set, "branch-misses", 0, CPC_COUNT_USER, 0, nullptr);
  kernel_.fail_cpu_open_after = 1;
  captured_messages().clear();
  errno = 0;
  EXPECT_EQ(cpc_bind_cpu(cpc, 0, set, 0), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(captured_messages(), "cannot open event 'branch-misses' on cpu 0: Permission denied\n");
  EXPECT_TRUE(kernel_.live.empty());
  cpc_set_destroy(cpc, set);
  cpc_close(cpc);
}

// This machine's own counters: either usable, or refused with a reason.
TEST(PerfOnThisMachine, OpensOrFailsCleanly) {
  errno = 0;
  cpc_t* cpc = cpc_open(CPC_VER_CURRENT, Platform());
  int err = errno;

  bool has_pmu = access("/sys/bus/event_source/devices/cpu", F_OK) == 0 ||
                 access("/sys/bus/event_source/devices/cpu_core", F_OK) == 0 ||
                 access("/sys/bus/event_source/devices/armv8_pmuv3_0", F_OK) == 0;
  if (cpc) {
    EXPECT_STREQ(cpc_backend_name(cpc), "perf_event");
    EXPECT_STRNE(cpc_cciname(cpc), "");
    cpc_close(cpc);
    return;
  }
  std::set<int> reasons = {ENOTSUP, EACCES, EPERM, ENODEV, ENOSYS};
  EXPECT_TRUE(reasons.count(err)) << strerror(err);
  if (!has_pmu) {
    // No hardware PMU (a virtual machine): the kernel has no such events.
    EXPECT_EQ(err, ENOTSUP);
    EXPECT_STREQ(strerror(err), "Operation not supported");
  }
}

}  // namespace
