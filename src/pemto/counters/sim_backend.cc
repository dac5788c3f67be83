#include "pemto/counters/sim_backend.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "pemto/counters/platform.h"
#include "pemto/counters/processor.h"

namespace {

// Counters an event can be programmed on: bit i stands for counter i.
constexpr unsigned kPic0 = 0x1;
constexpr unsigned kPic1 = 0x2;
constexpr unsigned kAnyPic = ~0u;

struct EventSpec {
  const char* name;
  unsigned pics;
  double rate;  // counts per cycle in user and system mode together
};

struct AttrSpec {
  const char* name;
  uint64_t max;
};

struct ProcessorSpec {
  const char* name;
  const char* ref;
  unsigned npic;
  int clock;
  std::vector<AttrSpec> attrs;
  std::vector<const std::vector<EventSpec>*> events;
};

// Rates keep each hit count below its reference count and each miss count
// well below it, so the derived ratios look like a busy server's.
const std::vector<EventSpec> kUs2Events = {
    {"Cycle_cnt", kPic0 | kPic1, 1.0},
    {"Instr_cnt", kPic0 | kPic1, 0.55},
    {"Dispatch0_IC_miss", kPic0, 0.04},
    {"Dispatch0_storeBuf", kPic0, 0.02},
    {"IC_ref", kPic0, 0.22},
    {"DC_rd", kPic0, 0.16},
    {"DC_wr", kPic0, 0.08},
    {"Load_use", kPic0, 0.05},
    {"EC_ref", kPic0, 0.015},
    {"EC_write_hit_RDO", kPic0, 0.001},
    {"EC_snoop_inv", kPic0, 0.0005},
    {"EC_rd_hit", kPic0, 0.009},
    {"Dispatch0_mispred", kPic1, 0.02},
    {"Dispatch0_FP_use", kPic1, 0.01},
    {"IC_hit", kPic1, 0.205},
    {"DC_rd_hit", kPic1, 0.14},
    {"DC_wr_hit", kPic1, 0.07},
    {"Load_use_RAW", kPic1, 0.003},
    {"EC_hit", kPic1, 0.012},
    {"EC_wb", kPic1, 0.0008},
    {"EC_snoop_cb", kPic1, 0.0002},
    {"EC_ic_hit", kPic1, 0.004},
};

const std::vector<EventSpec> kUs3Events = {
    {"Cycle_cnt", kPic0 | kPic1, 1.0},
    {"Instr_cnt", kPic0 | kPic1, 0.5},
    {"DC_rd", kPic0, 0.17},
    {"DC_wr", kPic0, 0.08},
    {"EC_ref", kPic0, 0.014},
    {"IC_ref", kPic0, 0.2},
    {"Rstall_storeQ", kPic0, 0.01},
    {"Rstall_IU_use", kPic0, 0.06},
    {"Dispatch0_IC_miss", kPic0, 0.05},
    {"Dispatch0_br_target", kPic0, 0.01},
    {"Dispatch0_2nd_br", kPic0, 0.005},
    {"Dispatch_rs_mispred", kPic0, 0.003},
    {"IU_Stat_Br_count_taken", kPic0, 0.06},
    {"IU_Stat_Br_miss_taken", kPic0, 0.004},
    {"FA_pipe_completion", kPic0, 0.02},
    {"SW_count_0", kPic0, 0.0},
    {"DC_rd_miss", kPic1, 0.007},
    {"DC_wr_miss", kPic1, 0.003},
    {"EC_misses", kPic1, 0.0012},
    {"EC_wb", kPic1, 0.0005},
    {"IC_miss", kPic1, 0.004},
    {"IC_miss_cancelled", kPic1, 0.0004},
    {"Re_DC_miss", kPic1, 0.006},
    {"Re_RAW_miss", kPic1, 0.001},
    {"Re_PC_miss", kPic1, 0.0008},
    {"Re_FPU_bypass", kPic1, 0.0002},
    {"Rstall_FP_use", kPic1, 0.015},
    {"Dispatch0_mispred", kPic1, 0.012},
    {"ITLB_miss", kPic1, 0.0002},
    {"DTLB_miss", kPic1, 0.0006},
    {"IU_Stat_Br_count_untaken", kPic1, 0.04},
    {"IU_Stat_Br_miss_untaken", kPic1, 0.003},
    {"FM_pipe_completion", kPic1, 0.015},
    {"SW_count_1", kPic1, 0.0},
};

// Events the UltraSPARC III+ and later add for remote memory.
const std::vector<EventSpec> kUs3RemoteEvents = {
    {"EC_wb_remote", kPic0, 0.0001},
    {"EC_miss_local", kPic0, 0.0009},
    {"EC_miss_remote", kPic1, 0.0003},
};

// Memory controllers 0 to 3: reads on the first counter, writes on the second.
const std::vector<EventSpec> kMemoryControllerEvents = {
    {"MC_reads_0", kPic0, 0.0008},  {"MC_reads_1", kPic0, 0.0007},  {"MC_reads_2", kPic0, 0.0008},
    {"MC_reads_3", kPic0, 0.0006},  {"MC_writes_0", kPic1, 0.0004}, {"MC_writes_1", kPic1, 0.0003},
    {"MC_writes_2", kPic1, 0.0004}, {"MC_writes_3", kPic1, 0.0003},
};

const std::vector<EventSpec> kUst1Events = {
    {"FP_instr_cnt", kPic0, 0.01},  {"L2_imiss", kPic0, 0.0005}, {"L2_dmiss_ld", kPic0, 0.002},
    {"DC_miss", kPic0, 0.01},       {"IC_miss", kPic0, 0.005},   {"ITLB_miss", kPic0, 0.0002},
    {"DTLB_miss", kPic0, 0.0006},   {"Br_taken", kPic0, 0.05},   {"Br_completed", kPic0, 0.08},
    {"L2_imiss_ld", kPic0, 0.0007}, {"SB_full", kPic0, 0.02},    {"Instr_cnt", kPic1, 0.25},
};

const std::vector<EventSpec> kUst2Events = {
    {"Instr_cnt", kAnyPic, 0.3},      {"Instr_FGU_arithmetic", kAnyPic, 0.02},
    {"L2_imiss", kAnyPic, 0.0004},    {"L2_dmiss_ld", kAnyPic, 0.0015},
    {"DC_miss", kAnyPic, 0.008},      {"IC_miss", kAnyPic, 0.004},
    {"ITLB_miss", kAnyPic, 0.0002},   {"DTLB_miss", kAnyPic, 0.0005},
    {"Br_taken", kAnyPic, 0.05},      {"Br_completed", kAnyPic, 0.08},
    {"L2_imiss_ld", kAnyPic, 0.0006}, {"Instr_ld", kAnyPic, 0.08},
    {"Instr_st", kAnyPic, 0.04},      {"Idle_strands", kAnyPic, 0.1},
};

const std::vector<EventSpec> kSparc64Events = {
    {"instruction_counts", kAnyPic, 0.7},
    {"cycle_counts", kAnyPic, 1.0},
    {"floating_instructions", kAnyPic, 0.05},
    {"impdep2_instructions", kAnyPic, 0.01},
    {"sx_read_count_pf", kAnyPic, 0.002},
    {"sx_read_count_dm", kAnyPic, 0.01},
    {"sx_miss_count_pf", kAnyPic, 0.0004},
    {"sx_miss_count_dm", kAnyPic, 0.0012},
    {"op_r_iu_req_mi_go", kAnyPic, 0.006},
    {"if_r_iu_req_mi_go", kAnyPic, 0.002},
    {"trap_DMMU_miss", kAnyPic, 0.0003},
    {"trap_IMMU_miss", kAnyPic, 0.0001},
    {"flush_rs", kAnyPic, 0.004},
    {"branch_instructions", kAnyPic, 0.12},
    {"fl_comp_wait", kAnyPic, 0.08},
};

const std::vector<EventSpec> kP6Events = {
    {"inst_retired", kPic0 | kPic1, 0.6},     {"cpu_clk_unhalted", kPic0 | kPic1, 1.0},
    {"data_mem_refs", kPic0 | kPic1, 0.35},   {"dcu_lines_in", kPic0 | kPic1, 0.01},
    {"l2_ifetch", kPic0 | kPic1, 0.004},      {"ifu_ifetch", kPic0 | kPic1, 0.25},
    {"l2_lines_in", kPic0 | kPic1, 0.004},    {"l2_rqsts", kPic0 | kPic1, 0.02},
    {"br_inst_retired", kPic0 | kPic1, 0.12}, {"br_miss_pred_retired", kPic0 | kPic1, 0.008},
    {"itlb_miss", kPic0 | kPic1, 0.0003},     {"dcu_miss_outstanding", kPic0 | kPic1, 0.15},
    {"ifu_mem_stall", kPic0 | kPic1, 0.08},   {"flops", kPic0, 0.03},
    {"cycles_div_busy", kPic0, 0.01},
};

const std::vector<EventSpec> kOpteronEvents = {
    {"FR_retired_x86_instr_w_excp_intr", kAnyPic, 0.8},
    {"BU_cpu_clk_unhalted", kAnyPic, 1.0},
    {"DC_access", kAnyPic, 0.4},
    {"DC_refill_from_L2", kAnyPic, 0.01},
    {"DC_refill_from_system", kAnyPic, 0.003},
    {"IC_fetch", kAnyPic, 0.3},
    {"IC_refill_from_L2", kAnyPic, 0.004},
    {"IC_refill_from_system", kAnyPic, 0.001},
    {"BU_fill_req_missed_L2", kAnyPic, 0.002},
    {"BU_internal_L2_req", kAnyPic, 0.02},
    {"FR_retired_branches_w_excp_intr", kAnyPic, 0.15},
    {"FR_retired_branches_mispred", kAnyPic, 0.007},
    {"IC_itlb_L1_miss_L2_miss", kAnyPic, 0.0002},
    {"FR_dispatch_stall_segment_load", kAnyPic, 0.001},
    {"IC_instr_fetch_stall", kAnyPic, 0.1},
    {"FR_dispatch_stall_fpu_full", kAnyPic, 0.005},
    {"FP_dispatched_fpu_ops", kAnyPic, 0.05},
};

const std::vector<AttrSpec> kP6Attrs = {{"edge", 1}, {"pc", 1},       {"inv", 1},
                                        {"int", 1},  {"cmask", 0xff}, {"umask", 0xff}};
const std::vector<AttrSpec> kOpteronAttrs = {
    {"edge", 1}, {"pc", 1}, {"inv", 1}, {"cmask", 0xff}, {"umask", 0xff}};
const std::vector<AttrSpec> kPentium4Attrs = {
    {"active_thread", 3}, {"count_sibling_usr", 1}, {"count_sibling_sys", 1}, {"tag", 0xf},
    {"compare", 1},       {"complement", 1},        {"threshold", 0xf},       {"edge", 1}};
const std::vector<AttrSpec> kUst2Attrs = {{"hpriv", 1}, {"emask", 0xff}};

const std::vector<ProcessorSpec>& processors() {
  static const std::vector<ProcessorSpec> table = {
      {"UltraSPARC I&II",
       "Simulated counters; see the UltraSPARC I&II User's Manual",
       2,
       400,
       {},
       {&kUs2Events}},
      {"UltraSPARC III",
       "Simulated counters; see the UltraSPARC III Cu User's Manual",
       2,
       1050,
       {},
       {&kUs3Events, &kMemoryControllerEvents}},
      {"UltraSPARC IIIi & IIIi+",
       "Simulated counters; see the UltraSPARC IIIi Processor User's Manual",
       2,
       1593,
       {},
       {&kUs3Events, &kMemoryControllerEvents}},
      {"UltraSPARC III+",
       "Simulated counters; see the UltraSPARC III Cu User's Manual",
       2,
       1200,
       {},
       {&kUs3Events, &kUs3RemoteEvents, &kMemoryControllerEvents}},
      {"UltraSPARC III+ & IV",
       "Simulated counters; see the UltraSPARC IV Processor User's Manual Supplement",
       2,
       1350,
       {},
       {&kUs3Events, &kUs3RemoteEvents, &kMemoryControllerEvents}},
      {"UltraSPARC IV+",
       "Simulated counters; see the UltraSPARC IV+ Processor User's Manual Supplement",
       2,
       1800,
       {},
       {&kUs3Events, &kUs3RemoteEvents, &kMemoryControllerEvents}},
      {"UltraSPARC T1",
       "Simulated counters; see the UltraSPARC T1 Supplement to the UltraSPARC Architecture 2005",
       2,
       1200,
       {},
       {&kUst1Events}},
      {"UltraSPARC T2",
       "Simulated counters; see the UltraSPARC T2 Supplement to the UltraSPARC Architecture 2007",
       2,
       1400,
       kUst2Attrs,
       {&kUst2Events}},
      {"UltraSPARC T2+",
       "Simulated counters; see the UltraSPARC T2+ Supplement to the UltraSPARC Architecture 2007",
       2,
       1400,
       kUst2Attrs,
       {&kUst2Events}},
      {"Pentium Pro with MMX, Pentium II",
       "Simulated counters; see Appendix A of the Intel Architecture Software Developer's "
       "Manual, Volume 3",
       2,
       450,
       kP6Attrs,
       {&kP6Events}},
      {"AMD Opteron & Athlon64",
       "Simulated counters; see the BIOS and Kernel Developer's Guide for AMD Athlon 64 and "
       "AMD Opteron Processors",
       4,
       2600,
       kOpteronAttrs,
       {&kOpteronEvents}},
      {"SPARC64 VI & VII",
       "Simulated counters; see the SPARC64 VI Extensions",
       8,
       2520,
       {},
       {&kSparc64Events, &kMemoryControllerEvents}},
      {"Pentium 4 with HyperThreading",
       "Simulated counters; see Appendix A of the IA-32 Intel Architecture Software "
       "Developer's Manual, Volume 3",
       2,
       3000,
       kPentium4Attrs,
       {&kP6Events}},
  };
  return table;
}

const ProcessorSpec* find_processor(const std::string& name) {
  for (const ProcessorSpec& p : processors()) {
    if (name == p.name) return &p;
  }
  return nullptr;
}

// Deterministic nudge in [0.97, 1.0] so that events and CPUs differ a little.
double nudge(const std::string& event, int cpu) {
  uint32_t h = 2166136261u;
  for (unsigned char c : event) h = (h ^ c) * 16777619u;
  h = (h ^ static_cast<uint32_t>(cpu)) * 16777619u;
  return 0.97 + 0.03 * static_cast<double>(h % 1001) / 1000.0;
}

double mode_share(unsigned flags) {
  double share = 0.0;
  if (flags & CPC_COUNT_USER) share += SimBackend::kUserShare;
  if (flags & CPC_COUNT_SYSTEM) share += 1.0 - SimBackend::kUserShare;
  return share;
}

struct SimBinding : CpcBinding {
  int cpu = -1;
  uint64_t start_ns = 0;
  int clock = 0;
  std::vector<double> rates;  // per request, mode share included
};

}  // namespace

int sim_processor_clock(const std::string& name) {
  const ProcessorSpec* p = find_processor(name);
  return p ? p->clock : 0;
}

std::vector<std::string> sim_processor_names() {
  std::vector<std::string> names;
  for (const ProcessorSpec& p : processors()) names.push_back(p.name);
  return names;
}

SimBackend::SimBackend(const std::string& name, NowFn now, ClockFn clock)
    : name_(name), now_(std::move(now)), clock_(std::move(clock)) {
  const ProcessorSpec* p = find_processor(name);
  if (!p) {
    ref_ = "Simulated counters of an unknown processor";
    pic_events_.resize(npic_);
    return;
  }
  ref_ = p->ref;
  npic_ = p->npic;
  nominal_clock_ = p->clock;
  for (const AttrSpec& a : p->attrs) {
    attrs_.push_back(a.name);
    attr_max_.push_back(a.max);
  }
  pic_events_.resize(npic_);
  for (const std::vector<EventSpec>* list : p->events) {
    for (const EventSpec& e : *list) {
      for (unsigned pic = 0; pic < npic_; pic++) {
        if (e.pics & (1u << pic)) pic_events_[pic].push_back(e.name);
      }
      rates_.emplace_back(e.name, e.rate);
    }
  }
}

const std::vector<std::string>& SimBackend::events(unsigned pic) const {
  static const std::vector<std::string> none;
  return pic < pic_events_.size() ? pic_events_[pic] : none;
}

bool SimBackend::attribute_ok(const std::string& name, uint64_t value, std::string* why) const {
  for (size_t i = 0; i < attrs_.size(); i++) {
    if (attrs_[i] != name) continue;
    if (value <= attr_max_[i]) return true;
    *why = "value " + std::to_string(value) + " of attribute '" + name + "' exceeds " +
           std::to_string(attr_max_[i]);
    return false;
  }
  *why = "unknown attribute '" + name + "'";
  return false;
}

double SimBackend::rate(const std::string& event, int cpu) const {
  for (const auto& [name, rate] : rates_) {
    if (name == event) return rate * nudge(event, cpu);
  }
  return 0.0;
}

bool SimBackend::fails(const std::vector<int>& cpus, int cpu) {
  for (int c : cpus) {
    if (c == -1 || c == cpu) return true;
  }
  return false;
}

bool SimBackend::set_failures(const std::string& spec) {
  Failures parsed;
  size_t pos = 0;
  while (pos < spec.size()) {
    size_t comma = spec.find(',', pos);
    if (comma == std::string::npos) comma = spec.size();
    std::string item = spec.substr(pos, comma - pos);
    pos = comma + 1;
    size_t at = item.find('@');
    if (at == std::string::npos) return false;
    std::string op = item.substr(0, at), where = item.substr(at + 1);
    int cpu;
    if (where == "*") {
      cpu = -1;
    } else {
      char* end = nullptr;
      long v = strtol(where.c_str(), &end, 10);
      if (where.empty() || *end != '\0' || v < 0 || v > 1 << 20) return false;
      cpu = static_cast<int>(v);
    }
    if (op == "bind") {
      parsed.bind.push_back(cpu);
    } else if (op == "sample") {
      parsed.sample.push_back(cpu);
    } else if (op == "unbind") {
      parsed.unbind.push_back(cpu);
    } else {
      return false;
    }
  }
  failures_ = std::move(parsed);
  return true;
}

int SimBackend::bind_cpu(int cpuid, const std::vector<CpcRequest>& reqs,
                         std::unique_ptr<CpcBinding>* binding, std::string* why) {
  if (cpuid < 0) return EINVAL;
  if (fails(failures_.bind, cpuid)) {
    *why = "simulated failure to bind on cpu " + std::to_string(cpuid);
    return EAGAIN;
  }
  auto b = std::make_unique<SimBinding>();
  b->cpu = cpuid;
  int clock = clock_ ? clock_(cpuid) : 0;
  b->clock = clock > 0 ? clock : nominal_clock_ > 0 ? nominal_clock_ : 1000;
  for (const CpcRequest& r : reqs) b->rates.push_back(rate(r.event, cpuid) * mode_share(r.flags));
  b->start_ns = now_();
  *binding = std::move(b);
  return 0;
}

int SimBackend::sample(CpcBinding& binding, const std::vector<CpcRequest>& reqs, uint64_t* values,
                       uint64_t* tick) {
  SimBinding& b = static_cast<SimBinding&>(binding);
  if (fails(failures_.sample, b.cpu)) return EIO;
  uint64_t now = now_();
  uint64_t elapsed = now > b.start_ns ? now - b.start_ns : 0;
  uint64_t clock = static_cast<uint64_t>(b.clock);
  uint64_t ticks = elapsed / 1000 * clock + elapsed % 1000 * clock / 1000;
  for (size_t i = 0; i < reqs.size() && i < b.rates.size(); i++) {
    long double count = static_cast<long double>(ticks) * b.rates[i];
    values[i] = reqs[i].preset + static_cast<uint64_t>(count);
  }
  *tick = ticks;
  return 0;
}

int SimBackend::unbind(CpcBinding& binding) {
  SimBinding& b = static_cast<SimBinding&>(binding);
  return fails(failures_.unbind, b.cpu) ? EIO : 0;
}

std::unique_ptr<CpcBackend> make_sim_backend(const Platform& platform, int* err) {
  std::vector<int> clocks = processor_clock_table();
  auto backend = std::make_unique<SimBackend>(platform.simulate, platform.now, [clocks](int cpu) {
    return cpu >= 0 && static_cast<size_t>(cpu) < clocks.size() ? clocks[cpu] : 0;
  });
  if (!backend->set_failures(platform.simulate_failures)) {
    *err = EINVAL;
    return nullptr;
  }
  return backend;
}
