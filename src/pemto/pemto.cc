#include "pemto/pemto.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ticker.h"
#include "pemto/bus.h"
#include "pemto/counters/platform.h"
#include "pemto/counters/processor.h"
#include "pemto/models/models.h"
#include "pemto/strtoset.h"

Options* opts = nullptr;
cpc_t* cpc = nullptr;

const char* const konly_string = ",sys,nouser";
const char* const uk_string = ",sys";

namespace {

const char kUsage[] =
    "Usage:\t%s [-{i|s|r|M}] [-{u|a|k}] [-DnmRh] [interval [count]]\n\n"
    "\t-i\t  outputs per-instruction stats (default)\n"
    "\t-s\t  outputs per-second stats\n"
    "\t-r\t  outputs per-reference stats\n"
    "\t-M\t  switches to memory bandwidth stats\n"
    "\t-u\t  tracks user mode (default)\n"
    "\t-k\t  tracks kernel mode\n"
    "\t-a\t  tracks both kernel and user modes\n"
    "\t-n\t  suppress titles\n"
    "\t-p\t  includes per-cpu output\n"
    "\t-D\t  enable debug mode\n"
    "\t-m\t  outputs MAX cpu stats (instead of AVG)\n"
    "\t-R\t  runs Pemto in the RT scheduling class\n"
    "\t-h\t  print extended usage information\n\n";

const char kStatistics[] =
    "\nStatistics:\n"
    "\tmips:   million instructions per second\n"
    "\tbus:    percentage utilization of address bus from CPUs\n"
    "\tflops:  million floating-point instructions per second\n"
    "\tcpi:    cycles per instruction\n"
    "\tdcm:    data-cache misses\n"
    "\ticm:    instruction-cache miss\n"
    "\tecm:    external-cache misses\n"
    "\titlb:   instruction TLB misses\n"
    "\tdtlb:   data TLB misses\n"
    "\tbrr:    branch rate\n"
    "\tbmr:    branch misses\n"
    "\tdsr:    data stall rate\n"
    "\tisr:    instruction stall rate\n"
    "\tfsr:    FP-unit stall rate\n"
    "\tbsr:    branch-misprediction stall rate\n"
    "\trwb:    remote writebacks\n"
    "\trecm:   external-cache misses referencing remote memory\n";

const char kMemoryGlossary[] =
    "\nUS-III Memory Controller Statistics:\n"
    "\tbw:   total bandwidth in MB/s\n"
    "\trd:   total read bandwidth in MB/s\n"
    "\twr:   total write bandwidth in MB/s\n";

const char kGettingStarted[] =
    "\nGetting started:\n"
    "\to per-instruction and per-second stats are ratios\n"
    "\to per-reference stats are percentages\n"
    "\to works with Solaris 10 and up\n"
    "\to needs to be run as root\n"
    "\to be careful with interpreting data on idle systems\n"
    "\to some counters may not be working properly\n";

const char* prog() {
  return opts ? opts->progname.c_str() : "Pemto";
}

// -R: the real-time class at its default quantum. Failures only warn.
void enter_realtime_class() {
  pcinfo_t info;
  memset(&info, 0, sizeof info);
  snprintf(info.pc_clname, sizeof info.pc_clname, "%s", "RT");
  if (priocntl(P_PID, 0, PC_GETCID, &info) == -1) {
    perror("Warning: RT scheduling class does not exist");
    return;  // without the class id there is nothing to ask for
  }
  pcparms_t params;
  memset(&params, 0, sizeof params);
  params.pc_cid = info.pc_cid;
  params.pc_rtparms.rt_pri = RT_NOCHANGE;
  params.pc_rtparms.rt_tqsecs = 0;
  params.pc_rtparms.rt_tqnsecs = RT_TQDEF;
  if (priocntl(P_PID, P_MYID, PC_SETPARMS, &params) == -1) {
    perror("Warning: unable to put Pemto into the RT scheduling class");
  }
}

struct CommandLine {
  int errors = 0;
  bool help = false;
  const char* suffix = "";
};

// Options in the order given; the last of repeated or conflicting ones wins.
// Stops at the first bad option. Returns the index of the first operand.
int parse_options(int argc, char** argv, Cpu* cpu, Options* o, CommandLine* cl) {
  optind = 0;  // a fresh scan, also when called more than once
  int c;
  // "+": options end at the first operand, as on Solaris.
  while ((c = getopt(argc, argv, "+DisrnphuakmMR")) != -1) {
    switch (c) {
      case 'D':
        o->debug++;
        break;
      case 'i':
        cpu->setMetricsType(kPerInstruction);
        break;
      case 's':
        cpu->setMetricsType(kPerSecond);
        break;
      case 'r':
        cpu->setMetricsType(kPerReference);
        break;
      case 'M':
        cpu->setMetricsType(kMemory);
        break;
      case 'u':
        cl->suffix = "";
        break;
      case 'k':
        cl->suffix = konly_string;
        break;
      case 'a':
        cl->suffix = uk_string;
        break;
      case 'n':
        o->titles = 0;
        break;
      case 'p':
        o->percpu = 1;
        break;
      case 'm':
        o->aggregator = max_metric;
        break;
      case 'R':
        enter_realtime_class();
        break;
      case 'h':
        cl->help = true;
        break;
      default:
        cl->errors++;
        return optind;
    }
  }
  return optind;
}

}  // namespace

std::string progname_of(const char* argv0) {
  if (!argv0 || !*argv0) return "Pemto";
  const char* slash = strrchr(argv0, '/');
  return slash ? slash + 1 : argv0;
}

void cpustat_errfn(const char* fn, int, const char* fmt, va_list ap) {
  // One write per message, so that messages of several threads do not mix.
  char line[1024];
  size_t used = 0;
  int n = snprintf(line, sizeof line, "%s: ", prog());
  if (n > 0) used = static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1;
  if (opts && opts->debug) {
    n = snprintf(line + used, sizeof line - used, "%s: ", fn ? fn : "");
    if (n > 0) used += static_cast<size_t>(n) < sizeof line - used ? n : sizeof line - used - 1;
  }
  vsnprintf(line + used, sizeof line - used, fmt, ap);
  fputs(line, stderr);
}

std::string with_suffix(const std::string& spec, const char* suffix) {
  if (!suffix || !*suffix) return spec;
  // The suffix starts with its own comma; an empty piece would be a bad token.
  if (spec.empty() || spec.back() == ',') return spec + (suffix + 1);
  return spec + suffix;
}

int parse_operands(int argc, char* const* argv, int nlist, Options* o) {
  if (argc > 2) return 1;
  if (argc >= 1) {
    double period = atof(argv[0]);
    double interval = nlist > 0 ? period * 1000.0 / nlist : 0.0;
    // Truncated; a negative, huge or not-a-number period is no interval.
    if (std::isnan(interval) || interval < 0.0 || interval >= static_cast<double>(UINT_MAX)) {
      interval = 0.0;
    }
    o->interval = static_cast<unsigned>(interval);
  }
  if (argc == 2) o->count = atoi(argv[1]);
  return o->count == 0 || o->interval == 0 ? 1 : 0;
}

int discover_cpus(tstate* slots, int nslots) {
  // Ids above the largest the system has cannot fill a slot.
  processorid_t max = processor_max_id();
  int filled = 0;
  for (processorid_t id = 0; filled < nslots && id <= max; id++) {
    int state = p_online(id, P_STATUS);
    if (state == P_ONLINE || state == P_NOINTR) {
      processor_info_t info;
      slots[filled].cpuid = id;
      slots[filled].clock = processor_info(id, &info) == 0 ? info.pi_clock : 0.0;
      filled++;
    } else if (state == P_OFFLINE || state == P_POWEROFF) {
      slots[filled].cpuid = -1;
      filled++;
    }
  }
  return filled;
}

void filter_processor_set(tstate* slots, int nslots, const char* progname) {
  char buf[128];
  psetid_t mine;
  if (pset_bind(PS_QUERY, P_PID, P_MYID, &mine) != 0) {
    fprintf(stderr, "%s: pset_bind - %s\n", progname, strerror_r(errno, buf, sizeof buf));
    return;
  }
  for (int i = 0; i < nslots; i++) {
    if (slots[i].cpuid == -1) continue;
    psetid_t theirs;
    if (pset_assign(PS_QUERY, slots[i].cpuid, &theirs) != 0) {
      fprintf(stderr, "%s: pset_assign - %s\n", progname, strerror_r(errno, buf, sizeof buf));
      continue;
    }
    if (theirs != mine) slots[i].cpuid = -1;
  }
}

int number_cpus(tstate* slots, int nslots) {
  int n = 0;
  for (int i = 0; i < nslots; i++) {
    if (slots[i].cpuid != -1) slots[i].index = n++;
  }
  return n;
}

int Pemto() {
  Options& o = *opts;
  int ncpu = processor_count();
  if (ncpu <= 0) ncpu = static_cast<int>(sysconf(_SC_NPROCESSORS_CONF));
  if (ncpu <= 0) ncpu = 1;
  tstate* slots = static_cast<tstate*>(calloc(ncpu, sizeof(tstate)));
  if (!slots) {
    fprintf(stderr, "%s: out of heap\n", prog());
    return 1;
  }
  // Only the slots the walk filled take part; the others are not processors.
  int nslots = discover_cpus(slots, ncpu);

  o.busclock = get_bus_clock();
  if (o.busclock < 0.0) {
    free(slots);
    return 1;
  }
  if (targetCpu->getFixedBusClock() > 0.0) o.busclock = targetCpu->getFixedBusClock();

  filter_processor_set(slots, nslots, prog());
  o.ncpus = number_cpus(slots, nslots);
  if (o.ncpus == 0) {
    fprintf(stderr, "%s: no cpu to sample\n", prog());
    free(slots);
    return 1;
  }
  if (!metrics.create(o.ncpus)) {
    fprintf(stderr, "%s: out of heap\n", prog());
    free(slots);
    return 1;
  }

  int started = 0;
  gtick_stopped = 0;
  for (int i = 0; i < nslots; i++) {
    tstate& s = slots[i];
    if (s.cpuid == -1) continue;
    s.sgrp = cpc_setgrp_clone(o.sgrp);
    if (!s.sgrp) {
      s.cpuid = -1;
      continue;
    }
    if (thr_create(nullptr, 0, gtick, &s, THR_BOUND | THR_NEW_LWP, &s.tid) != 0) {
      fprintf(stderr, "%s: cannot create thread for cpu%d\n", prog(), s.cpuid);
      s.status = kThreadNotCreated;
      continue;
    }
    s.started = 1;
    started++;
  }

  if (started > 0) {
    bool memory = targetCpu->getMetricsType() == kMemory;
    // A line per pass over every set, at start + k passes, so that lines do
    // not drift.
    Ticker ticker(static_cast<int64_t>(o.nsets) * 1000000 * o.interval);
    ticker.wait();
    // When every thread has stopped on an error nothing is measured any
    // more: the run ends rather than print rows that no pass fills.
    bool sampling = gtick_stopped < started;
    if (o.titles && sampling) {
      if (o.percpu) printf("%4s  ", "cpu");
      if (memory) {
        targetCpu->print_memory_title();
      } else {
        targetCpu->print_title();
      }
    }
    unsigned left = static_cast<unsigned>(o.count);
    for (; sampling && (o.count == -1 || left > 0); left--) {
      ticker.wait();
      if (gtick_stopped >= started) break;
      if (o.percpu) printf("%4s  ", "all");
      if (memory) {
        targetCpu->print_memory_metrics(o.ncpus, o.aggregator);
        if (o.percpu) targetCpu->print_memory_percpu(o.ncpus, slots, nslots);
      } else {
        targetCpu->print_metrics(o.ncpus, o.aggregator);
        if (o.percpu) targetCpu->print_percpu(o.ncpus, slots, nslots);
      }
    }
  }

  // The threads go before their groups do.
  for (int i = 0; i < nslots; i++) {
    if (slots[i].started) thr_join(slots[i].tid, nullptr, nullptr);
  }
  int result = 0;
  for (int i = 0; i < nslots; i++) {
    if (slots[i].cpuid == -1) continue;
    cpc_setgrp_free(slots[i].sgrp);
    slots[i].sgrp = nullptr;
    if (slots[i].status != kThreadFine) result = 1;
  }
  free(slots);
  metrics.destroy();
  return result;
}

int pemto_main(int argc, char** argv, const Platform& platform) {
  static Options options;
  options = Options();
  opts = &options;
  opts->progname = progname_of(argc > 0 ? argv[0] : nullptr);
  const char* progname = opts->progname.c_str();
  // Before the first output: lines reach a pipe as they are printed.
  setvbuf(stdout, nullptr, _IOLBF, 0);

  if (cpc_version(CPC_VER_CURRENT) != static_cast<int>(CPC_VER_CURRENT)) {
    fprintf(stderr, "%s: library version m  ismatch: needed %d found %d\n", progname,
            static_cast<int>(CPC_VER_CURRENT), cpc_version(CPC_VER_NONE));
    return 1;
  }
  processor_services_configure(platform.processors);
  cpc = cpc_open(CPC_VER_CURRENT, platform);
  if (!cpc) {
    fprintf(stderr, "%s: cannot access performance counters - %s\n", progname, strerror(errno));
    return 1;
  }
  cpc_seterrhndlr(cpc, cpustat_errfn);
  strtoset_errfn = cpustat_errfn;

  if (!select_cpu_model(cpc, progname)) return 1;
  targetCpu->setMetricsType(kPerInstruction);

  opts->sgrp = cpc_setgrp_new(cpc, 0);
  if (!opts->sgrp) {
    fprintf(stderr, "%s: out of heap\n", progname);
    return 1;
  }

  CommandLine cl;
  int first_operand = parse_options(argc, argv, targetCpu, opts, &cl);
  std::vector<std::string> list = targetCpu->getEvents();
  for (const std::string& spec : list) {
    cpc_setgrp_newset(opts->sgrp, with_suffix(spec, cl.suffix).c_str(), &cl.errors);
  }
  if (cl.errors == 0) {
    cl.errors += parse_operands(argc - first_operand, argv + first_operand,
                                static_cast<int>(list.size()), opts);
  }
  opts->nsets = cpc_setgrp_numsets(opts->sgrp);
  if (opts->nsets == 0 && !cl.help) {
    if (targetCpu->getMetricsType() == kMemory && !targetCpu->isMemoryMetricsCapable()) {
      fprintf(stderr, "%s: no memory bandwidth statistics for %s\n", progname, cpc_cciname(cpc));
    }
    cl.errors++;
  }

  if (cl.errors != 0 || cl.help) {
    fprintf(cl.help ? stdout : stderr, kUsage, progname);
    if (!cl.help) return 2;
    printf("\nVersion 2.0 2008/11\n");
    fputs(kStatistics, stdout);
    fputs(kMemoryGlossary, stdout);
    fputs(kGettingStarted, stdout);
    printf("\nCPU info2: %s\n", cpc_cciname(cpc));
    return 0;
  }

  cpc_setgrp_reset(opts->sgrp);
  int status = Pemto();
  cpc_setgrp_free(opts->sgrp);
  opts->sgrp = nullptr;
  return status;
}
