// UltraSPARC III: two counters, 22 sets per report, four memory controllers.
#include <initializer_list>

#include "pemto/models/models.h"

namespace {

const ReportFormat& format() {
  static const ReportFormat f = {
      "mips\tbus\tmflops\tcpi\tdcm\ticm\tecm\titlb\tdtlb\tbrr\tbmr\tdsr\tisr\tfsr\tbsr\n",
      line_formats(15, true),
      {0, 1, 2},
      false};
  return f;
}

}  // namespace

US3::US3(int nbCounters) : Cpu(nbCounters) {
  prEvents = {"Instr_cnt,Cycle_cnt",
              "DC_rd,DC_rd_miss",
              "DC_wr,DC_wr_miss",
              "EC_ref,EC_misses",
              "Cycle_cnt,EC_wb",
              "IC_ref,IC_miss",
              "IC_ref,IC_miss_cancelled",
              "Rstall_storeQ,Re_DC_miss",
              "Rstall_IU_use,Re_RAW_miss",
              "Cycle_cnt,Re_PC_miss",
              "Cycle_cnt,Re_FPU_bypass",
              "Dispatch0_IC_miss,Cycle_cnt",
              "Cycle_cnt,Rstall_FP_use",
              "Dispatch0_br_target,Dispatch0_mispred",
              "Dispatch0_2nd_br,Cycle_cnt",
              "Dispatch_rs_mispred,Cycle_cnt",
              "IC_ref,ITLB_miss",
              "DC_rd,DTLB_miss",
              "DC_wr,DTLB_miss",
              "IU_Stat_Br_count_taken,IU_Stat_Br_count_untaken",
              "IU_Stat_Br_miss_taken,IU_Stat_Br_miss_untaken",
              "FA_pipe_completion,FM_pipe_completion"};
  piEvents = {"Instr_cnt,Cycle_cnt",
              "Instr_cnt,DC_rd_miss",
              "Instr_cnt,DC_wr_miss",
              "Instr_cnt,EC_misses",
              "Cycle_cnt,EC_wb",
              "Instr_cnt,IC_miss",
              "Instr_cnt,IC_miss_cancelled",
              "Rstall_storeQ,Re_DC_miss",
              "Rstall_IU_use,Re_RAW_miss",
              "Cycle_cnt,Re_PC_miss",
              "Cycle_cnt,Re_FPU_bypass",
              "Dispatch0_IC_miss,Instr_cnt",
              "Instr_cnt,Rstall_FP_use",
              "Dispatch0_br_target,Dispatch0_mispred",
              "Dispatch0_2nd_br,Instr_cnt",
              "Dispatch_rs_mispred,Instr_cnt",
              "Instr_cnt,ITLB_miss",
              "Instr_cnt,DTLB_miss",
              "Instr_cnt,DTLB_miss",
              "IU_Stat_Br_count_taken,IU_Stat_Br_count_untaken",
              "IU_Stat_Br_miss_taken,IU_Stat_Br_miss_untaken",
              "FA_pipe_completion,FM_pipe_completion"};
  psEvents = prEvents;
  psEvents[17] = "Instr_cnt,DTLB_miss";
  psEvents[18] = "Instr_cnt,DTLB_miss";
  psMemoryEvents = {"MC_reads_0,MC_writes_0", "MC_reads_1,MC_writes_1", "MC_reads_2,MC_writes_2",
                    "MC_reads_3,MC_writes_3"};
  reportFormat = &format();
  memoryReport = MemoryReport::kControllers;
}

void US3::fill(int index, const SampleMatrix& d, double clk, double bus, int type, uint64_t S) {
  auto put = [&](int column, double value) { metrics.set(index, column, value); };
  // Sums of counts in 64-bit integers, converted once.
  auto sum = [&](std::initializer_list<uint64_t> counts) {
    uint64_t total = 0;
    for (uint64_t c : counts) total += c;
    return static_cast<double>(total);
  };
  double s = static_cast<double>(S);
  double dcm = sum({d.count(1, 1), d.count(2, 1)});
  double brr = sum({d.count(19, 0), d.count(19, 1)});
  double bmr = sum({d.count(20, 0), d.count(20, 1)});
  double bsr = sum({d.count(13, 0), d.count(13, 1), d.count(14, 0), d.count(15, 0)});

  put(0, clk * d.a(0) / d.t(0));
  put(1, clk * 100 / bus * (d.b(3) / d.t(3) + d.b(4) / d.t(4)));
  put(2, clk * sum({d.count(21, 0), d.count(21, 1)}) / d.t(21));
  put(3, d.b(0) / d.a(0));
  switch (type) {
    case kPerReference:
      put(4, 100 * dcm / sum({d.count(1, 0), d.count(2, 0)}));
      put(5, 100 * d.b(5) / sum({d.count(5, 0), d.count(5, 1)}));
      put(6, 100 * d.b(3) / d.a(3));
      put(7, 100 * d.b(16) / d.a(16));
      put(8, 100 * d.b(17) / sum({d.count(17, 0), d.count(18, 0)}));
      put(9, 100 * brr / d.a(0));
      put(10, 100 * bmr / brr);
      put(11, 100 * s / d.a(9));
      put(12, 100 * d.a(11) / d.b(11));
      put(13, 100 * d.b(12) / d.a(12));
      put(14, 100 * bsr / d.b(15));
      break;
    case kPerInstruction:
      put(4, dcm / d.a(2));
      put(5, d.b(5) / d.a(5));
      put(6, d.b(3) / d.a(3));
      put(7, d.b(16) / d.a(16));
      put(8, d.b(17) / d.a(17));
      put(9, brr / d.a(18));
      put(10, bmr / d.a(18));
      put(11, s / d.a(9));
      put(12, d.a(11) / d.b(11));
      put(13, d.b(12) / d.a(12));
      put(14, bsr / d.b(15));
      break;
    case kPerSecond:
      put(4, clk * dcm / d.t(2));
      put(5, clk * d.b(5) / d.t(5));
      put(6, clk * d.b(3) / d.t(3));
      put(7, clk * d.b(16) / d.t(16));
      put(8, clk * d.b(17) / d.t(17));
      put(9, clk * brr / d.t(19));
      put(10, clk * bmr / d.t(20));
      put(11, clk * s / d.t(9));
      put(12, clk * d.a(11) / d.t(11));
      put(13, clk * d.b(12) / d.t(12));
      put(14, clk * bsr / d.t(15));
      break;
  }
}

namespace {

// Store-queue and load-use stall cycles, and 12 cycles for every Re_PC_miss
// and Re_FPU_bypass.
uint64_t data_stalls(const SampleMatrix& d) {
  return d.count(7, 0) + d.count(7, 1) + d.count(8, 0) + d.count(8, 1) +
         12 * (d.count(9, 1) + d.count(10, 1));
}

}  // namespace

void US3::per_reference(int index, const SampleMatrix& d, double clk, double bus) {
  fill(index, d, clk, bus, kPerReference, data_stalls(d));
}

void US3::per_instruction(int index, const SampleMatrix& d, double clk, double bus) {
  fill(index, d, clk, bus, kPerInstruction, data_stalls(d));
}

void US3::per_second(int index, const SampleMatrix& d, double clk, double bus) {
  fill(index, d, clk, bus, kPerSecond, data_stalls(d));
}
