#include "pemto/cpu.h"

#include <cstdio>
#include <new>

#include "pemto/gtick.h"

MetricTable metrics;
Cpu* targetCpu = nullptr;
int nb_counters = 0;

SampleMatrix::SampleMatrix(int nsets, int ncounters)
    : nsets_(nsets > 0 ? nsets : 0), ncounters_(ncounters > 0 ? ncounters : 0) {
  size_t cells = static_cast<size_t>(nsets_) * (static_cast<size_t>(ncounters_) + 1);
  cells_.reset(new (std::nothrow) uint64_t[cells ? cells : 1]());
}

uint64_t* SampleMatrix::row(int s) {
  if (!cells_ || s < 0 || s >= nsets_) return nullptr;
  return &cells_[static_cast<size_t>(s) * (ncounters_ + 1)];
}

uint64_t SampleMatrix::count(int s, int j) const {
  if (!cells_ || s < 0 || s >= nsets_ || j < 0 || j > ncounters_) return 0;
  return cells_[static_cast<size_t>(s) * (ncounters_ + 1) + j];
}

bool MetricTable::create(int rows) {
  destroy();
  if (rows <= 0) return true;
  size_t cells = static_cast<size_t>(rows) * kColumns;
  cells_.reset(new (std::nothrow) std::atomic<double>[cells]);
  if (!cells_) return false;
  for (size_t i = 0; i < cells; i++) cells_[i].store(0.0, std::memory_order_relaxed);
  rows_ = rows;
  return true;
}

void MetricTable::destroy() {
  cells_.reset();
  rows_ = 0;
}

void MetricTable::set(int row, int column, double value) {
  if (row < 0 || row >= rows_ || column < 0 || column >= kColumns) return;
  cells_[static_cast<size_t>(row) * kColumns + column].store(value, std::memory_order_relaxed);
}

double MetricTable::get(int row, int column) const {
  if (row < 0 || row >= rows_ || column < 0 || column >= kColumns) return 0.0;
  return cells_[static_cast<size_t>(row) * kColumns + column].load(std::memory_order_relaxed);
}

double sum_metric(int ncpus, int column) {
  double sum = 0.0;
  for (int i = 0; i < ncpus; i++) sum += metrics.get(i, column);
  return sum;
}

double avg_metric(int ncpus, int column) {
  return sum_metric(ncpus, column) / static_cast<double>(ncpus);
}

double max_metric(int ncpus, int column) {
  double max = 0.0;
  for (int i = 0; i < ncpus; i++) {
    double v = metrics.get(i, column);
    if (v > max) max = v;
  }
  return max;
}

std::vector<const char*> line_formats(int ncolumns, bool mflops_third) {
  std::vector<const char*> formats;
  for (int k = 0; k < ncolumns; k++) {
    formats.push_back(k == 0 ? "%4.0f" : k == 2 && mflops_third ? "\t%4.0f" : "\t%3.1f");
  }
  return formats;
}

Cpu::Cpu(int nbCounters) : nbCounters(nbCounters) {}

std::vector<std::string> Cpu::getEvents() const {
  switch (metricsType) {
    case kPerReference:
      return prEvents;
    case kPerSecond:
      return psEvents;
    case kMemory:
      return psMemoryEvents;
    default:
      return piEvents;
  }
}

void Cpu::calc_metrics(int index, const SampleMatrix& data, double clk, double bus) {
  switch (metricsType) {
    case kPerReference:
      per_reference(index, data, clk, bus);
      break;
    case kPerSecond:
      per_second(index, data, clk, bus);
      break;
    case kPerInstruction:
      per_instruction(index, data, clk, bus);
      break;
    case kMemory:
      per_second_memory(index, data, clk, bus);
      break;
    default:
      break;
  }
}

namespace {

// Formats one value (bounded: wide enough for any double in these formats).
void append_formatted(std::string* out, const char* format, double value) {
  char buf[400];
  int n = snprintf(buf, sizeof buf, format, value);
  if (n > 0) out->append(buf, static_cast<size_t>(n) < sizeof buf ? n : sizeof buf - 1);
}

bool summed(const ReportFormat& f, int column) {
  for (int c : f.summed) {
    if (c == column) return true;
  }
  return false;
}

// One line, written at once so that it is never split by another writer.
void print_row(const ReportFormat& f, const char* prefix, const double* values) {
  std::string line = prefix;
  for (size_t k = 0; k < f.formats.size(); k++) append_formatted(&line, f.formats[k], values[k]);
  line += '\n';
  fputs(line.c_str(), stdout);
}

// Calls fn(slot, row) for the sampled slots, at most ncpus of them.
template <typename Fn>
void for_each_sampled(int ncpus, const tstate* slots, int nslots, Fn fn) {
  int printed = 0;
  for (int i = 0; i < nslots && printed < ncpus; i++) {
    if (slots[i].cpuid == -1) continue;
    // The slot's own row: a slot given up after numbering keeps its index.
    fn(slots[i], slots[i].index);
    printed++;
  }
}

// Bandwidth of the four memory controllers, one set each (reads, writes).
void memory_controllers(int index, const SampleMatrix& d, double clk) {
  // 64-byte lines, in megabytes of 2^20 bytes per second.
  const double K = clk * 64 * 0.95367431640625;
  double rd = 0.0, wr = 0.0;
  for (int i = 0; i < 4; i++) {
    double reads = K * d.a(i) / d.t(i);
    double writes = K * d.b(i) / d.t(i);
    metrics.set(index, 3 + 2 * i, reads);
    metrics.set(index, 4 + 2 * i, writes);
    rd += reads;
    wr += writes;
  }
  metrics.set(index, 1, rd);
  metrics.set(index, 2, wr);
  metrics.set(index, 0, rd + wr);
}

}  // namespace

void Cpu::per_second_memory(int index, const SampleMatrix& d, double clk, double) {
  switch (memoryReport) {
    case MemoryReport::kControllers:
      memory_controllers(index, d, clk);
      break;
    case MemoryReport::kUnmeasured:
      unmeasured(index, 0, 10);
      break;
    case MemoryReport::kNone:
      break;
  }
}

void Cpu::print_title() {
  if (!reportFormat) return;
  fputs(reportFormat->title, stdout);
  if (reportFormat->flush_title) fflush(stdout);
}

void Cpu::print_metrics(int ncpus, aggregate_fn aggregate) {
  if (!reportFormat) return;
  const ReportFormat& f = *reportFormat;
  std::vector<double> values(f.formats.size());
  for (size_t k = 0; k < values.size(); k++) {
    int column = static_cast<int>(k);
    values[k] = summed(f, column) ? sum_metric(ncpus, column) : aggregate(ncpus, column);
  }
  print_row(f, "", values.data());
}

void Cpu::print_percpu(int ncpus, const tstate* slots, int nslots) {
  if (!reportFormat) return;
  const ReportFormat& f = *reportFormat;
  std::vector<double> values(f.formats.size());
  for_each_sampled(ncpus, slots, nslots, [&](const tstate& slot, int row) {
    for (size_t k = 0; k < values.size(); k++) values[k] = metrics.get(row, static_cast<int>(k));
    char prefix[32];
    snprintf(prefix, sizeof prefix, "%4d  ", slot.cpuid);
    print_row(f, prefix, values.data());
  });
}

void Cpu::print_memory_title() {
  if (memoryReport == MemoryReport::kNone) return;
  printf("%9s  %9s  %9s\n", "bw", "rd", "wr");
}

void Cpu::print_memory_metrics(int ncpus, aggregate_fn) {
  switch (memoryReport) {
    case MemoryReport::kControllers:
      // Bandwidths are totals over the machine, whatever the aggregator.
      printf("%9.2f  %9.2f  %9.2f\n", sum_metric(ncpus, 0), sum_metric(ncpus, 1),
             sum_metric(ncpus, 2));
      break;
    case MemoryReport::kUnmeasured:
      printf("%9.2f  %9.2f  %9.2f\n", -1.0, -1.0, -1.0);
      break;
    case MemoryReport::kNone:
      break;
  }
}

void Cpu::print_memory_percpu(int ncpus, const tstate* slots, int nslots) {
  if (memoryReport == MemoryReport::kNone) return;
  for_each_sampled(ncpus, slots, nslots, [](const tstate& slot, int row) {
    printf("%4d  %9.2f  %9.2f  %9.2f\n", slot.cpuid, metrics.get(row, 0), metrics.get(row, 1),
           metrics.get(row, 2));
  });
}

void Cpu::unmeasured(int index, int first, int last) {
  for (int k = first; k <= last; k++) metrics.set(index, k, -1.0);
}
