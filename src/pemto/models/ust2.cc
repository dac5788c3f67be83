// UltraSPARC T2 and T2+: like the T1, no cycle event and no reference counts
// (columns it cannot measure hold -1.0), and taken branches are the
// mispredicted ones. The instruction count is the first event of its sets.
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

// mips and mflops from set 0, bus from the L2 misses of set 1.
void common(int index, const SampleMatrix& d, double clk, double bus) {
  metrics.set(index, 0, clk * d.a(0) / d.t(0));
  metrics.set(index, 1, clk * 100 / bus * (d.a(1) + d.b(1)) / d.t(1));
  metrics.set(index, 2, clk * d.b(0) / d.t(0));
}

}  // namespace

UST2::UST2(int nbCounters) : Cpu(nbCounters) {
  prEvents = {"Instr_cnt,Instr_FGU_arithmetic", "L2_imiss,L2_dmiss_ld"};
  piEvents = {"Instr_cnt,Instr_FGU_arithmetic",
              "L2_imiss,L2_dmiss_ld",
              "Instr_cnt,DC_miss",
              "Instr_cnt,IC_miss",
              "Instr_cnt,L2_imiss",
              "Instr_cnt,L2_dmiss_ld",
              "Instr_cnt,ITLB_miss",
              "Instr_cnt,DTLB_miss",
              "Instr_cnt,Br_taken",
              "Instr_cnt,Br_completed"};
  psEvents = {"Instr_cnt,Instr_FGU_arithmetic", "L2_imiss,L2_dmiss_ld", "DC_miss,IC_miss",
              "L2_imiss,L2_imiss_ld",           "ITLB_miss,DTLB_miss",  "Br_taken,Br_completed"};
  psMemoryEvents = {""};
  reportFormat = &format();
  memoryReport = MemoryReport::kUnmeasured;
}

void UST2::per_reference(int index, const SampleMatrix& d, double clk, double bus) {
  unmeasured(index, 3, 13);
  common(index, d, clk, bus);
}

void UST2::per_instruction(int index, const SampleMatrix& d, double clk, double bus) {
  unmeasured(index, 3, 13);
  common(index, d, clk, bus);
  metrics.set(index, 4, d.b(2) / d.a(2));
  metrics.set(index, 5, d.b(3) / d.a(3));
  metrics.set(index, 6, d.b(4) / d.a(4) + d.b(5) / d.a(5));
  metrics.set(index, 7, d.b(6) / d.a(6));
  metrics.set(index, 8, d.b(7) / d.a(7));
  metrics.set(index, 9, d.b(9) / d.a(9));
  metrics.set(index, 10, d.b(8) / d.a(8));
}

void UST2::per_second(int index, const SampleMatrix& d, double clk, double bus) {
  unmeasured(index, 3, 13);
  common(index, d, clk, bus);
  metrics.set(index, 4, clk * d.a(2) / d.t(2));
  metrics.set(index, 5, clk * d.b(2) / d.t(2));
  metrics.set(index, 6, clk * (d.a(3) + d.b(3)) / d.t(3));
  metrics.set(index, 7, clk * d.a(4) / d.t(4));
  metrics.set(index, 8, clk * d.b(4) / d.t(4));
  metrics.set(index, 9, clk * d.b(5) / d.t(5));
  metrics.set(index, 10, clk * d.a(5) / d.t(5));
}
