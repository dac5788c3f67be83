// The CPU model framework: what a processor family contributes to a report
// (its lists of event sets, its formulas and its line formats), the table of
// derived metrics the sampling threads fill and the three aggregators. The
// models themselves, and the choice among them, are in models/.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pemto/counters/cpc.h"

struct tstate;

// Metrics types: which report a run produces.
constexpr int kPerReference = 1;
constexpr int kPerSecond = 2;
constexpr int kPerInstruction = 3;
constexpr int kMemory = 4;

// One sampling pass of one CPU: a row per event set in list order, with the
// count of each counter and, in the last column, the ticks the set ran for.
class SampleMatrix {
 public:
  SampleMatrix(int nsets, int ncounters);
  // False when the rows could not be allocated.
  bool ok() const { return cells_ != nullptr; }
  int nsets() const { return nsets_; }
  int ncounters() const { return ncounters_; }
  // The cells of row s (ncounters() + 1 of them), null outside the matrix.
  uint64_t* row(int s);
  // Cells outside the matrix read as 0, so a formula never reads past it.
  uint64_t count(int s, int j) const;
  uint64_t ticks(int s) const { return count(s, ncounters_); }

  // The formulas' names: first, second and third count of set s, its ticks.
  double a(int s) const { return static_cast<double>(count(s, 0)); }
  double b(int s) const { return static_cast<double>(count(s, 1)); }
  double x(int s) const { return static_cast<double>(count(s, 2)); }
  double t(int s) const { return static_cast<double>(ticks(s)); }

 private:
  int nsets_, ncounters_;
  std::unique_ptr<uint64_t[]> cells_;
};

// One row of metric values per sampled CPU. A row is written by its CPU's
// sampling thread while the main thread prints; the cells are atomic so that
// a line may mix two passes of a CPU but never reads a torn value.
class MetricTable {
 public:
  static constexpr int kColumns = 512;

  // Zero-filled rows; false when out of memory.
  bool create(int rows);
  void destroy();
  int rows() const { return rows_; }
  // Cells outside the table are ignored and read as 0.
  void set(int row, int column, double value);
  double get(int row, int column) const;

 private:
  std::unique_ptr<std::atomic<double>[]> cells_;
  int rows_ = 0;
};

extern MetricTable metrics;

// Aggregators over rows 0 .. ncpus-1 of one column of metrics.
typedef double (*aggregate_fn)(int ncpus, int column);
double sum_metric(int ncpus, int column);
double avg_metric(int ncpus, int column);
// The largest value, starting from 0.0: negative values never win.
double max_metric(int ncpus, int column);

// The lines of a model's per-reference, per-instruction and per-second
// reports.
struct ReportFormat {
  const char* title;
  std::vector<const char*> formats;  // one per column, the separator included
  std::vector<int> summed;           // columns that are totals over the machine
  bool flush_title;                  // the title is flushed as soon as it is written
};

// What a model's memory report (-M) is.
enum class MemoryReport {
  kNone,         // there is none: -M is refused
  kControllers,  // bandwidth of the four memory controllers, one set each
  kUnmeasured,   // the counters do not see the controllers: -1.0 in every column
};

// A processor family. Its constructor fills in its lists and describes its
// reports (reportFormat, memoryReport, fixedBusClock); a model overrides the
// formulas of its reports, and the printing follows the description.
class Cpu {
 public:
  explicit Cpu(int nbCounters);
  // Virtual, so that a model can be released through its base.
  virtual ~Cpu() = default;
  Cpu(const Cpu&) = delete;
  Cpu& operator=(const Cpu&) = delete;

  virtual const char* getCpuType() const { return ""; }
  // Fill row index of metrics from one pass; clk and bus in MHz.
  virtual void per_reference(int index, const SampleMatrix& data, double clk, double bus) = 0;
  virtual void per_instruction(int index, const SampleMatrix& data, double clk, double bus) = 0;
  virtual void per_second(int index, const SampleMatrix& data, double clk, double bus) = 0;
  // As the memory report says: the controllers' bandwidth, columns 0 to 10
  // unmeasured, or nothing.
  virtual void per_second_memory(int index, const SampleMatrix& data, double clk, double bus);
  // Dispatches on the metrics type; other types compute nothing.
  virtual void calc_metrics(int index, const SampleMatrix& data, double clk, double bus);

  // The reports' lines, in the model's format; nothing without one. The
  // per-CPU lines are one per sampled slot (cpuid != -1) among the nslots.
  void print_title();
  void print_percpu(int ncpus, const tstate* slots, int nslots);
  void print_metrics(int ncpus, aggregate_fn aggregate);
  // The memory report's lines; nothing when the model has none.
  void print_memory_title();
  void print_memory_percpu(int ncpus, const tstate* slots, int nslots);
  void print_memory_metrics(int ncpus, aggregate_fn aggregate);

  int getNbCounters() const { return nbCounters; }
  void setNbCounters(int n) { nbCounters = n; }
  int getMetricsType() const { return metricsType; }
  void setMetricsType(int type) { metricsType = type; }
  bool isMemoryMetricsCapable() const { return memoryReport != MemoryReport::kNone; }
  // The bus clock in MHz when the family's is known whatever the machine
  // says, else 0 (the run reads the device tree).
  double getFixedBusClock() const { return fixedBusClock; }
  std::vector<std::string> getPrEvents() const { return prEvents; }
  std::vector<std::string> getPiEvents() const { return piEvents; }
  std::vector<std::string> getPsEvents() const { return psEvents; }
  std::vector<std::string> getPsMemoryEvents() const { return psMemoryEvents; }
  // The list of the current metrics type (per-instruction for unknown types).
  std::vector<std::string> getEvents() const;

 protected:
  // Marks columns first .. last of a row as not measured (-1.0).
  void unmeasured(int index, int first, int last);

  std::vector<std::string> prEvents;
  std::vector<std::string> piEvents;
  std::vector<std::string> psEvents;
  std::vector<std::string> psMemoryEvents;
  int nbCounters;
  int metricsType = kPerInstruction;
  const ReportFormat* reportFormat = nullptr;  // static; null: no lines
  MemoryReport memoryReport = MemoryReport::kNone;
  double fixedBusClock = 0.0;  // MHz
};

// The model of the run and its number of counters, set once at start-up
// (select_cpu_model, models/models.h).
extern Cpu* targetCpu;
extern int nb_counters;

// The usual data-line formats: "%4.0f", then "\t%3.1f" for every other
// column except the third, "\t%4.0f", when it holds mflops.
std::vector<const char*> line_formats(int ncolumns, bool mflops_third);
