// The catalogue's entry: the model for the processor the counter library
// reports, and the banner of the run.
#include <cstdio>
#include <cstring>
#include <new>
#include <set>

#include "pemto/models/models.h"

namespace {

// The model for a processor name; *known tells a name the table lacks from
// an allocation that failed.
Cpu* new_model(const char* name, int n, bool* known) {
  struct Entry {
    const char* name;
    Cpu* (*create)(int n);
  };
  static const Entry kModels[] = {
      {"UltraSPARC I&II", [](int n) -> Cpu* { return new (std::nothrow) US2(n); }},
      {"UltraSPARC III", [](int n) -> Cpu* { return new (std::nothrow) US3(n); }},
      {"UltraSPARC IIIi & IIIi+", [](int n) -> Cpu* { return new (std::nothrow) US3i(n); }},
      {"UltraSPARC III+", [](int n) -> Cpu* { return new (std::nothrow) US3p(n); }},
      {"UltraSPARC III+ & IV", [](int n) -> Cpu* { return new (std::nothrow) US3p(n); }},
      {"UltraSPARC IV+", [](int n) -> Cpu* { return new (std::nothrow) US4p(n); }},
      {"UltraSPARC T1", [](int n) -> Cpu* { return new (std::nothrow) UST1(n); }},
      {"UltraSPARC T2", [](int n) -> Cpu* { return new (std::nothrow) UST2(n); }},
      {"UltraSPARC T2+", [](int n) -> Cpu* { return new (std::nothrow) UST2(n); }},
      {"Pentium Pro with MMX, Pentium II", [](int n) -> Cpu* { return new (std::nothrow) P6(n); }},
      {"AMD Opteron & Athlon64", [](int n) -> Cpu* { return new (std::nothrow) Opteron(n); }},
      {"SPARC64 VI & VII", [](int n) -> Cpu* { return new (std::nothrow) Sparc64(n); }},
      {"Pentium 4 with HyperThreading", [](int n) -> Cpu* { return new (std::nothrow) Xeon(n); }},
  };
  for (const Entry& e : kModels) {
    if (strcmp(name, e.name) == 0) {
      *known = true;
      return e.create(n);
    }
  }
  *known = false;
  return nullptr;
}

void collect_event(void* arg, unsigned, const char* event) {
  static_cast<std::set<std::string>*>(arg)->insert(event);
}

}  // namespace

Cpu* create_cpu_model(cpc_t* cpc, bool* out_of_memory) {
  int n = static_cast<int>(cpc_npic(cpc));
  bool known = false;
  Cpu* cpu = new_model(cpc_cciname(cpc), n, &known);
  *out_of_memory = known && !cpu;
  if (known) return cpu;
  if (strcmp(cpc_backend_name(cpc), "perf_event") != 0) return nullptr;
  std::set<std::string> offered;
  for (int pic = 0; pic < n; pic++) cpc_walk_events_pic(cpc, pic, &offered, collect_event);
  cpu = new (std::nothrow) LinuxPerf(n, offered);
  *out_of_memory = !cpu;
  return cpu;
}

bool select_cpu_model(cpc_t* cpc, const char* progname) {
  bool out_of_memory = false;
  Cpu* cpu = create_cpu_model(cpc, &out_of_memory);
  if (out_of_memory) {
    fprintf(stderr, "%s: out of heap\n", progname);
    return false;
  }
  if (!cpu) {
    fprintf(stderr, "%s: %s is not a recognized cpu type.\n", progname, cpc_cciname(cpc));
    return false;
  }
  targetCpu = cpu;
  nb_counters = targetCpu->getNbCounters();
  printf("\n\tCPU Type: %s with %d counters\n\tReference: %s\n\n", cpc_cciname(cpc), nb_counters,
         cpc_cpuref(cpc));
  return true;
}
