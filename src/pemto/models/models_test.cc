// The catalogue: lists, formulas on known passes, headers and line formats.
#include "pemto/models/models.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pemto/counters/sim_testing.h"
#include "pemto/gtick.h"
#include "pemto/setgrp.h"
#include "pemto/strtoset.h"

namespace {

// A pass in which every count differs, so a formula reading the wrong set or
// counter shows: count j of set s is 5000 - 500 j + 7 s, ticks 20000 + 1000 s.
double C(int s, int j) {
  return 5000 - 500 * j + 7 * s;
}
double A(int s) {
  return C(s, 0);
}
double B(int s) {
  return C(s, 1);
}
double X(int s) {
  return C(s, 2);
}
double T(int s) {
  return 20000 + 1000 * s;
}

SampleMatrix synthetic(int nsets, int ncounters) {
  SampleMatrix m(nsets, ncounters);
  for (int s = 0; s < nsets; s++) {
    for (int j = 0; j < ncounters; j++) m.row(s)[j] = static_cast<uint64_t>(C(s, j));
    m.row(s)[ncounters] = static_cast<uint64_t>(T(s));
  }
  return m;
}

constexpr double CLK = 500, BUS = 150;

struct Expect {
  int column;
  double value;
};

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(metrics.create(2)); }
  void TearDown() override { metrics.destroy(); }

  // Runs one pass of a synthetic matrix through the model in the given mode.
  void run(Cpu& cpu, int type) {
    cpu.setMetricsType(type);
    SampleMatrix m = synthetic(static_cast<int>(cpu.getEvents().size()), cpu.getNbCounters());
    cpu.calc_metrics(0, m, CLK, BUS);
  }
  void check(const std::vector<Expect>& expected) {
    for (const Expect& e : expected) {
      EXPECT_DOUBLE_EQ(metrics.get(0, e.column), e.value) << "column " << e.column;
    }
  }
  void check_unmeasured(const std::vector<int>& columns, int ncolumns) {
    for (int k = 0; k < ncolumns; k++) {
      bool listed = std::find(columns.begin(), columns.end(), k) != columns.end();
      EXPECT_EQ(metrics.get(0, k) == -1.0, listed) << "column " << k;
    }
  }
};

TEST_F(ModelTest, Us3PerInstructionEveryColumn) {
  US3 cpu(2);
  run(cpu, kPerInstruction);
  double S = A(7) + B(7) + A(8) + B(8) + 12 * (B(9) + B(10));
  check({{0, CLK * A(0) / T(0)},
         {1, CLK * 100 / BUS * (B(3) / T(3) + B(4) / T(4))},
         {2, CLK * (A(21) + B(21)) / T(21)},
         {3, B(0) / A(0)},
         {4, (B(1) + B(2)) / A(2)},
         {5, B(5) / A(5)},
         {6, B(3) / A(3)},
         {7, B(16) / A(16)},
         {8, B(17) / A(17)},
         {9, (A(19) + B(19)) / A(18)},
         {10, (A(20) + B(20)) / A(18)},
         {11, S / A(9)},
         {12, A(11) / B(11)},
         {13, B(12) / A(12)},
         {14, (A(13) + B(13) + A(14) + A(15)) / B(15)}});
}

TEST_F(ModelTest, Us3PerReferenceAndPerSecond) {
  US3 cpu(2);
  run(cpu, kPerReference);
  check({{4, 100 * (B(1) + B(2)) / (A(1) + A(2))},
         {5, 100 * B(5) / (A(5) + B(5))},
         {8, 100 * B(17) / (A(17) + A(18))},
         {9, 100 * (A(19) + B(19)) / A(0)},
         {10, 100 * (A(20) + B(20)) / (A(19) + B(19))}});
  run(cpu, kPerSecond);
  check({{4, CLK * (B(1) + B(2)) / T(2)},
         {11, CLK * (A(7) + B(7) + A(8) + B(8) + 12 * (B(9) + B(10))) / T(9)},
         {14, CLK * (A(13) + B(13) + A(14) + A(15)) / T(15)}});
}

TEST_F(ModelTest, ZeroReferencesGiveInfinityOnlyInTheirColumn) {
  US3 cpu(2);
  cpu.setMetricsType(kPerReference);
  SampleMatrix m = synthetic(22, 2);
  m.row(1)[0] = m.row(2)[0] = 0;  // A1 + A2 = 0
  cpu.calc_metrics(0, m, CLK, BUS);
  EXPECT_TRUE(std::isinf(metrics.get(0, 4)));
  for (int k = 0; k < 15; k++) {
    if (k != 4) {
      EXPECT_TRUE(std::isfinite(metrics.get(0, k))) << k;
    }
  }
}

TEST_F(ModelTest, Us3PlusMovesTheStallsAndAddsRemoteColumns) {
  US3p cpu(2);
  double S = A(7) + B(9) + A(8) + B(8) + 12 * (B(7) + B(10));
  run(cpu, kPerReference);
  check({{11, 100 * S / A(9)}, {15, 100 * A(22) / B(22)}, {16, 100 * (1 - A(23) / B(23))}});
  run(cpu, kPerInstruction);
  check({{11, S / A(9)}, {15, A(22) / B(22)}, {16, B(23) / A(23)}});
  run(cpu, kPerSecond);
  check({{11, CLK * S / T(9)}, {15, CLK * A(22) / T(22)}, {16, CLK * B(22) / T(22)}});
}

TEST_F(ModelTest, Us2MissesAreReferencesMinusHits) {
  US2 cpu(2);
  run(cpu, kPerReference);
  check({{1, CLK * 200 / BUS * ((A(5) - B(5)) / T(5) + B(1) / T(1))},
         {3, 100 * (1 - (B(2) + B(3)) / (A(2) + A(3)))},
         {6, 100 * (A(6) / B(6) + B(7) / A(7) + A(8) / B(8))}});
  run(cpu, kPerInstruction);
  check({{3, ((A(2) - B(2)) + (A(3) - B(3))) / A(0)}, {4, (A(4) - B(4)) / A(1)}});
  run(cpu, kPerSecond);
  check({{3, CLK * ((A(2) - B(2)) / T(2) + (A(3) - B(3)) / T(3))},
         {6, (A(6) + B(6)) / T(6) + A(7) / T(7)},
         {7, A(8) / T(8)},
         {8, B(7) / T(7)},
         {9, B(8) / T(8)}});
}

TEST_F(ModelTest, P6AndXeonRatesUseTheTicksOfSetZero) {
  for (bool xeon : {false, true}) {
    std::unique_ptr<Cpu> cpu(xeon ? new Xeon(2) : new P6(2));
    run(*cpu, kPerReference);
    check({{1, CLK * 300 / BUS * A(3) / T(0)}, {2, CLK * A(10) / T(0)}, {7, 100 * A(6) / B(6)}});
    run(*cpu, kPerSecond);
    check({{1, CLK * 300 / BUS * B(1) / T(0)},
           {2, CLK * A(6) / T(0)},
           {4, A(1) / CLK / 1e6},
           {6, B(1) / CLK / 1e6},
           {12, A(5) / CLK / 1e6}});
  }
}

TEST_F(ModelTest, OpteronReadsTheThirdEvent) {
  Opteron cpu(4);
  run(cpu, kPerReference);
  check({{4, 100 * (B(1) + X(1)) / A(1)}, {5, 100 * (B(2) + X(2)) / A(2)}});
  run(cpu, kPerSecond);
  check({{4, (A(1) + B(1)) / CLK / 1e6}, {6, X(3) / CLK / 1e6}, {7, X(2) / CLK / 1e6}});
}

TEST_F(ModelTest, TSeriesAndSparc64MarkWhatTheyCannotMeasure) {
  UST1 t1(2);
  run(t1, kPerReference);
  check_unmeasured({3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, 14);
  check({{0, CLK * B(0) / T(0)}, {2, CLK * A(0) / T(0)}});
  run(t1, kPerInstruction);
  check_unmeasured({3, 11, 12, 13}, 14);
  check({{6, A(3) / B(3) + A(4) / B(4)}, {10, A(7) / B(7)}});

  UST2 t2(2);
  run(t2, kPerSecond);
  check_unmeasured({3, 11, 12, 13}, 14);
  check({{1, CLK * 100 / BUS * (A(1) + B(1)) / T(1)}, {6, CLK * (A(3) + B(3)) / T(3)}});

  Sparc64 s64(8);
  run(s64, kPerReference);
  check_unmeasured({4, 5, 7, 8, 11, 12, 14}, 15);
  check({{1, CLK * 100 / BUS * (C(0, 4) + C(0, 5)) / T(0)},
         {2, CLK * (C(0, 2) + C(0, 3)) / T(0)},
         {6, 100 * ((C(1, 2) + C(1, 3)) / T(1)) / ((C(0, 4) + C(0, 5)) / T(0))}});
  run(s64, kPerInstruction);
  check_unmeasured({11, 12, 14}, 15);
  check({{6, (C(2, 2) + C(2, 3)) / C(2, 0)}, {13, C(3, 4) / C(3, 0)}});
}

TEST_F(ModelTest, MemoryBandwidthOfTheFourControllers) {
  for (int counters : {2, 8}) {
    std::unique_ptr<Cpu> cpu(counters == 2 ? static_cast<Cpu*>(new US3(2)) : new Sparc64(8));
    run(*cpu, kMemory);
    const double K = CLK * 64 * 0.95367431640625;
    double rd = 0, wr = 0;
    for (int i = 0; i < 4; i++) {
      EXPECT_DOUBLE_EQ(metrics.get(0, 3 + 2 * i), K * A(i) / T(i));
      rd += K * A(i) / T(i);
      wr += K * B(i) / T(i);
    }
    EXPECT_NEAR(metrics.get(0, 1), rd, 1e-9 * rd);
    EXPECT_NEAR(metrics.get(0, 2), wr, 1e-9 * wr);
    EXPECT_NEAR(metrics.get(0, 0), rd + wr, 1e-9 * rd);
  }
}

TEST_F(ModelTest, LinuxModelPlansAroundMissingEvents) {
  // No instruction-cache loads and no stall events, as on many processors.
  std::set<std::string> offered = {"instructions",          "cpu-cycles",
                                   "branch-instructions",   "branch-misses",
                                   "L1-dcache-loads",       "L1-dcache-load-misses",
                                   "L1-icache-load-misses", "cache-references",
                                   "cache-misses",          "dTLB-loads",
                                   "dTLB-load-misses"};
  LinuxPerf cpu(4, offered);
  EXPECT_EQ(cpu.getPrEvents(), (std::vector<std::string>{
                                   "instructions,cpu-cycles,branch-instructions,branch-misses",
                                   "L1-dcache-loads,L1-dcache-load-misses",
                                   "cache-references,cache-misses,dTLB-loads,dTLB-load-misses"}));
  EXPECT_EQ(cpu.getPiEvents(),
            (std::vector<std::string>{"instructions,cpu-cycles,branch-instructions,branch-misses",
                                      "instructions,L1-dcache-load-misses,L1-icache-load-misses,"
                                      "cache-misses",
                                      "instructions,dTLB-load-misses"}));
  run(cpu, kPerReference);
  check_unmeasured({3, 5, 9, 10}, 11);
  check({{0, CLK * A(0) / T(0)},
         {1, B(0) / A(0)},
         {2, 100 * B(1) / A(1)},
         {4, 100 * B(2) / A(2)},
         {6, 100 * C(2, 3) / X(2)},
         {8, 100 * C(0, 3) / X(0)}});
  run(cpu, kPerInstruction);
  check_unmeasured({5, 9, 10}, 11);
  check({{3, X(1) / A(1)}, {6, B(2) / A(2)}});
}

// Every list of every model parses on the processor that selects it, one set
// per entry, so the formulas' positions hold.
TEST(ModelLists, SizesAndParsingOnTheirProcessors) {
  struct Case {
    const char* name;
    size_t pr, pi, ps, mem;
  };
  const Case cases[] = {{"UltraSPARC I&II", 12, 12, 9, 0},
                        {"UltraSPARC III", 22, 22, 22, 4},
                        {"UltraSPARC IIIi & IIIi+", 22, 22, 22, 4},
                        {"UltraSPARC III+", 24, 24, 23, 4},
                        {"UltraSPARC IV+", 24, 24, 23, 4},
                        {"UltraSPARC T1", 3, 9, 7, 1},
                        {"UltraSPARC T2", 2, 10, 6, 1},
                        {"SPARC64 VI & VII", 3, 4, 3, 4},
                        {"Pentium Pro with MMX, Pentium II", 11, 11, 7, 0},
                        {"AMD Opteron & Athlon64", 11, 11, 7, 0},
                        {"Pentium 4 with HyperThreading", 11, 11, 7, 0}};
  strtoset_errfn = capture_message;
  for (const Case& c : cases) {
    SimHandle h = open_sim(c.name);
    bool oom = false;
    std::unique_ptr<Cpu> cpu(create_cpu_model(h.cpc, &oom));
    ASSERT_NE(cpu, nullptr) << c.name;
    EXPECT_EQ(cpu->getPrEvents().size(), c.pr) << c.name;
    EXPECT_EQ(cpu->getPiEvents().size(), c.pi) << c.name;
    EXPECT_EQ(cpu->getPsEvents().size(), c.ps) << c.name;
    EXPECT_EQ(cpu->getPsMemoryEvents().size(), c.mem) << c.name;
    EXPECT_EQ(cpu->isMemoryMetricsCapable(), c.mem > 0) << c.name;
    for (auto list :
         {cpu->getPrEvents(), cpu->getPiEvents(), cpu->getPsEvents(), cpu->getPsMemoryEvents()}) {
      cpc_setgrp_t* g = cpc_setgrp_new(h.cpc, 0);
      int errors = 0;
      for (const std::string& spec : list) cpc_setgrp_newset(g, spec.c_str(), &errors);
      EXPECT_EQ(errors, 0) << c.name << ": " << captured_messages();
      EXPECT_EQ(static_cast<size_t>(cpc_setgrp_numsets(g)), list.size());
      cpc_setgrp_free(g);
    }
    cpc_close(h.cpc);
  }
  strtoset_errfn = nullptr;
}

// The bus clock is the device tree's for every family but the Pentium Pro's,
// including the Pentium 4, whose model shares the Pentium Pro's lists.
TEST(ModelProperties, OnlyThePentiumProHasAFixedBusClock) {
  for (const std::string& name : sim_processor_names()) {
    SimHandle h = open_sim(name);
    bool oom = false;
    std::unique_ptr<Cpu> cpu(create_cpu_model(h.cpc, &oom));
    ASSERT_NE(cpu, nullptr) << name;
    EXPECT_EQ(cpu->getFixedBusClock(), name == "Pentium Pro with MMX, Pentium II" ? 133.0 : 0.0)
        << name;
    cpc_close(h.cpc);
  }
}

TEST(ModelLists, EntriesKeptExactlyAsWritten) {
  Opteron opteron(4);
  EXPECT_EQ(opteron.getPrEvents()[4],
            "FR_retired_branches_w_excp_intr,FR_retired_x86_instr_w_excp_intr  ");
  EXPECT_EQ(opteron.getPsEvents()[6],
            "pic0=FP_dispatched_fpu_ops,cmask0=0,umask0=0x7,pic1=BU_cpu_clk_unhalted");
  Sparc64 sparc64(8);
  EXPECT_EQ(sparc64.getPiEvents()[2].back(), ',');
  US4p us4p(2);
  EXPECT_EQ(us4p.getPrEvents()[7], "Rstall_storeQ,Re_PC_miss");
  EXPECT_EQ(us4p.getPiEvents()[9], "Instr_cnt,Re_DC_miss");
  EXPECT_EQ(us4p.getPsEvents()[22], "EC_wb_remote,EC_miss_remote");
  EXPECT_EQ(us4p.getPiEvents()[23], "Instr_cnt,EC_miss_remote");
  UST1 t1(2);
  EXPECT_EQ(t1.getPsEvents()[4], "L2_imiss_ld,Instr_cnt");
}

// Headers and data lines of each format family, byte for byte.
class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(metrics.create(2));
    // CPU 0: 1234.56, then 10 k + 0.26; CPU 1: zeros.
    metrics.set(0, 0, 1234.56);
    for (int k = 1; k < 20; k++) metrics.set(0, k, 10 * k + 0.26);
  }
  void TearDown() override { metrics.destroy(); }

  std::string title(Cpu& cpu) {
    testing::internal::CaptureStdout();
    cpu.print_title();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
  }
  std::string line(Cpu& cpu, aggregate_fn aggregate) {
    testing::internal::CaptureStdout();
    cpu.print_metrics(2, aggregate);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(FormatTest, HeadersAndLinesOfEveryFamily) {
  US2 us2(2);
  EXPECT_EQ(title(us2), "mips\tbus\tcpi\tdcm\ticm\tecm\tdsr\tisr\tfsr\tbsr\n");
  EXPECT_EQ(line(us2, max_metric), "1235\t10.3\t20.3\t30.3\t40.3\t50.3\t60.3\t70.3\t80.3\t90.3\n");
  US3 us3(2);
  EXPECT_EQ(title(us3),
            "mips\tbus\tmflops\tcpi\tdcm\ticm\tecm\titlb\tdtlb\tbrr\tbmr\tdsr\tisr\tfsr\tbsr\n");
  EXPECT_EQ(line(us3, max_metric),
            "1235\t10.3\t  20\t30.3\t40.3\t50.3\t60.3\t70.3\t80.3\t90.3\t100.3\t110.3\t120.3\t130."
            "3\t140.3\n");
  Sparc64 sparc64(8);
  EXPECT_EQ(title(sparc64), title(us3));
  US4p us4p(2);
  EXPECT_EQ(title(us4p),
            "mips\tbus\tmflops\tcpi\tdcm\ticm\tecm\titlb\tdtlb\tbrr\tbmr\tdsr\tisr\tfsr\tbsr\trwb\t"
            "recm\n");
  EXPECT_EQ(line(us4p, max_metric).substr(line(us3, max_metric).size() - 1), "\t150.3\t160.3\n");
  UST2 ust2(2);
  EXPECT_EQ(title(ust2),
            "mips\tbus\tmflops\tcpi\tdcm\ticm\tecm\titlb\tdtlb\tbrr\tbmr\tdsr\tisr\tfsr\n");
  EXPECT_EQ(line(ust2, max_metric),
            "1235\t10.3\t  20\t30.3\t40.3\t50.3\t60.3\t70.3\t80.3\t90.3\t100.3\t110.3\t120.3\t130."
            "3\n");
  Opteron opteron(4);
  EXPECT_EQ(title(opteron),
            "mips\tbus\tmflops\tcpi\tdcm\ticm\tecm\titlb\tbrr\tbmr\tdsr\tisr\tfsr\n");
  EXPECT_EQ(line(opteron, max_metric),
            "1235\t10.3\t  20\t30.3\t40.3\t50.3\t60.3\t70.3\t80.3\t90.3\t100.3\t110.3\t120.3\n");
  LinuxPerf linux_model(4, {});
  EXPECT_EQ(title(linux_model), "mips\tcpi\tdcm\ticm\tecm\titlb\tdtlb\tbrr\tbmr\tdsr\tisr\n");
}

TEST_F(FormatTest, SummedColumnsAddAndTheOthersAggregate) {
  metrics.set(0, 0, 500);
  metrics.set(1, 0, 700);
  metrics.set(0, 3, 1.0);
  metrics.set(1, 3, 2.0);
  metrics.set(0, 4, -1.0);
  metrics.set(1, 4, -1.0);
  US3 cpu(2);
  std::string avg = line(cpu, avg_metric), max = line(cpu, max_metric);
  EXPECT_EQ(avg.rfind("1200\t10.3\t  20\t1.5\t-1.0\t", 0), 0u) << avg;
  EXPECT_EQ(max.rfind("1200\t10.3\t  20\t2.0\t0.0\t", 0), 0u) << max;
}

TEST_F(FormatTest, PerCpuLinesSkipUnsampledSlotsAndUseTheirRows) {
  // Slot 1 is offline; slot 2 was numbered 1 and reads row 1.
  tstate slots[3] = {};
  slots[0].cpuid = 4;
  slots[0].index = 0;
  slots[1].cpuid = -1;
  slots[2].cpuid = 9;
  slots[2].index = 1;
  metrics.set(1, 0, 77);
  US2 cpu(2);
  testing::internal::CaptureStdout();
  cpu.print_percpu(2, slots, 3);
  cpu.print_percpu(0, slots, 3);
  US3 us3(2);
  us3.print_memory_percpu(2, slots, 3);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "   4  1235\t10.3\t20.3\t30.3\t40.3\t50.3\t60.3\t70.3\t80.3\t90.3\n"
            "   9    77\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\n"
            "   4    1234.56      10.26      20.26\n"
            "   9      77.00       0.00       0.00\n");
}

TEST_F(FormatTest, MemoryReport) {
  US3 us3(2);
  UST1 ust1(2);
  US2 us2(2);
  testing::internal::CaptureStdout();
  us3.print_memory_title();
  us3.print_memory_metrics(2, avg_metric);
  ust1.print_memory_metrics(2, avg_metric);
  us2.print_memory_title();
  us2.print_memory_metrics(2, avg_metric);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "       bw         rd         wr\n"
            "  1234.56      10.26      20.26\n"
            "    -1.00      -1.00      -1.00\n");
}

}  // namespace
