// The per-CPU sampling thread: it programs the event sets of the run one after
// the other on its CPU, each for one interval, and after every pass over all
// sets hands the counts to the model, which rewrites the CPU's row of metrics.
#pragma once

#include <atomic>

#include "pemto/counters/processor.h"
#include "pemto/setgrp.h"

// Thread status codes.
constexpr int kThreadFine = 0;
constexpr int kThreadCounterError = 3;
constexpr int kThreadNotCreated = 4;

// One possible CPU of the run, zero-filled at first.
struct tstate {
  int cpuid;           // processor to sample; -1: the slot is not sampled
  cpc_setgrp_t* sgrp;  // the thread's own clone of the master group
  int status;          // kThreadFine, kThreadCounterError, kThreadNotCreated
  double clock;        // MHz
  int index;           // the row of metrics this CPU writes
  thread_t tid;        // valid when started is set
  int started;
};

// Number of sampling threads that stopped on an error; the run resets it
// before it starts them.
extern std::atomic<int> gtick_stopped;

// Thread body; arg is the slot. Reads opts, cpc, nb_counters and targetCpu,
// which do not change while threads run. Returns null.
void* gtick(void* arg);
