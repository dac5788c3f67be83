// Counters of the running Linux kernel through perf_event_open: its generic
// hardware and cache events ("instructions", "L1-dcache-load-misses", ...),
// each countable on any of the four counters a set may use (the kernel
// multiplexes when the processor has fewer, and counts are scaled by the time
// an event actually counted). A set is bound to a CPU as per-CPU events, the
// request flags choose user and system mode, and ticks are the elapsed time in
// cycles of the processor's nominal clock.
#pragma once

#include <linux/perf_event.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pemto/counters/cpc_backend.h"

struct Platform;

// The kernel calls the backend makes, replaceable in tests.
struct PerfSyscalls {
  // perf_event_open: a descriptor, or -1 with errno.
  std::function<int(perf_event_attr* attr, pid_t pid, int cpu, int group_fd, unsigned long flags)>
      open;
  std::function<ssize_t(int fd, void* buf, size_t count)> read;
  std::function<int(int fd, unsigned long request)> ioctl;
  std::function<int(int fd)> close;
};
PerfSyscalls real_perf_syscalls();

// The processor name a cpuinfo text gives ("model name" and its equivalents
// on other architectures), or "unknown processor".
std::string cpuinfo_processor_name(const std::string& cpuinfo);

class PerfBackend : public CpcBackend {
 public:
  using NowFn = std::function<uint64_t()>;      // monotonic nanoseconds
  using ClockFn = std::function<int(int cpu)>;  // MHz of a processor, 0 when unknown

  static constexpr unsigned kCounters = 4;

  // Probes which generic events this thread can open. Null with *err = the
  // system's reason when it cannot open a single hardware event (the kernel's
  // "no such event", ENOENT, reads as ENOTSUP).
  static std::unique_ptr<PerfBackend> open(PerfSyscalls sys, std::string cciname, NowFn now,
                                           ClockFn clock, int* err);

  const char* kind() const override { return "perf_event"; }
  const std::string& cciname() const override { return name_; }
  const std::string& cpuref() const override { return ref_; }
  unsigned npic() const override { return kCounters; }
  const std::vector<std::string>& attributes() const override { return attrs_; }
  const std::vector<std::string>& events(unsigned pic) const override;
  int bind_cpu(int cpuid, const std::vector<CpcRequest>& reqs, std::unique_ptr<CpcBinding>* binding,
               std::string* why) override;
  int sample(CpcBinding& binding, const std::vector<CpcRequest>& reqs, uint64_t* values,
             uint64_t* tick) override;
  int unbind(CpcBinding& binding) override;

 private:
  struct Event {
    std::string name;
    uint32_t type;
    uint64_t config;
  };
  PerfBackend(PerfSyscalls sys, std::string cciname, NowFn now, ClockFn clock);
  const Event* find(const std::string& name) const;

  PerfSyscalls sys_;
  std::string name_, ref_;
  NowFn now_;
  ClockFn clock_;
  std::vector<Event> offered_;
  std::vector<std::string> event_names_, attrs_;
};

// The backend for cpc_open: the processor name from the platform's cpuinfo
// file, the platform's clock and the processor services' clocks.
std::unique_ptr<CpcBackend> make_perf_backend(const Platform& platform, int* err);
