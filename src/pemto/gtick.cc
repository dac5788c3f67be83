#include "pemto/gtick.h"

#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "pemto/cpu.h"
#include "pemto/pemto.h"

std::atomic<int> gtick_stopped{0};

namespace {

void sleep_for(const struct timespec& period) {
  struct timespec left = period;
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}

// strerror is not safe while other threads report too.
const char* errtext(int err, char* buf, size_t size) {
  return strerror_r(err, buf, size);
}

// A bind or a sample failed: the thread stops and the run will end with 1.
void* stop_on_counter_error(tstate* slot, cpc_set_t* set, int err) {
  char buf[128];
  slot->status = kThreadCounterError;
  fprintf(stderr, "%s: cpu%d - %s\n", opts->progname.c_str(), slot->cpuid,
          errtext(err, buf, sizeof buf));
  cpc_unbind(cpc, set);
  gtick_stopped++;
  return nullptr;
}

// A count could not be read. The set is released and the thread's status
// marks the stop, so that the run does not end as a success.
void* stop_on_read_error(tstate* slot, cpc_set_t* set, int err) {
  char buf[128];
  fprintf(stderr, "%s: cannot read buffer - %s\n", opts->progname.c_str(),
          errtext(err, buf, sizeof buf));
  cpc_unbind(cpc, set);
  slot->status = kThreadCounterError;
  gtick_stopped++;
  return nullptr;
}

}  // namespace

void* gtick(void* arg) {
  tstate* slot = static_cast<tstate*>(arg);
  const Options& o = *opts;
  cpc_setgrp_t* sgrp = slot->sgrp;
  cpc_set_t* set = cpc_setgrp_getset(sgrp);

  uint64_t ns = static_cast<uint64_t>(o.interval) * 1000000u;
  struct timespec period;
  period.tv_sec = static_cast<time_t>(ns / 1000000000u);
  period.tv_nsec = static_cast<long>(ns % 1000000000u);

  SampleMatrix data(o.nsets, nb_counters);
  if (!data.ok()) {
    fprintf(stderr, "%s: out of heap\n", o.progname.c_str());
    slot->status = kThreadCounterError;
    gtick_stopped++;
    return nullptr;
  }
  char buf[128];
  // A count of -1 never ends; any other negative count counts down from a
  // very large unsigned number.
  unsigned left = static_cast<unsigned>(o.count);
  for (; o.count == -1 || left > 0; left--) {
    for (int i = 0; i < o.nsets; i++) {
      if (cpc_bind_cpu(cpc, slot->cpuid, set, 0) == -1) {
        return stop_on_counter_error(slot, set, errno);
      }
      cpc_buf_t **data1, **data2, **scratch;
      int n = cpc_setgrp_getbufs(sgrp, &data1, &data2, &scratch);
      sleep_for(period);
      if (n < 0 || cpc_set_sample(cpc, set, *scratch) != 0) {
        return stop_on_counter_error(slot, set, n < 0 ? EINVAL : errno);
      }
      uint64_t tick = cpc_buf_tick(cpc, *scratch);
      cpc_buf_add(cpc, *data1, *data1, *scratch);
      uint64_t* row = data.row(i);
      // A set may program fewer events than the processor has counters.
      for (int k = 0; row && k < nb_counters; k++) row[k] = 0;
      for (int k = 0; k < n && k < nb_counters; k++) {
        uint64_t value;
        if (cpc_buf_get(cpc, *scratch, k, &value) != 0) {
          return stop_on_read_error(slot, set, errno);
        }
        if (row) row[k] = value;
      }
      if (row) row[nb_counters] = tick;
      if (cpc_unbind(cpc, set) != 0) {
        fprintf(stderr, "%s: error unbinding on cpu %d - %s\n", o.progname.c_str(), slot->cpuid,
                errtext(errno, buf, sizeof buf));
      }
      set = cpc_setgrp_nextset(sgrp);
    }
    targetCpu->calc_metrics(slot->index, data, slot->clock, o.busclock);
  }
  return nullptr;
}
