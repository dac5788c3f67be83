// Pentium Pro and Pentium II: two counters; the rates of columns 0 to 2
// divide by the ticks of set 0. No memory report.
#include "pemto/models/models.h"

namespace {

const ReportFormat& format() {
  // Written through the stream and flushed at once.
  static const ReportFormat f = {
      "mips\tbus\tmflops\tcpi\tdcm\ticm\tecm\titlb\tbrr\tbmr\tdsr\tisr\tfsr\n",
      line_formats(13, true),
      {0, 1, 2},
      true};
  return f;
}

}  // namespace

P6::P6(int nbCounters) : Cpu(nbCounters) {
  prEvents = {"inst_retired,cpu_clk_unhalted",  "data_mem_refs,dcu_lines_in",
              "l2_ifetch,ifu_ifetch",           "l2_lines_in,l2_rqsts",
              "br_inst_retired,inst_retired",   "br_miss_pred_retired,br_inst_retired",
              "itlb_miss,ifu_ifetch",           "dcu_miss_outstanding,cpu_clk_unhalted",
              "ifu_mem_stall,cpu_clk_unhalted", "cycles_div_busy,cpu_clk_unhalted",
              "flops,cpu_clk_unhalted"};
  piEvents = {"inst_retired,cpu_clk_unhalted", "inst_retired,dcu_lines_in",
              "inst_retired,l2_ifetch",        "inst_retired,l2_lines_in",
              "br_inst_retired,inst_retired",  "inst_retired,br_miss_pred_retired",
              "inst_retired,itlb_miss",        "inst_retired,dcu_miss_outstanding",
              "inst_retired,ifu_mem_stall",    "cycles_div_busy,inst_retired",
              "flops,cpu_clk_unhalted"};
  psEvents = {"inst_retired,cpu_clk_unhalted",
              "dcu_lines_in,l2_lines_in",
              "l2_ifetch,itlb_miss",
              "br_inst_retired,br_miss_pred_retired",
              "dcu_miss_outstanding,ifu_mem_stall",
              "cycles_div_busy,cpu_clk_unhalted",
              "flops,cpu_clk_unhalted"};
  reportFormat = &format();
  // Its bus runs at 133 MHz whatever the device tree says.
  fixedBusClock = 133.0;
}

void P6::per_reference(int index, const SampleMatrix& d, double clk, double bus) {
  auto put = [&](int column, double value) { metrics.set(index, column, value); };
  put(0, clk * d.a(0) / d.t(0));
  put(1, clk * 300 / bus * d.a(3) / d.t(0));
  put(2, clk * d.a(10) / d.t(0));
  put(3, d.b(0) / d.a(0));
  put(4, 100 * d.b(1) / d.a(1));
  put(5, 100 * d.a(2) / d.b(2));
  put(6, 100 * d.a(3) / d.b(3));
  put(7, 100 * d.a(6) / d.b(6));
  put(8, 100 * d.a(4) / d.b(4));
  put(9, 100 * d.a(5) / d.b(5));
  put(10, 100 * d.a(7) / d.b(7));
  put(11, 100 * d.a(8) / d.b(8));
  put(12, 100 * d.a(9) / d.b(9));
}

void P6::per_instruction(int index, const SampleMatrix& d, double clk, double bus) {
  auto put = [&](int column, double value) { metrics.set(index, column, value); };
  put(0, clk * d.a(0) / d.t(0));
  put(1, clk * 300 / bus * d.b(3) / d.t(0));
  put(2, clk * d.a(10) / d.t(0));
  put(3, d.b(0) / d.a(0));
  put(4, d.b(1) / d.a(1));
  put(5, d.b(2) / d.a(2));
  put(6, d.b(3) / d.a(3));
  put(7, d.b(6) / d.a(6));
  put(8, d.a(4) / d.b(4));
  put(9, d.b(5) / d.a(5));
  put(10, d.b(7) / d.a(7));
  put(11, d.b(8) / d.a(8));
  put(12, d.a(9) / d.b(9));
}

void P6::per_second(int index, const SampleMatrix& d, double clk, double bus) {
  auto put = [&](int column, double value) { metrics.set(index, column, value); };
  // Columns 4 to 12: the raw count of the interval over CLK x 10^6.
  auto raw = [&](double count) { return count / clk / 1e6; };
  put(0, clk * d.a(0) / d.t(0));
  put(1, clk * 300 / bus * d.b(1) / d.t(0));
  put(2, clk * d.a(6) / d.t(0));
  put(3, d.b(0) / d.a(0));
  put(4, raw(d.a(1)));
  put(5, raw(d.a(2)));
  put(6, raw(d.b(1)));
  put(7, raw(d.b(2)));
  put(8, raw(d.a(3)));
  put(9, raw(d.b(3)));
  put(10, raw(d.a(4)));
  put(11, raw(d.b(4)));
  put(12, raw(d.a(5)));
}
