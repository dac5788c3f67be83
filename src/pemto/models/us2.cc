// UltraSPARC I and II: the counters count hits, so misses are references
// minus hits. No memory report.
#include "pemto/models/models.h"

namespace {

const ReportFormat& format() {
  static const ReportFormat f = {"mips\tbus\tcpi\tdcm\ticm\tecm\tdsr\tisr\tfsr\tbsr\n",
                                 line_formats(10, false),
                                 {0, 1},
                                 false};
  return f;
}

// Columns 0 to 2, the same in every report.
void common(int index, const SampleMatrix& d, double clk, double bus) {
  metrics.set(index, 0, clk * d.a(0) / d.t(0));
  metrics.set(index, 1, clk * 200 / bus * ((d.a(5) - d.b(5)) / d.t(5) + d.b(1) / d.t(1)));
  metrics.set(index, 2, d.b(0) / d.a(0));
}

}  // namespace

US2::US2(int nbCounters) : Cpu(nbCounters) {
  prEvents = {"Instr_cnt,Cycle_cnt",
              "Cycle_cnt,EC_wb",
              "DC_rd,DC_rd_hit",
              "DC_wr,DC_wr_hit",
              "IC_ref,IC_hit",
              "EC_ref,EC_hit",
              "Load_use,Cycle_cnt",
              "Cycle_cnt,Load_use_RAW",
              "Dispatch0_storeBuf,Cycle_cnt",
              "Dispatch0_IC_miss,Cycle_cnt",
              "Cycle_cnt,Dispatch0_FP_use",
              "Cycle_cnt,Dispatch0_mispred"};
  piEvents = {"Instr_cnt,Cycle_cnt",
              "Instr_cnt,EC_wb",
              "DC_rd,DC_rd_hit",
              "DC_wr,DC_wr_hit",
              "IC_ref,IC_hit",
              "EC_ref,EC_hit",
              "Load_use,Instr_cnt",
              "Instr_cnt,Load_use_RAW",
              "Dispatch0_storeBuf,Instr_cnt",
              "Dispatch0_IC_miss,Instr_cnt",
              "Instr_cnt,Dispatch0_FP_use",
              "Instr_cnt,Dispatch0_mispred"};
  psEvents = {"Instr_cnt,Cycle_cnt",
              "Instr_cnt,EC_wb",
              "DC_rd,DC_rd_hit",
              "DC_wr,DC_wr_hit",
              "IC_ref,IC_hit",
              "EC_ref,EC_hit",
              "Load_use,Load_use_RAW",
              "Dispatch0_storeBuf,Dispatch0_FP_use",
              "Dispatch0_IC_miss,Dispatch0_mispred"};
  reportFormat = &format();
}

void US2::per_reference(int index, const SampleMatrix& d, double clk, double bus) {
  common(index, d, clk, bus);
  metrics.set(index, 3, 100 * (1 - (d.b(2) + d.b(3)) / (d.a(2) + d.a(3))));
  metrics.set(index, 4, 100 * (1 - d.b(4) / d.a(4)));
  metrics.set(index, 5, 100 * (1 - d.b(5) / d.a(5)));
  metrics.set(index, 6, 100 * (d.a(6) / d.b(6) + d.b(7) / d.a(7) + d.a(8) / d.b(8)));
  metrics.set(index, 7, 100 * d.a(9) / d.b(9));
  metrics.set(index, 8, 100 * d.b(10) / d.a(10));
  metrics.set(index, 9, 100 * d.b(11) / d.a(11));
}

void US2::per_instruction(int index, const SampleMatrix& d, double clk, double bus) {
  common(index, d, clk, bus);
  metrics.set(index, 3, ((d.a(2) - d.b(2)) + (d.a(3) - d.b(3))) / d.a(0));
  metrics.set(index, 4, (d.a(4) - d.b(4)) / d.a(1));
  metrics.set(index, 5, (d.a(5) - d.b(5)) / d.a(1));
  metrics.set(index, 6, d.a(6) / d.b(6) + d.b(7) / d.a(7) + d.a(8) / d.b(8));
  metrics.set(index, 7, d.a(9) / d.b(9));
  metrics.set(index, 8, d.b(10) / d.a(10));
  metrics.set(index, 9, d.b(11) / d.a(11));
}

void US2::per_second(int index, const SampleMatrix& d, double clk, double bus) {
  common(index, d, clk, bus);
  metrics.set(index, 3, clk * ((d.a(2) - d.b(2)) / d.t(2) + (d.a(3) - d.b(3)) / d.t(3)));
  metrics.set(index, 4, clk * (d.a(4) - d.b(4)) / d.t(4));
  metrics.set(index, 5, clk * (d.a(5) - d.b(5)) / d.t(5));
  metrics.set(index, 6, (d.a(6) + d.b(6)) / d.t(6) + d.a(7) / d.t(7));
  metrics.set(index, 7, d.a(8) / d.t(8));
  metrics.set(index, 8, d.b(7) / d.t(7));
  metrics.set(index, 9, d.b(8) / d.t(8));
}
