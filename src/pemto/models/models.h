// The catalogue of CPU models, one file each, and the choice of the model
// from the processor name the counter library reports (catalogue.cc). A model
// fills its event-set lists in its constructor and is read-only afterwards;
// its formulas address the counts of a pass by the position of a set in the
// list of the report.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "pemto/counters/cpc.h"
#include "pemto/cpu.h"

// The model for the processor the handle counts on, or null when the name is
// not recognised. Names are compared byte for byte; the perf_event backend,
// whatever its processor, gets the model of the kernel's generic events.
// *out_of_memory is set when the model could not be allocated.
Cpu* create_cpu_model(cpc_t* cpc, bool* out_of_memory);

// Chooses the model, stores it in targetCpu and nb_counters and prints the CPU
// banner. False after the "not a recognized cpu type" (or "out of heap")
// message.
bool select_cpu_model(cpc_t* cpc, const char* progname);

// UltraSPARC I and II: hit counters, so misses are references minus hits.
class US2 : public Cpu {
 public:
  explicit US2(int nbCounters);
  const char* getCpuType() const override { return "UltraSPARC I&II"; }
  void per_reference(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_instruction(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_second(int index, const SampleMatrix& d, double clk, double bus) override;
};

// UltraSPARC III, with memory controllers.
class US3 : public Cpu {
 public:
  explicit US3(int nbCounters);
  const char* getCpuType() const override { return "UltraSPARC III"; }
  void per_reference(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_instruction(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_second(int index, const SampleMatrix& d, double clk, double bus) override;

 protected:
  // Columns 0 to 14 in one report mode; S is the data-stall cycle count.
  void fill(int index, const SampleMatrix& d, double clk, double bus, int type, uint64_t S);
};

// UltraSPARC IIIi and IIIi+: the lists and formulas of the UltraSPARC III.
class US3i : public US3 {
 public:
  explicit US3i(int nbCounters);
  const char* getCpuType() const override;
};

// UltraSPARC III+ and IV: the UltraSPARC III with remote-memory columns.
class US3p : public US3 {
 public:
  explicit US3p(int nbCounters);
  const char* getCpuType() const override { return "UltraSPARC III+"; }
  void per_reference(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_instruction(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_second(int index, const SampleMatrix& d, double clk, double bus) override;
};

// UltraSPARC IV+: the lists and formulas of the UltraSPARC III+.
class US4p : public US3p {
 public:
  explicit US4p(int nbCounters);
  const char* getCpuType() const override;
};

// UltraSPARC T1: no cycle counter; columns it cannot measure hold -1.0.
class UST1 : public Cpu {
 public:
  explicit UST1(int nbCounters);
  const char* getCpuType() const override { return "UltraSPARC T1"; }
  void per_reference(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_instruction(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_second(int index, const SampleMatrix& d, double clk, double bus) override;
};

// UltraSPARC T2 and T2+.
class UST2 : public Cpu {
 public:
  explicit UST2(int nbCounters);
  const char* getCpuType() const override { return "UltraSPARC T2"; }
  void per_reference(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_instruction(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_second(int index, const SampleMatrix& d, double clk, double bus) override;
};

// SPARC64 VI and VII: eight counters, so few sets.
class Sparc64 : public Cpu {
 public:
  explicit Sparc64(int nbCounters);
  const char* getCpuType() const override { return "SPARC64 VI & VII"; }
  void per_reference(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_instruction(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_second(int index, const SampleMatrix& d, double clk, double bus) override;

 private:
  void common(int index, const SampleMatrix& d, double clk, double bus);
};

// Pentium Pro and Pentium II.
class P6 : public Cpu {
 public:
  explicit P6(int nbCounters);
  const char* getCpuType() const override { return "Pentium Pro with MMX, Pentium II"; }
  void per_reference(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_instruction(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_second(int index, const SampleMatrix& d, double clk, double bus) override;
};

// Pentium 4 with HyperThreading: the lists and formulas of the P6.
class Xeon : public P6 {
 public:
  explicit Xeon(int nbCounters);
  const char* getCpuType() const override;
};

// AMD Opteron and Athlon64: four counters, so some sets have three events.
class Opteron : public Cpu {
 public:
  explicit Opteron(int nbCounters);
  const char* getCpuType() const override { return "AMD Opteron & Athlon64"; }
  void per_reference(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_instruction(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_second(int index, const SampleMatrix& d, double clk, double bus) override;
};

// Any processor the Linux perf_event backend counts on, through the kernel's
// generic events. The lists hold only the events the kernel offers here, and
// a column whose events are missing holds -1.0.
class LinuxPerf : public Cpu {
 public:
  // offered: the events the counter library offers on this machine.
  LinuxPerf(int nbCounters, const std::set<std::string>& offered);
  const char* getCpuType() const override { return "Linux perf_event generic events"; }
  void per_reference(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_instruction(int index, const SampleMatrix& d, double clk, double bus) override;
  void per_second(int index, const SampleMatrix& d, double clk, double bus) override;

  // A metric: column := scale x (sum of the numerator events) / denominator,
  // all counted in one set; the denominator is an event or, when empty, the
  // set's ticks (then scale is the CPU clock, making a rate per second).
  struct Metric {
    int column;
    std::vector<std::string> numerator;
    std::string denominator;
    enum Scale { kRatio, kPercent, kClock } scale;
  };
  // Where a plan puts a metric: its set and the positions of its counts in
  // it (denominator -1: the ticks).
  struct Placed {
    Metric metric;
    int set;
    std::vector<int> numerator_at;
    int denominator_at;
  };
  struct Plan {
    std::vector<std::vector<std::string>> sets;  // events of each set kept
    std::vector<Placed> metrics;                 // metrics whose events are all offered
  };
  // Keeps the sets and metrics of a mode that the offered events allow.
  static Plan plan(const std::vector<std::vector<std::string>>& sets,
                   const std::vector<Metric>& metrics, const std::set<std::string>& offered);

 private:
  void apply(const Plan& plan, int index, const SampleMatrix& d, double clk);
  Plan reference_, instruction_, second_;
};
