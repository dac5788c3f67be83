// UltraSPARC III+ and IV: the UltraSPARC III with Re_DC_miss and Re_PC_miss
// swapped between sets 7 and 9, and remote writebacks and remote misses.
#include "pemto/models/models.h"

namespace {

const ReportFormat& format() {
  static const ReportFormat f = {
      "mips\tbus\tmflops\tcpi\tdcm\ticm\tecm\titlb\tdtlb\tbrr\tbmr\tdsr\tisr\tfsr\tbsr\trwb\trecm"
      "\n",
      line_formats(17, true),
      {0, 1, 2},
      false};
  return f;
}

// Re_DC_miss is now in set 9 and Re_PC_miss in set 7.
uint64_t data_stalls(const SampleMatrix& d) {
  return d.count(7, 0) + d.count(9, 1) + d.count(8, 0) + d.count(8, 1) +
         12 * (d.count(7, 1) + d.count(10, 1));
}

}  // namespace

US3p::US3p(int nbCounters) : US3(nbCounters) {
  for (auto* list : {&prEvents, &piEvents, &psEvents}) (*list)[7] = "Rstall_storeQ,Re_PC_miss";
  prEvents[9] = "Cycle_cnt,Re_DC_miss";
  psEvents[9] = "Cycle_cnt,Re_DC_miss";
  piEvents[9] = "Instr_cnt,Re_DC_miss";
  prEvents.push_back("EC_wb_remote,EC_wb");
  prEvents.push_back("EC_miss_local,EC_misses");
  piEvents.push_back("EC_wb_remote,Instr_cnt");
  piEvents.push_back("Instr_cnt,EC_miss_remote");
  psEvents.push_back("EC_wb_remote,EC_miss_remote");
  reportFormat = &format();
}

void US3p::per_reference(int index, const SampleMatrix& d, double clk, double bus) {
  fill(index, d, clk, bus, kPerReference, data_stalls(d));
  metrics.set(index, 15, 100 * d.a(22) / d.b(22));
  metrics.set(index, 16, 100 * (1 - d.a(23) / d.b(23)));
}

void US3p::per_instruction(int index, const SampleMatrix& d, double clk, double bus) {
  fill(index, d, clk, bus, kPerInstruction, data_stalls(d));
  metrics.set(index, 15, d.a(22) / d.b(22));
  metrics.set(index, 16, d.b(23) / d.a(23));
}

void US3p::per_second(int index, const SampleMatrix& d, double clk, double bus) {
  fill(index, d, clk, bus, kPerSecond, data_stalls(d));
  metrics.set(index, 15, clk * d.a(22) / d.t(22));
  metrics.set(index, 16, clk * d.b(22) / d.t(22));
}
