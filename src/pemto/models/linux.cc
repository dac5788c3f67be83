// Any processor the Linux perf_event backend counts on, through the kernel's
// generic events. Which of them a machine offers varies (virtual machines
// and some processors lack the cache, TLB or stall events), so the lists are
// planned at start-up from the offered events: every metric is computed
// within one set, a metric whose events are not all offered is dropped (its
// column prints -1.0), and so is a set that no metric needs.
#include "pemto/models/models.h"

namespace {

const ReportFormat& format() {
  static const ReportFormat f = {"mips\tcpi\tdcm\ticm\tecm\titlb\tdtlb\tbrr\tbmr\tdsr\tisr\n",
                                 {"%4.0f", "\t%5.3f", "\t%5.3f", "\t%5.3f", "\t%5.3f", "\t%5.3f",
                                  "\t%5.3f", "\t%5.3f", "\t%5.3f", "\t%5.3f", "\t%5.3f"},
                                 {0},
                                 false};
  return f;
}

constexpr int kColumns = 11;

using Metric = LinuxPerf::Metric;
using Sets = std::vector<std::vector<std::string>>;

const char kInstr[] = "instructions";
const char kCycles[] = "cpu-cycles";
const char kBranches[] = "branch-instructions";
const char kBranchMisses[] = "branch-misses";
const char kL1dLoads[] = "L1-dcache-loads";
const char kL1dMisses[] = "L1-dcache-load-misses";
const char kL1iLoads[] = "L1-icache-loads";
const char kL1iMisses[] = "L1-icache-load-misses";
const char kCacheRefs[] = "cache-references";  // the last-level cache, as a rule
const char kCacheMisses[] = "cache-misses";
const char kDtlbLoads[] = "dTLB-loads";
const char kDtlbMisses[] = "dTLB-load-misses";
const char kItlbLoads[] = "iTLB-loads";
const char kItlbMisses[] = "iTLB-load-misses";
const char kBackend[] = "stalled-cycles-backend";
const char kFrontend[] = "stalled-cycles-frontend";

// Column numbers.
enum { kMips, kCpi, kDcm, kIcm, kEcm, kItlb, kDtlb, kBrr, kBmr, kDsr, kIsr };

const Metric kMipsMetric = {kMips, {kInstr}, "", Metric::kClock};
const Metric kCpiMetric = {kCpi, {kCycles}, kInstr, Metric::kRatio};

const Sets& reference_sets() {
  static const Sets sets = {{kInstr, kCycles, kBranches, kBranchMisses},
                            {kL1dLoads, kL1dMisses, kL1iLoads, kL1iMisses},
                            {kCacheRefs, kCacheMisses, kDtlbLoads, kDtlbMisses},
                            {kItlbLoads, kItlbMisses},
                            {kCycles, kBackend, kFrontend}};
  return sets;
}

const std::vector<Metric>& reference_metrics() {
  static const std::vector<Metric> metrics = {kMipsMetric,
                                              kCpiMetric,
                                              {kDcm, {kL1dMisses}, kL1dLoads, Metric::kPercent},
                                              {kIcm, {kL1iMisses}, kL1iLoads, Metric::kPercent},
                                              {kEcm, {kCacheMisses}, kCacheRefs, Metric::kPercent},
                                              {kItlb, {kItlbMisses}, kItlbLoads, Metric::kPercent},
                                              {kDtlb, {kDtlbMisses}, kDtlbLoads, Metric::kPercent},
                                              {kBrr, {kBranches}, kInstr, Metric::kPercent},
                                              {kBmr, {kBranchMisses}, kBranches, Metric::kPercent},
                                              {kDsr, {kBackend}, kCycles, Metric::kPercent},
                                              {kIsr, {kFrontend}, kCycles, Metric::kPercent}};
  return metrics;
}

const Sets& instruction_sets() {
  static const Sets sets = {{kInstr, kCycles, kBranches, kBranchMisses},
                            {kInstr, kL1dMisses, kL1iMisses, kCacheMisses},
                            {kInstr, kDtlbMisses, kItlbMisses},
                            {kInstr, kBackend, kFrontend}};
  return sets;
}

const std::vector<Metric>& instruction_metrics() {
  static const std::vector<Metric> metrics = {kMipsMetric,
                                              kCpiMetric,
                                              {kDcm, {kL1dMisses}, kInstr, Metric::kRatio},
                                              {kIcm, {kL1iMisses}, kInstr, Metric::kRatio},
                                              {kEcm, {kCacheMisses}, kInstr, Metric::kRatio},
                                              {kItlb, {kItlbMisses}, kInstr, Metric::kRatio},
                                              {kDtlb, {kDtlbMisses}, kInstr, Metric::kRatio},
                                              {kBrr, {kBranches}, kInstr, Metric::kRatio},
                                              {kBmr, {kBranchMisses}, kInstr, Metric::kRatio},
                                              {kDsr, {kBackend}, kInstr, Metric::kRatio},
                                              {kIsr, {kFrontend}, kInstr, Metric::kRatio}};
  return metrics;
}

const Sets& second_sets() {
  static const Sets sets = {{kInstr, kCycles, kBranches, kBranchMisses},
                            {kL1dMisses, kL1iMisses, kCacheMisses, kDtlbMisses},
                            {kItlbMisses, kBackend, kFrontend}};
  return sets;
}

const std::vector<Metric>& second_metrics() {
  static const std::vector<Metric> metrics = {kMipsMetric,
                                              kCpiMetric,
                                              {kDcm, {kL1dMisses}, "", Metric::kClock},
                                              {kIcm, {kL1iMisses}, "", Metric::kClock},
                                              {kEcm, {kCacheMisses}, "", Metric::kClock},
                                              {kItlb, {kItlbMisses}, "", Metric::kClock},
                                              {kDtlb, {kDtlbMisses}, "", Metric::kClock},
                                              {kBrr, {kBranches}, "", Metric::kClock},
                                              {kBmr, {kBranchMisses}, "", Metric::kClock},
                                              {kDsr, {kBackend}, "", Metric::kClock},
                                              {kIsr, {kFrontend}, "", Metric::kClock}};
  return metrics;
}

int position(const std::vector<std::string>& set, const std::string& event) {
  for (size_t i = 0; i < set.size(); i++) {
    if (set[i] == event) return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::string> events_of(const Metric& m) {
  std::vector<std::string> events = m.numerator;
  if (!m.denominator.empty()) events.push_back(m.denominator);
  return events;
}

std::string joined(const std::vector<std::string>& events) {
  std::string spec;
  for (const std::string& e : events) spec += (spec.empty() ? "" : ",") + e;
  return spec;
}

std::vector<std::string> specs(const LinuxPerf::Plan& plan) {
  std::vector<std::string> out;
  for (const auto& set : plan.sets) out.push_back(joined(set));
  return out;
}

}  // namespace

LinuxPerf::Plan LinuxPerf::plan(const Sets& sets, const std::vector<Metric>& metrics,
                                const std::set<std::string>& offered) {
  // Each metric goes to the first set that holds all its events.
  std::vector<std::set<std::string>> needed(sets.size());
  std::vector<int> home(metrics.size(), -1);
  for (size_t m = 0; m < metrics.size(); m++) {
    std::vector<std::string> events = events_of(metrics[m]);
    for (size_t s = 0; s < sets.size() && home[m] < 0; s++) {
      bool all = true;
      for (const std::string& e : events) {
        if (!offered.count(e) || position(sets[s], e) < 0) all = false;
      }
      if (!all) continue;
      home[m] = static_cast<int>(s);
      needed[s].insert(events.begin(), events.end());
    }
  }
  // Keep what the metrics need, in the set's order; renumber the sets kept.
  Plan plan;
  std::vector<int> kept(sets.size(), -1);
  for (size_t s = 0; s < sets.size(); s++) {
    std::vector<std::string> events;
    for (const std::string& e : sets[s]) {
      if (needed[s].count(e)) events.push_back(e);
    }
    if (events.empty()) continue;
    kept[s] = static_cast<int>(plan.sets.size());
    plan.sets.push_back(events);
  }
  for (size_t m = 0; m < metrics.size(); m++) {
    if (home[m] < 0) continue;
    Placed placed = {metrics[m], kept[home[m]], {}, -1};
    const std::vector<std::string>& set = plan.sets[placed.set];
    for (const std::string& e : metrics[m].numerator)
      placed.numerator_at.push_back(position(set, e));
    if (!metrics[m].denominator.empty()) {
      placed.denominator_at = position(set, metrics[m].denominator);
    }
    plan.metrics.push_back(placed);
  }
  return plan;
}

LinuxPerf::LinuxPerf(int nbCounters, const std::set<std::string>& offered) : Cpu(nbCounters) {
  reference_ = plan(reference_sets(), reference_metrics(), offered);
  instruction_ = plan(instruction_sets(), instruction_metrics(), offered);
  second_ = plan(second_sets(), second_metrics(), offered);
  prEvents = specs(reference_);
  piEvents = specs(instruction_);
  psEvents = specs(second_);
  reportFormat = &format();
}

void LinuxPerf::apply(const Plan& plan, int index, const SampleMatrix& d, double clk) {
  unmeasured(index, 0, kColumns - 1);
  for (const Placed& p : plan.metrics) {
    uint64_t numerator = 0;
    for (int j : p.numerator_at) numerator += d.count(p.set, j);
    double den =
        p.denominator_at < 0 ? d.t(p.set) : static_cast<double>(d.count(p.set, p.denominator_at));
    Metric::Scale scale = p.metric.scale;
    double factor = scale == Metric::kPercent ? 100.0 : scale == Metric::kClock ? clk : 1.0;
    metrics.set(index, p.metric.column, factor * static_cast<double>(numerator) / den);
  }
}

void LinuxPerf::per_reference(int index, const SampleMatrix& d, double clk, double) {
  apply(reference_, index, d, clk);
}

void LinuxPerf::per_instruction(int index, const SampleMatrix& d, double clk, double) {
  apply(instruction_, index, d, clk);
}

void LinuxPerf::per_second(int index, const SampleMatrix& d, double clk, double) {
  apply(second_, index, d, clk);
}
