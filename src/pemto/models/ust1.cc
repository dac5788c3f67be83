// UltraSPARC T1: no cycle event and no reference counts, so cpi and the
// per-reference ratios cannot be measured; such columns hold -1.0. The
// instruction count is the second event of every set. The T1 predicts every
// branch not taken, so taken branches are its mispredicted ones (bmr).
#include "pemto/models/models.h"

namespace {

const ReportFormat& format() {
  static const ReportFormat f = {
      "mips\tbus\tmflops\tcpi\tdcm\ticm\tecm\titlb\tdtlb\tbrr\tbmr\tdsr\tisr\tfsr\n",
      line_formats(14, true),
      {0, 1, 2},
      false};
  return f;
}

}  // namespace

UST1::UST1(int nbCounters) : Cpu(nbCounters) {
  prEvents = {"FP_instr_cnt,Instr_cnt", "L2_imiss,Instr_cnt", "L2_dmiss_ld,Instr_cnt"};
  piEvents = {"FP_instr_cnt,Instr_cnt", "DC_miss,Instr_cnt",     "IC_miss,Instr_cnt",
              "L2_imiss,Instr_cnt",     "L2_dmiss_ld,Instr_cnt", "ITLB_miss,Instr_cnt",
              "DTLB_miss,Instr_cnt",    "Br_taken,Instr_cnt",    "Br_completed,Instr_cnt"};
  psEvents = {"FP_instr_cnt,Instr_cnt", "DC_miss,Instr_cnt",     "IC_miss,Instr_cnt",
              "L2_imiss,Instr_cnt",     "L2_imiss_ld,Instr_cnt", "ITLB_miss,Instr_cnt",
              "DTLB_miss,Instr_cnt"};
  psMemoryEvents = {""};
  reportFormat = &format();
  memoryReport = MemoryReport::kUnmeasured;
}

void UST1::per_reference(int index, const SampleMatrix& d, double clk, double bus) {
  unmeasured(index, 0, 13);
  metrics.set(index, 0, clk * d.b(0) / d.t(0));
  // L2 misses go to memory: sets 1 (instructions) and 2 (loads).
  metrics.set(index, 1, clk * 100 / bus * (d.a(1) / d.t(1) + d.a(2) / d.t(2)));
  metrics.set(index, 2, clk * d.a(0) / d.t(0));
}

void UST1::per_instruction(int index, const SampleMatrix& d, double clk, double bus) {
  unmeasured(index, 0, 13);
  metrics.set(index, 0, clk * d.b(0) / d.t(0));
  metrics.set(index, 1, clk * 100 / bus * (d.a(3) / d.t(3) + d.a(4) / d.t(4)));
  metrics.set(index, 2, clk * d.a(0) / d.t(0));
  metrics.set(index, 4, d.a(1) / d.b(1));
  metrics.set(index, 5, d.a(2) / d.b(2));
  metrics.set(index, 6, d.a(3) / d.b(3) + d.a(4) / d.b(4));
  metrics.set(index, 7, d.a(5) / d.b(5));
  metrics.set(index, 8, d.a(6) / d.b(6));
  metrics.set(index, 9, d.a(8) / d.b(8));
  metrics.set(index, 10, d.a(7) / d.b(7));
}

void UST1::per_second(int index, const SampleMatrix& d, double clk, double bus) {
  unmeasured(index, 0, 13);
  metrics.set(index, 0, clk * d.b(0) / d.t(0));
  metrics.set(index, 1, clk * 100 / bus * (d.a(3) / d.t(3) + d.a(4) / d.t(4)));
  metrics.set(index, 2, clk * d.a(0) / d.t(0));
  metrics.set(index, 4, clk * d.a(1) / d.t(1));
  metrics.set(index, 5, clk * d.a(2) / d.t(2));
  metrics.set(index, 6, clk * (d.a(3) / d.t(3) + d.a(4) / d.t(4)));
  metrics.set(index, 7, clk * d.a(5) / d.t(5));
  metrics.set(index, 8, clk * d.a(6) / d.t(6));
}
