// Pemto, the CPU hardware-counter reporter: the command line, CPU discovery,
// the sampling threads' start and the report loop.
#pragma once

#include <cstdarg>
#include <string>

#include "pemto/counters/cpc.h"
#include "pemto/counters/platform.h"
#include "pemto/cpu.h"
#include "pemto/gtick.h"
#include "pemto/setgrp.h"

// The run's options, shared by the main thread and the sampling threads;
// written only before the threads start.
struct Options {
  int debug = 0;
  int titles = 1;
  int percpu = 0;
  std::string progname;
  unsigned interval = 5000;  // milliseconds each event set stays programmed
  int count = -1;            // report lines; -1: without end
  int nsets = 0;
  cpc_setgrp_t* sgrp = nullptr;
  aggregate_fn aggregator = avg_metric;
  double busclock = 0.0;  // MHz
  int ncpus = 0;
};

extern Options* opts;
extern cpc_t* cpc;

// Counting-mode suffixes of -k and -a.
extern const char* const konly_string;
extern const char* const uk_string;

// The last path component of an invocation name.
std::string progname_of(const char* argv0);

// Error callback of the counter library and the event parser.
void cpustat_errfn(const char* fn, int subcode, const char* fmt, va_list ap);

// spec with a counting-mode suffix (",sys" and the like) appended, so that it
// stays one valid specification when spec is empty or ends in a comma.
std::string with_suffix(const std::string& spec, const char* suffix);

// Reads the operands after the options: [period-in-seconds [count]]. nlist is
// the number of sets in the model's list. Returns the number of errors.
int parse_operands(int argc, char* const* argv, int nlist, Options* o);

// Fills slots with the processor ids to sample, walking ids upwards from 0
// while fewer than nslots are filled and ids remain: an online or
// no-interrupt processor gets its id and clock, an offline or powered-off
// one takes a slot with cpuid -1, others are skipped. Returns slots filled.
int discover_cpus(tstate* slots, int nslots);
// Unsamples the CPUs outside the process's processor set.
void filter_processor_set(tstate* slots, int nslots, const char* progname);
// Numbers the sampled slots densely; returns their number.
int number_cpus(tstate* slots, int nslots);

// The run routine: threads, report loop, teardown. Returns the exit status.
int Pemto();

// The program on the given platform: returns its exit status.
int pemto_main(int argc, char** argv, const Platform& platform);
