// The sampling thread on simulated processors in real time: rotation, the
// sample matrix, and the stops on counter errors.
#include "pemto/gtick.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "pemto/counters/sim_backend.h"
#include "pemto/counters/sim_testing.h"
#include "pemto/cpu.h"
#include "pemto/models/models.h"
#include "pemto/pemto.h"
#include "pemto/strtoset.h"

namespace {

uint64_t monotonic_ns() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

// A model that keeps every pass it is given.
class Recorder : public Cpu {
 public:
  explicit Recorder(int n) : Cpu(n) {}
  void per_instruction(int, const SampleMatrix& d, double, double) override {
    std::vector<std::vector<uint64_t>> pass;
    for (int s = 0; s < d.nsets(); s++) {
      pass.emplace_back();
      for (int j = 0; j <= d.ncounters(); j++) pass.back().push_back(d.count(s, j));
    }
    passes.push_back(pass);
  }
  void per_reference(int, const SampleMatrix&, double, double) override {}
  void per_second(int, const SampleMatrix&, double, double) override {}
  void per_second_memory(int, const SampleMatrix&, double, double) override {}
  std::vector<std::vector<std::vector<uint64_t>>> passes;
};

class GtickTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    while (!CPU_ISSET(cpu_, &mask)) cpu_++;
    options_.progname = "Pemto";
    options_.interval = 2;
    options_.count = 2;
    opts = &options_;
    ASSERT_TRUE(metrics.create(1));
  }
  void TearDown() override {
    if (slot_.sgrp) cpc_setgrp_free(slot_.sgrp);
    if (cpc) cpc_close(cpc);
    cpc = nullptr;
    targetCpu = nullptr;
    strtoset_errfn = nullptr;
    metrics.destroy();
  }

  // Opens a simulated processor in real time and a group of specs on it.
  void open(const std::string& name, const std::vector<std::string>& specs,
            const std::string& failures = "") {
    auto backend = std::make_unique<SimBackend>(name, monotonic_ns, [](int) { return 1000; });
    if (!failures.empty()) {
      ASSERT_TRUE(backend->set_failures(failures));
    }
    cpc = cpc_open_backend(CPC_VER_CURRENT, std::move(backend));
    cpc_seterrhndlr(cpc, cpustat_errfn);
    strtoset_errfn = cpustat_errfn;
    nb_counters = static_cast<int>(cpc_npic(cpc));
    slot_.sgrp = cpc_setgrp_new(cpc, 0);
    int errors = 0;
    for (const std::string& s : specs) cpc_setgrp_newset(slot_.sgrp, s.c_str(), &errors);
    ASSERT_EQ(errors, 0);
    options_.nsets = cpc_setgrp_numsets(slot_.sgrp);
    slot_.cpuid = cpu_;
    slot_.clock = 1000;
    slot_.index = 0;
  }
  std::string run() {
    testing::internal::CaptureStderr();
    gtick(&slot_);
    return testing::internal::GetCapturedStderr();
  }

  Options options_;
  tstate slot_ = {};
  int cpu_ = 0;
};

TEST_F(GtickTest, PassesFillTheModelsRow) {
  open("UltraSPARC III", US3(2).getPiEvents());
  US3 model(2);
  targetCpu = &model;
  EXPECT_EQ(run(), "");
  EXPECT_EQ(slot_.status, kThreadFine);
  // Instr_cnt counts half the cycles, 85% of it in user mode.
  EXPECT_GT(metrics.get(0, 0), 1000 * 0.5 * 0.85 * 0.96);
  EXPECT_LT(metrics.get(0, 0), 1000 * 0.5 * 0.85 * 1.01);
  EXPECT_NEAR(metrics.get(0, 3), 1.0 / 0.5, 0.1);
  // Back at the first set, whose running total holds both passes.
  EXPECT_EQ(slot_.sgrp->current, 0);
  cpc_buf_t **data1, **data2, **scratch;
  ASSERT_EQ(cpc_setgrp_getbufs(slot_.sgrp, &data1, &data2, &scratch), 2);
  uint64_t total, last;
  cpc_buf_get(cpc, *data1, 0, &total);
  cpc_buf_get(cpc, *scratch, 0, &last);
  EXPECT_GT(total, last);
}

TEST_F(GtickTest, SetsWithFewerEventsThanCountersLeaveZeros) {
  open("AMD Opteron & Athlon64", {"FR_retired_x86_instr_w_excp_intr,BU_cpu_clk_unhalted,DC_access",
                                  "DC_refill_from_L2,DC_refill_from_system"});
  Recorder model(4);
  targetCpu = &model;
  EXPECT_EQ(run(), "");
  ASSERT_EQ(model.passes.size(), 2u);
  for (const auto& pass : model.passes) {
    ASSERT_EQ(pass.size(), 2u);
    EXPECT_GT(pass[0][2], 0u);
    EXPECT_EQ(pass[1][2], 0u);
    EXPECT_EQ(pass[1][3], 0u);
    EXPECT_GT(pass[1][1], 0u);
    EXPECT_GT(pass[1][4], 1000000u);  // ticks of 2 ms at 1000 MHz
  }
}

TEST_F(GtickTest, BindOrSampleFailureStopsTheThread) {
  for (const char* op : {"bind", "sample"}) {
    open("UltraSPARC III", {"Instr_cnt,Cycle_cnt"}, std::string(op) + "@" + std::to_string(cpu_));
    Recorder model(2);
    targetCpu = &model;
    std::string expected = std::string(op) == "bind"
                               ? "Pemto: simulated failure to bind on cpu " + std::to_string(cpu_) +
                                     "\nPemto: cpu" + std::to_string(cpu_) +
                                     " - Resource temporarily unavailable\n"
                               : "Pemto: cpu" + std::to_string(cpu_) + " - Input/output error\n";
    EXPECT_EQ(run(), expected);
    EXPECT_EQ(slot_.status, kThreadCounterError);
    EXPECT_TRUE(model.passes.empty());
    TearDown();
    slot_ = {};
    ASSERT_TRUE(metrics.create(1));
  }
}

TEST_F(GtickTest, UnbindFailureIsReportedAndSamplingGoesOn) {
  open("UltraSPARC III", {"Instr_cnt,Cycle_cnt"}, "unbind@*");
  Recorder model(2);
  targetCpu = &model;
  std::string line =
      "Pemto: error unbinding on cpu " + std::to_string(cpu_) + " - Input/output error\n";
  EXPECT_EQ(run(), line + line);
  EXPECT_EQ(slot_.status, kThreadFine);
  EXPECT_EQ(model.passes.size(), 2u);
}

}  // namespace
