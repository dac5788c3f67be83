// AMD Opteron and Athlon64: four counters, so a set may carry a third event
// (X). The columns of the P6. No memory report.
#include "pemto/models/models.h"

namespace {

const ReportFormat& format() {
  static const ReportFormat f = {
      "mips\tbus\tmflops\tcpi\tdcm\ticm\tecm\titlb\tbrr\tbmr\tdsr\tisr\tfsr\n",
      line_formats(13, true),
      {0, 1, 2},
      true};
  return f;
}

const char kFpOps[] = "pic0=FP_dispatched_fpu_ops,cmask0=0,umask0=0x7,pic1=BU_cpu_clk_unhalted";

}  // namespace

Opteron::Opteron(int nbCounters) : Cpu(nbCounters) {
  prEvents = {"FR_retired_x86_instr_w_excp_intr,BU_cpu_clk_unhalted",
              "DC_access,DC_refill_from_L2,DC_refill_from_system",
              "IC_fetch,IC_refill_from_L2,IC_refill_from_system",
              "BU_fill_req_missed_L2,BU_internal_L2_req",
              "FR_retired_branches_w_excp_intr,FR_retired_x86_instr_w_excp_intr  ",
              "FR_retired_branches_mispred,FR_retired_branches_w_excp_intr",
              "IC_itlb_L1_miss_L2_miss,IC_fetch",
              "FR_dispatch_stall_segment_load,BU_cpu_clk_unhalted",
              "IC_instr_fetch_stall,BU_cpu_clk_unhalted",
              "FR_dispatch_stall_fpu_full,BU_cpu_clk_unhalted",
              kFpOps};
  piEvents = {"FR_retired_x86_instr_w_excp_intr,BU_cpu_clk_unhalted",
              "FR_retired_x86_instr_w_excp_intr,DC_refill_from_L2,DC_refill_from_system",
              "FR_retired_x86_instr_w_excp_intr,IC_refill_from_L2,IC_refill_from_system",
              "FR_retired_x86_instr_w_excp_intr,BU_fill_req_missed_L2",
              "FR_retired_branches_w_excp_intr,FR_retired_x86_instr_w_excp_intr",
              "FR_retired_x86_instr_w_excp_intr,FR_retired_branches_mispred",
              "FR_retired_x86_instr_w_excp_intr,IC_itlb_L1_miss_L2_miss",
              "FR_retired_x86_instr_w_excp_intr,FR_dispatch_stall_segment_load",
              "FR_retired_x86_instr_w_excp_intr,IC_instr_fetch_stall",
              "FR_dispatch_stall_fpu_full,FR_retired_x86_instr_w_excp_intr",
              kFpOps};
  psEvents = {"FR_retired_x86_instr_w_excp_intr,BU_cpu_clk_unhalted",
              "DC_refill_from_L2,DC_refill_from_system",
              "IC_refill_from_L2,IC_refill_from_system,IC_itlb_L1_miss_L2_miss",
              "FR_retired_branches_w_excp_intr,FR_retired_branches_mispred,BU_fill_req_missed_L2",
              "FR_dispatch_stall_segment_load,IC_instr_fetch_stall",
              "FR_dispatch_stall_fpu_full,BU_cpu_clk_unhalted",
              kFpOps};
  reportFormat = &format();
}

void Opteron::per_reference(int index, const SampleMatrix& d, double clk, double bus) {
  auto put = [&](int column, double value) { metrics.set(index, column, value); };
  put(0, clk * d.a(0) / d.t(0));
  put(1, clk * 300 / bus * d.a(3) / d.t(0));
  put(2, clk * d.a(10) / d.t(0));
  put(3, d.b(0) / d.a(0));
  put(4, 100 * (d.b(1) + d.x(1)) / d.a(1));
  put(5, 100 * (d.b(2) + d.x(2)) / d.a(2));
  put(6, 100 * d.a(3) / d.b(3));
  put(7, 100 * d.a(6) / d.b(6));
  put(8, 100 * d.a(4) / d.b(4));
  put(9, 100 * d.a(5) / d.b(5));
  put(10, 100 * d.a(7) / d.b(7));
  put(11, 100 * d.a(8) / d.b(8));
  put(12, 100 * d.a(9) / d.b(9));
}

void Opteron::per_instruction(int index, const SampleMatrix& d, double clk, double bus) {
  auto put = [&](int column, double value) { metrics.set(index, column, value); };
  put(0, clk * d.a(0) / d.t(0));
  put(1, clk * 300 / bus * d.b(3) / d.t(0));
  put(2, clk * d.a(10) / d.t(0));
  put(3, d.b(0) / d.a(0));
  put(4, (d.b(1) + d.x(1)) / d.a(1));
  put(5, (d.b(2) + d.x(2)) / d.a(2));
  put(6, d.b(3) / d.a(3));
  put(7, d.b(6) / d.a(6));
  put(8, d.a(4) / d.b(4));
  put(9, d.b(5) / d.a(5));
  put(10, d.b(7) / d.a(7));
  put(11, d.b(8) / d.a(8));
  put(12, d.a(9) / d.b(9));
}

void Opteron::per_second(int index, const SampleMatrix& d, double clk, double bus) {
  auto put = [&](int column, double value) { metrics.set(index, column, value); };
  // Columns 4 to 12: the raw count of the interval over CLK x 10^6.
  auto raw = [&](double count) { return count / clk / 1e6; };
  put(0, clk * d.a(0) / d.t(0));
  put(1, clk * 300 / bus * d.b(1) / d.t(0));
  put(2, clk * d.a(6) / d.t(0));
  put(3, d.b(0) / d.a(0));
  put(4, raw(d.a(1) + d.b(1)));
  put(5, raw(d.a(2) + d.b(2)));
  put(6, raw(d.x(3)));
  put(7, raw(d.x(2)));
  put(8, raw(d.a(3)));
  put(9, raw(d.b(3)));
  put(10, raw(d.a(4)));
  put(11, raw(d.b(4)));
  put(12, raw(d.a(5)));
}
