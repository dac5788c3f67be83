// SPARC64 VI and VII: eight counters, so every set carries the instruction
// and cycle counts and a ratio never mixes two sets, except the per-reference
// ecm, whose misses (set 1) and cache reads (set 0) are compared as rates per
// tick. Columns without an event (the data, instruction and branch stall
// rates, and the per-reference L1 and TLB ratios, which have no reference
// count) hold -1.0.
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

// Count j of set s; every set starts with the instruction and cycle counts.
double c(const SampleMatrix& d, int s, int j) {
  return static_cast<double>(d.count(s, j));
}
constexpr int kInstr = 0;
constexpr int kCycles = 1;

// Two counts of one set, added as integers.
double sum(const SampleMatrix& d, int s, int j, int k) {
  return static_cast<double>(d.count(s, j) + d.count(s, k));
}

}  // namespace

Sparc64::Sparc64(int nbCounters) : Cpu(nbCounters) {
  prEvents = {
      "instruction_counts,cycle_counts,floating_instructions,impdep2_instructions,"
      "sx_read_count_pf,sx_read_count_dm",
      "instruction_counts,cycle_counts,sx_miss_count_pf,sx_miss_count_dm,op_r_iu_req_mi_go,"
      "if_r_iu_req_mi_go,trap_DMMU_miss,trap_IMMU_miss",
      "instruction_counts,cycle_counts,flush_rs,branch_instructions,fl_comp_wait"};
  piEvents = {prEvents[0], prEvents[1],
              "instruction_counts,cycle_counts,sx_miss_count_pf,sx_miss_count_dm,"
              "sx_read_count_pf,sx_read_count_dm,",
              "instruction_counts,cycle_counts,flush_rs,branch_instructions,fl_comp_wait,"
              "floating_instructions,impdep2_instructions"};
  psEvents = prEvents;
  psMemoryEvents = {"MC_reads_0,MC_writes_0", "MC_reads_1,MC_writes_1", "MC_reads_2,MC_writes_2",
                    "MC_reads_3,MC_writes_3"};
  reportFormat = &format();
  memoryReport = MemoryReport::kControllers;
}

// Columns 0 to 3 from set 0 in every report: mflops counts floating and
// impdep2 instructions, bus the cache reads (sx_read_count_pf and _dm).
void Sparc64::common(int index, const SampleMatrix& d, double clk, double bus) {
  unmeasured(index, 4, 14);
  metrics.set(index, 0, clk * c(d, 0, kInstr) / d.t(0));
  metrics.set(index, 1, clk * 100 / bus * sum(d, 0, 4, 5) / d.t(0));
  metrics.set(index, 2, clk * sum(d, 0, 2, 3) / d.t(0));
  metrics.set(index, 3, c(d, 0, kCycles) / c(d, 0, kInstr));
}

void Sparc64::per_reference(int index, const SampleMatrix& d, double clk, double bus) {
  common(index, d, clk, bus);
  // Cache misses (set 1) per cache read (set 0), both as rates per tick.
  metrics.set(index, 6, 100 * (sum(d, 1, 2, 3) / d.t(1)) / (sum(d, 0, 4, 5) / d.t(0)));
  metrics.set(index, 9, 100 * c(d, 2, 3) / c(d, 2, kInstr));  // branches
  metrics.set(index, 10, 100 * c(d, 2, 2) / c(d, 2, 3));      // flush_rs per branch
  metrics.set(index, 13, 100 * c(d, 2, 4) / c(d, 2, kCycles));
}

void Sparc64::per_instruction(int index, const SampleMatrix& d, double clk, double bus) {
  common(index, d, clk, bus);
  metrics.set(index, 4, c(d, 1, 4) / c(d, 1, kInstr));  // op_r_iu_req_mi_go
  metrics.set(index, 5, c(d, 1, 5) / c(d, 1, kInstr));  // if_r_iu_req_mi_go
  metrics.set(index, 6, sum(d, 2, 2, 3) / c(d, 2, kInstr));
  metrics.set(index, 7, c(d, 1, 7) / c(d, 1, kInstr));  // trap_IMMU_miss
  metrics.set(index, 8, c(d, 1, 6) / c(d, 1, kInstr));  // trap_DMMU_miss
  metrics.set(index, 9, c(d, 3, 3) / c(d, 3, kInstr));
  metrics.set(index, 10, c(d, 3, 2) / c(d, 3, kInstr));
  metrics.set(index, 13, c(d, 3, 4) / c(d, 3, kInstr));
}

void Sparc64::per_second(int index, const SampleMatrix& d, double clk, double bus) {
  common(index, d, clk, bus);
  metrics.set(index, 4, clk * c(d, 1, 4) / d.t(1));
  metrics.set(index, 5, clk * c(d, 1, 5) / d.t(1));
  metrics.set(index, 6, clk * sum(d, 1, 2, 3) / d.t(1));
  metrics.set(index, 7, clk * c(d, 1, 7) / d.t(1));
  metrics.set(index, 8, clk * c(d, 1, 6) / d.t(1));
  metrics.set(index, 9, clk * c(d, 2, 3) / d.t(2));
  metrics.set(index, 10, clk * c(d, 2, 2) / d.t(2));
  metrics.set(index, 13, clk * c(d, 2, 4) / d.t(2));
}
