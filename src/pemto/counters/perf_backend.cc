#include "pemto/counters/perf_backend.h"

#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pemto/counters/platform.h"
#include "pemto/counters/processor.h"

namespace {

struct GenericEvent {
  const char* name;
  uint32_t type;
  uint64_t config;
};

const GenericEvent kHardwareEvents[] = {
    {"cpu-cycles", PERF_TYPE_HARDWARE, PERF_COUNT_HW_CPU_CYCLES},
    {"instructions", PERF_TYPE_HARDWARE, PERF_COUNT_HW_INSTRUCTIONS},
    {"cache-references", PERF_TYPE_HARDWARE, PERF_COUNT_HW_CACHE_REFERENCES},
    {"cache-misses", PERF_TYPE_HARDWARE, PERF_COUNT_HW_CACHE_MISSES},
    {"branch-instructions", PERF_TYPE_HARDWARE, PERF_COUNT_HW_BRANCH_INSTRUCTIONS},
    {"branch-misses", PERF_TYPE_HARDWARE, PERF_COUNT_HW_BRANCH_MISSES},
    {"bus-cycles", PERF_TYPE_HARDWARE, PERF_COUNT_HW_BUS_CYCLES},
    {"stalled-cycles-frontend", PERF_TYPE_HARDWARE, PERF_COUNT_HW_STALLED_CYCLES_FRONTEND},
    {"stalled-cycles-backend", PERF_TYPE_HARDWARE, PERF_COUNT_HW_STALLED_CYCLES_BACKEND},
    {"ref-cycles", PERF_TYPE_HARDWARE, PERF_COUNT_HW_REF_CPU_CYCLES},
};

struct NamedId {
  const char* name;
  uint64_t id;
};

const NamedId kCaches[] = {
    {"L1-dcache", PERF_COUNT_HW_CACHE_L1D}, {"L1-icache", PERF_COUNT_HW_CACHE_L1I},
    {"LLC", PERF_COUNT_HW_CACHE_LL},        {"dTLB", PERF_COUNT_HW_CACHE_DTLB},
    {"iTLB", PERF_COUNT_HW_CACHE_ITLB},     {"branch", PERF_COUNT_HW_CACHE_BPU},
    {"node", PERF_COUNT_HW_CACHE_NODE},
};

// Operation names for accesses ("loads") and misses ("load-misses").
struct CacheOp {
  const char* access;
  const char* miss;
  uint64_t id;
};
const CacheOp kCacheOps[] = {
    {"loads", "load-misses", PERF_COUNT_HW_CACHE_OP_READ},
    {"stores", "store-misses", PERF_COUNT_HW_CACHE_OP_WRITE},
    {"prefetches", "prefetch-misses", PERF_COUNT_HW_CACHE_OP_PREFETCH},
};

// The kernel answers ENOENT for an event type or generic event it lacks.
int reason(int err) {
  return err == ENOENT ? ENOTSUP : err;
}

perf_event_attr attr_for(uint32_t type, uint64_t config) {
  perf_event_attr attr;
  memset(&attr, 0, sizeof attr);
  attr.size = sizeof attr;
  attr.type = type;
  attr.config = config;
  attr.disabled = 1;
  attr.exclude_hv = 1;
  attr.read_format = PERF_FORMAT_TOTAL_TIME_ENABLED | PERF_FORMAT_TOTAL_TIME_RUNNING;
  return attr;
}

struct PerfBinding : CpcBinding {
  int cpu = -1;
  uint64_t start_ns = 0;
  int clock = 0;
  std::vector<int> fds;
};

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

PerfSyscalls real_perf_syscalls() {
  PerfSyscalls sys;
  sys.open = [](perf_event_attr* attr, pid_t pid, int cpu, int group_fd, unsigned long flags) {
    return static_cast<int>(syscall(SYS_perf_event_open, attr, pid, cpu, group_fd, flags));
  };
  sys.read = [](int fd, void* buf, size_t count) { return ::read(fd, buf, count); };
  sys.ioctl = [](int fd, unsigned long request) { return ::ioctl(fd, request, 0); };
  sys.close = [](int fd) { return ::close(fd); };
  return sys;
}

std::string cpuinfo_processor_name(const std::string& cpuinfo) {
  // By preference: x86, MIPS, POWER, RISC-V, older ARM kernels.
  static const char* const kKeys[] = {"model name", "cpu model", "cpu", "uarch", "Processor"};
  std::string found[sizeof kKeys / sizeof kKeys[0]];
  std::string implementer, part;
  size_t pos = 0;
  while (pos < cpuinfo.size()) {
    size_t eol = cpuinfo.find('\n', pos);
    if (eol == std::string::npos) eol = cpuinfo.size();
    std::string line = cpuinfo.substr(pos, eol - pos);
    pos = eol + 1;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = trim(line.substr(0, colon)), value = trim(line.substr(colon + 1));
    if (value.empty()) continue;
    for (size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; i++) {
      if (key == kKeys[i] && found[i].empty()) found[i] = value;
    }
    if (key == "CPU implementer" && implementer.empty()) implementer = value;
    if (key == "CPU part" && part.empty()) part = value;
  }
  for (const std::string& name : found) {
    if (!name.empty()) return name;
  }
  if (!implementer.empty()) return "ARM implementer " + implementer + " part " + part;
  return "unknown processor";
}

PerfBackend::PerfBackend(PerfSyscalls sys, std::string cciname, NowFn now, ClockFn clock)
    : sys_(std::move(sys)),
      name_(std::move(cciname)),
      ref_(
          "Generic hardware and cache events of the Linux perf_event interface; see "
          "perf_event_open(2)"),
      now_(std::move(now)),
      clock_(std::move(clock)) {}

std::unique_ptr<PerfBackend> PerfBackend::open(PerfSyscalls sys, std::string cciname, NowFn now,
                                               ClockFn clock, int* err) {
  std::unique_ptr<PerfBackend> b(
      new PerfBackend(std::move(sys), std::move(cciname), std::move(now), std::move(clock)));
  std::vector<Event> candidates;
  for (const GenericEvent& e : kHardwareEvents) candidates.push_back({e.name, e.type, e.config});
  for (const NamedId& cache : kCaches) {
    for (const CacheOp& op : kCacheOps) {
      uint64_t base = cache.id | (op.id << 8);
      std::string prefix = std::string(cache.name) + "-";
      candidates.push_back({prefix + op.access, PERF_TYPE_HW_CACHE,
                            base | (uint64_t{PERF_COUNT_HW_CACHE_RESULT_ACCESS} << 16)});
      candidates.push_back({prefix + op.miss, PERF_TYPE_HW_CACHE,
                            base | (uint64_t{PERF_COUNT_HW_CACHE_RESULT_MISS} << 16)});
    }
  }
  // Probe on this thread in user mode, which needs the fewest rights.
  int first_error = 0;
  bool any_hardware = false;
  for (const Event& e : candidates) {
    perf_event_attr attr = attr_for(e.type, e.config);
    attr.exclude_kernel = 1;
    int fd = b->sys_.open(&attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC);
    if (fd < 0) {
      if (first_error == 0) first_error = errno;
      continue;
    }
    b->sys_.close(fd);
    b->offered_.push_back(e);
    b->event_names_.push_back(e.name);
    if (e.type == PERF_TYPE_HARDWARE) any_hardware = true;
  }
  if (!any_hardware) {
    *err = reason(first_error ? first_error : ENOTSUP);
    return nullptr;
  }
  return b;
}

const std::vector<std::string>& PerfBackend::events(unsigned pic) const {
  static const std::vector<std::string> none;
  return pic < kCounters ? event_names_ : none;
}

const PerfBackend::Event* PerfBackend::find(const std::string& name) const {
  for (const Event& e : offered_) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

int PerfBackend::bind_cpu(int cpuid, const std::vector<CpcRequest>& reqs,
                          std::unique_ptr<CpcBinding>* binding, std::string* why) {
  auto b = std::make_unique<PerfBinding>();
  b->cpu = cpuid;
  int clock = clock_ ? clock_(cpuid) : 0;
  b->clock = clock > 0 ? clock : 1000;
  int err = 0;
  for (const CpcRequest& r : reqs) {
    const Event* e = find(r.event);
    if (!e) {
      *why = "no event '" + r.event + "'";
      err = EINVAL;
      break;
    }
    perf_event_attr attr = attr_for(e->type, e->config);
    attr.exclude_user = (r.flags & CPC_COUNT_USER) ? 0 : 1;
    attr.exclude_kernel = (r.flags & CPC_COUNT_SYSTEM) ? 0 : 1;
    int fd = sys_.open(&attr, -1, cpuid, -1, PERF_FLAG_FD_CLOEXEC);
    if (fd < 0) {
      err = reason(errno);
      *why = "cannot open event '" + r.event + "' on cpu " + std::to_string(cpuid) + ": " +
             strerror(err);
      break;
    }
    b->fds.push_back(fd);
  }
  for (size_t i = 0; err == 0 && i < b->fds.size(); i++) {
    if (sys_.ioctl(b->fds[i], PERF_EVENT_IOC_ENABLE) != 0) {
      err = errno;
      *why = "cannot start event '" + reqs[i].event + "': " + strerror(err);
    }
  }
  if (err != 0) {
    for (int fd : b->fds) sys_.close(fd);
    return err;
  }
  b->start_ns = now_();
  *binding = std::move(b);
  return 0;
}

int PerfBackend::sample(CpcBinding& binding, const std::vector<CpcRequest>& reqs, uint64_t* values,
                        uint64_t* tick) {
  PerfBinding& b = static_cast<PerfBinding&>(binding);
  uint64_t now = now_();
  for (size_t i = 0; i < b.fds.size() && i < reqs.size(); i++) {
    uint64_t data[3];  // value, time enabled, time running
    ssize_t n = sys_.read(b.fds[i], data, sizeof data);
    if (n < 0) return errno;
    if (n != static_cast<ssize_t>(sizeof data)) return EIO;
    uint64_t count = data[0];
    if (data[2] == 0) {
      count = 0;
    } else if (data[2] < data[1]) {
      // Multiplexed: extrapolate to the whole time the event was enabled.
      count = static_cast<uint64_t>(static_cast<long double>(data[0]) * data[1] / data[2]);
    }
    values[i] = reqs[i].preset + count;
  }
  uint64_t elapsed = now > b.start_ns ? now - b.start_ns : 0;
  uint64_t clock = static_cast<uint64_t>(b.clock);
  *tick = elapsed / 1000 * clock + elapsed % 1000 * clock / 1000;
  return 0;
}

int PerfBackend::unbind(CpcBinding& binding) {
  PerfBinding& b = static_cast<PerfBinding&>(binding);
  int err = 0;
  for (int fd : b.fds) {
    if (sys_.close(fd) != 0 && err == 0) err = errno;
  }
  b.fds.clear();
  return err;
}

std::unique_ptr<CpcBackend> make_perf_backend(const Platform& platform, int* err) {
  std::string text;
  if (FILE* f = fopen(platform.processors.cpuinfo.c_str(), "re")) {
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() < (1u << 20)) {
      text.append(chunk, n);
    }
    fclose(f);
  }
  std::vector<int> clocks = processor_clock_table();
  return PerfBackend::open(
      real_perf_syscalls(), cpuinfo_processor_name(text), platform.now,
      [clocks](int cpu) {
        return cpu >= 0 && static_cast<size_t>(cpu) < clocks.size() ? clocks[cpu] : 0;
      },
      err);
}
