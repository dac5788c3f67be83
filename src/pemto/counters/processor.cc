#include "pemto/counters/processor.h"

#include <dirent.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kMaxFileBytes = 1 << 20;  // /proc/cpuinfo of a large machine fits
constexpr psetid_t kConfinedSet = 1;
constexpr long kMaxCpuinfoId = 1 << 20;

ProcessorServicesConfig& config_state() {
  static ProcessorServicesConfig config;
  return config;
}

bool read_file(const std::string& path, std::string* out) {
  FILE* f = fopen(path.c_str(), "re");
  if (!f) return false;
  out->clear();
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0 && out->size() < kMaxFileBytes) {
    out->append(chunk, n);
  }
  fclose(f);
  return true;
}

bool is_dir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string cpu_dir(processorid_t cpu) {
  return config_state().sysfs_cpu + "/cpu" + std::to_string(cpu);
}

// Whether id is in a kernel CPU list such as "0-3,8,10-11".
bool in_cpu_list(const std::string& list, int id) {
  const char* p = list.c_str();
  while (*p) {
    char* end = nullptr;
    long lo = strtol(p, &end, 10);
    if (end == p) return false;
    long hi = lo;
    p = end;
    if (*p == '-') {
      hi = strtol(p + 1, &end, 10);
      if (end == p + 1) return false;
      p = end;
    }
    if (id >= lo && id <= hi) return true;
    if (*p != ',') return false;
    p++;
  }
  return false;
}

// A CPU mask sized for the host, whatever its number of CPUs.
class CpuMask {
 public:
  CpuMask() = default;
  CpuMask(const CpuMask&) = delete;
  CpuMask& operator=(const CpuMask&) = delete;
  ~CpuMask() {
    if (set_) CPU_FREE(set_);
  }

  // The affinity of thread tid (0: the caller); false with errno on failure.
  bool load(pid_t tid) {
    for (int ncpus = 1024; ncpus <= (1 << 20); ncpus *= 2) {
      if (!allocate(ncpus)) return false;
      if (sched_getaffinity(tid, size_, set_) == 0) return true;
      if (errno != EINVAL) return false;
    }
    return false;
  }
  bool only(int cpu) {
    if (cpu < 0) {
      errno = EINVAL;
      return false;
    }
    if (!allocate(cpu + 1 > 1024 ? cpu + 1 : 1024)) return false;
    CPU_SET_S(cpu, size_, set_);
    return true;
  }
  void copy_from(const CpuMask& other) {
    if (!other.set_ || !allocate(other.ncpus_)) return;
    memcpy(set_, other.set_, size_);
  }
  bool apply() const { return set_ && sched_setaffinity(0, size_, set_) == 0; }
  bool has(int cpu) const {
    return set_ && cpu >= 0 && cpu < ncpus_ && CPU_ISSET_S(cpu, size_, set_);
  }
  int count() const { return set_ ? CPU_COUNT_S(size_, set_) : 0; }
  // The k-th CPU of the mask (k below count()), or -1.
  int nth(int k) const {
    for (int cpu = 0; cpu < ncpus_; cpu++) {
      if (has(cpu) && k-- == 0) return cpu;
    }
    return -1;
  }
  bool loaded() const { return set_ != nullptr; }

 private:
  bool allocate(int ncpus) {
    if (set_) CPU_FREE(set_);
    set_ = CPU_ALLOC(ncpus);
    if (!set_) {
      errno = ENOMEM;
      return false;
    }
    ncpus_ = ncpus;
    size_ = CPU_ALLOC_SIZE(ncpus);
    CPU_ZERO_S(size_, set_);
    return true;
  }

  cpu_set_t* set_ = nullptr;
  int ncpus_ = 0;
  size_t size_ = 0;
};

// The pin of the calling thread and the mask it had before.
struct Pin {
  bool pinned = false;
  processorid_t cpu = -1;
  CpuMask saved;
};
thread_local Pin pin;

// The mask the calling thread has when it is not pinned.
bool own_mask(CpuMask* mask) {
  if (pin.pinned) {
    mask->copy_from(pin.saved);
    return mask->loaded();
  }
  return mask->load(0);
}

bool usable(int state) {
  return state == P_ONLINE || state == P_NOINTR;
}

// PS_NONE when the mask admits every online processor, else the confined set.
psetid_t set_of_mask(const CpuMask& mask) {
  std::string list;
  if (read_file(config_state().sysfs_cpu + "/online", &list)) {
    // Ranges such as "0-3,8": one read however many processors there are.
    const char* p = list.c_str();
    while (*p >= '0' && *p <= '9') {
      char* end = nullptr;
      long lo = strtol(p, &end, 10), hi = lo;
      p = end;
      if (*p == '-') {
        hi = strtol(p + 1, &end, 10);
        p = end;
      }
      for (long cpu = lo; cpu <= hi && cpu < INT_MAX; cpu++) {
        if (!mask.has(static_cast<int>(cpu))) return kConfinedSet;
      }
      if (*p == ',') p++;
    }
    return PS_NONE;
  }
  processorid_t max = processor_max_id();
  for (processorid_t cpu = 0; cpu <= max; cpu++) {
    if (usable(p_online(cpu, P_STATUS)) && !mask.has(cpu)) return kConfinedSet;
  }
  return PS_NONE;
}

// Clock in MHz from the cpufreq files (kHz) of a processor; 0 when absent.
int cpufreq_mhz(processorid_t cpu) {
  static const char* const kFreqFiles[] = {"base_frequency", "cpuinfo_max_freq"};
  std::string text;
  long long khz;
  for (const char* file : kFreqFiles) {
    if (read_file(cpu_dir(cpu) + "/cpufreq/" + file, &text) && leading_number(text, &khz) &&
        khz > 0 && khz < INT_MAX) {
      return static_cast<int>((khz + 500) / 1000);
    }
  }
  return 0;
}

// Clocks in MHz by processor id from the cpuinfo file: blocks of "key : value"
// lines, one per processor, giving "cpu MHz" (x86) or "clock" (POWER).
std::vector<int> cpuinfo_mhz() {
  std::vector<int> clocks;
  std::string text;
  if (!read_file(config_state().cpuinfo, &text)) return clocks;
  long cpu = -1;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    const char* value = line.c_str() + colon + 1;
    if (key == "processor") {
      cpu = strtol(value, nullptr, 10);
      if (cpu < 0 || cpu > kMaxCpuinfoId) cpu = -1;
    } else if (cpu >= 0 && (key == "cpu MHz" || key == "clock")) {
      double mhz = strtod(value, nullptr);
      if (mhz > 0 && mhz < INT_MAX) {
        if (clocks.size() <= static_cast<size_t>(cpu)) clocks.resize(cpu + 1, 0);
        if (clocks[cpu] == 0) clocks[cpu] = static_cast<int>(mhz + 0.5);
      }
    }
  }
  return clocks;
}

int clock_from(const std::vector<int>& cpuinfo, processorid_t cpu) {
  int mhz = cpufreq_mhz(cpu);
  if (mhz > 0) return mhz;
  return static_cast<size_t>(cpu) < cpuinfo.size() ? cpuinfo[cpu] : 0;
}

void copy_bounded(char* dst, size_t size, const char* src) {
  size_t n = strnlen(src, size - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

bool leading_number(const std::string& text, long long* value) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(s, &end, 10);
  if (end == s || errno != 0) return false;
  *value = v;
  return true;
}

void processor_services_configure(const ProcessorServicesConfig& config) {
  config_state() = config;
}

const ProcessorServicesConfig& processor_services_config() {
  return config_state();
}

int processor_count() {
  const ProcessorServicesConfig& config = config_state();
  if (config.simulated_cpus > 0) return config.simulated_cpus;
  int count = 0;
  if (DIR* dir = opendir(config.sysfs_cpu.c_str())) {
    while (struct dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (strncmp(name, "cpu", 3) == 0 && name[3] >= '0' && name[3] <= '9' &&
          strspn(name + 3, "0123456789") == strlen(name + 3)) {
        count++;
      }
    }
    closedir(dir);
  }
  return count;
}

processorid_t processor_max_id() {
  const ProcessorServicesConfig& config = config_state();
  if (config.simulated_cpus > 0) return config.simulated_cpus - 1;
  long max = -1;
  if (DIR* dir = opendir(config.sysfs_cpu.c_str())) {
    while (struct dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (strncmp(name, "cpu", 3) != 0 || name[3] < '0' || name[3] > '9') continue;
      char* end = nullptr;
      long id = strtol(name + 3, &end, 10);
      if (*end == '\0' && id > max && id < INT_MAX) max = id;
    }
    closedir(dir);
  }
  return static_cast<processorid_t>(max);
}

int p_online(processorid_t cpu, int flag) {
  if (flag != P_STATUS) {
    errno = ENOTSUP;
    return -1;
  }
  const ProcessorServicesConfig& config = config_state();
  if (cpu < 0 || (config.simulated_cpus > 0 && cpu >= config.simulated_cpus)) {
    errno = EINVAL;
    return -1;
  }
  if (config.simulated_cpus > 0) return P_ONLINE;
  if (!is_dir(cpu_dir(cpu))) {
    errno = EINVAL;
    return -1;
  }
  std::string text;
  long long state;
  // Processors that cannot go offline (often cpu0) have no "online" file.
  if (read_file(cpu_dir(cpu) + "/online", &text) && leading_number(text, &state)) {
    return state ? P_ONLINE : P_OFFLINE;
  }
  if (read_file(config.sysfs_cpu + "/online", &text)) {
    return in_cpu_list(text, cpu) ? P_ONLINE : P_OFFLINE;
  }
  return P_ONLINE;
}

int processor_info(processorid_t cpu, processor_info_t* info) {
  int state = p_online(cpu, P_STATUS);
  if (state == -1) return -1;
  memset(info, 0, sizeof *info);
  info->pi_state = state;
  struct utsname u;
  const char* machine = uname(&u) == 0 ? u.machine : "";
  copy_bounded(info->pi_processor_type, sizeof info->pi_processor_type, machine);
  copy_bounded(info->pi_fputypes, sizeof info->pi_fputypes, machine);
  const ProcessorServicesConfig& config = config_state();
  if (config.simulated_cpus > 0) {
    info->pi_clock = config.simulated_clock;
  } else if ((info->pi_clock = cpufreq_mhz(cpu)) == 0) {
    info->pi_clock = clock_from(cpuinfo_mhz(), cpu);
  }
  return 0;
}

std::vector<int> processor_clock_table() {
  const ProcessorServicesConfig& config = config_state();
  processorid_t max = processor_max_id();
  std::vector<int> clocks(max >= 0 ? max + 1 : 0, 0);
  std::vector<int> cpuinfo = config.simulated_cpus > 0 ? std::vector<int>() : cpuinfo_mhz();
  for (processorid_t cpu = 0; cpu <= max; cpu++) {
    if (p_online(cpu, P_STATUS) == -1) continue;
    clocks[cpu] = config.simulated_cpus > 0 ? config.simulated_clock : clock_from(cpuinfo, cpu);
  }
  return clocks;
}

int pset_bind(psetid_t pset, idtype_t idtype, id_t id, psetid_t* opset) {
  if (pset != PS_QUERY) {
    errno = ENOTSUP;
    return -1;
  }
  if (idtype != P_PID) {
    errno = EINVAL;
    return -1;
  }
  psetid_t result = PS_NONE;
  if (config_state().simulated_cpus == 0) {
    CpuMask mask;
    bool self = id == P_MYID || id == static_cast<id_t>(getpid());
    if (!(self ? own_mask(&mask) : mask.load(static_cast<pid_t>(id)))) return -1;
    result = set_of_mask(mask);
  }
  if (opset) *opset = result;
  return 0;
}

int pset_assign(psetid_t pset, processorid_t cpu, psetid_t* opset) {
  if (pset != PS_QUERY) {
    errno = ENOTSUP;
    return -1;
  }
  if (p_online(cpu, P_STATUS) == -1) return -1;
  psetid_t result = PS_NONE;
  if (config_state().simulated_cpus == 0) {
    CpuMask mask;
    if (!own_mask(&mask)) return -1;
    if (set_of_mask(mask) != PS_NONE && mask.has(cpu)) result = kConfinedSet;
  }
  if (opset) *opset = result;
  return 0;
}

namespace {

constexpr id_t kTsClass = 1;
constexpr id_t kRtClass = 2;
constexpr short kRtMaxPri = 59;

long set_rt(pid_t tid, short rt_pri) {
  int lo = sched_get_priority_min(SCHED_RR);
  int hi = sched_get_priority_max(SCHED_RR);
  struct sched_param param = {};
  if (rt_pri == RT_NOCHANGE) {
    int policy = sched_getscheduler(tid);
    if (policy == -1) return -1;
    param.sched_priority = lo;
    if (policy == SCHED_RR || policy == SCHED_FIFO) {
      struct sched_param now;
      if (sched_getparam(tid, &now) == -1) return -1;
      param.sched_priority = now.sched_priority;
    }
  } else if (rt_pri >= 0 && rt_pri <= kRtMaxPri) {
    param.sched_priority = lo + rt_pri > hi ? hi : lo + rt_pri;
  } else {
    errno = EINVAL;
    return -1;
  }
  return sched_setscheduler(tid, SCHED_RR, &param);
}

}  // namespace

long priocntl(idtype_t idtype, id_t id, int cmd, void* arg) {
  if (!arg) {
    errno = EFAULT;
    return -1;
  }
  if (cmd == PC_GETCID) {
    pcinfo_t* info = static_cast<pcinfo_t*>(arg);
    size_t len = strnlen(info->pc_clname, sizeof info->pc_clname);
    std::string name(info->pc_clname, len);
    memset(info->pc_clinfo, 0, sizeof info->pc_clinfo);
    if (name == "RT") {
      info->pc_cid = kRtClass;
      info->pc_clinfo[0] = kRtMaxPri;
    } else if (name == "TS") {
      info->pc_cid = kTsClass;
    } else {
      errno = EINVAL;
      return -1;
    }
    return static_cast<long>(info->pc_cid);
  }
  if (cmd != PC_SETPARMS && cmd != PC_GETPARMS) {
    errno = EINVAL;
    return -1;
  }
  if (idtype != P_PID) {
    errno = EINVAL;
    return -1;
  }
  pid_t tid = (id == P_MYID || id == static_cast<id_t>(getpid())) ? 0 : static_cast<pid_t>(id);
  pcparms_t* params = static_cast<pcparms_t*>(arg);
  if (cmd == PC_GETPARMS) {
    int policy = sched_getscheduler(tid);
    if (policy == -1) return -1;
    struct sched_param now;
    if (sched_getparam(tid, &now) == -1) return -1;
    bool rt = policy == SCHED_RR || policy == SCHED_FIFO;
    params->pc_cid = rt ? kRtClass : kTsClass;
    params->pc_rtparms.rt_pri =
        rt ? static_cast<short>(now.sched_priority - sched_get_priority_min(SCHED_RR)) : 0;
    params->pc_rtparms.rt_tqsecs = 0;
    params->pc_rtparms.rt_tqnsecs = RT_TQDEF;
    return 0;
  }
  if (params->pc_cid == kRtClass) return set_rt(tid, params->pc_rtparms.rt_pri);
  if (params->pc_cid == kTsClass) {
    struct sched_param param = {};
    return sched_setscheduler(tid, SCHED_OTHER, &param);
  }
  errno = EINVAL;
  return -1;
}

int thr_create(void* stack_base, size_t stack_size, void* (*start)(void*), void* arg, long flags,
               thread_t* new_thread) {
  if (stack_base) return ENOTSUP;
  if (!start || (flags & ~(THR_BOUND | THR_NEW_LWP | THR_DETACHED)) != 0) return EINVAL;
  pthread_attr_t attr;
  int rc = pthread_attr_init(&attr);
  if (rc != 0) return rc;
  if (stack_size) rc = pthread_attr_setstacksize(&attr, stack_size);
  if (rc == 0 && (flags & THR_DETACHED)) {
    rc = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  }
  thread_t tid;
  if (rc == 0) rc = pthread_create(&tid, &attr, start, arg);
  pthread_attr_destroy(&attr);
  if (rc == 0 && new_thread) *new_thread = tid;
  return rc;
}

int thr_join(thread_t thread, thread_t* departed, void** status) {
  int rc = pthread_join(thread, status);
  if (rc == 0 && departed) *departed = thread;
  return rc;
}

int pin_thread_to_processor(processorid_t cpu) {
  if (!usable(p_online(cpu, P_STATUS))) {
    errno = EINVAL;
    return -1;
  }
  CpuMask base;
  if (!own_mask(&base)) return -1;
  int host = cpu;
  if (config_state().simulated_cpus > 0) {
    int n = base.count();
    host = n > 0 ? base.nth(cpu % n) : -1;
  }
  CpuMask target;
  if (!target.only(host) || !target.apply()) return -1;
  if (!pin.pinned) pin.saved.copy_from(base);
  pin.pinned = true;
  pin.cpu = cpu;
  return 0;
}

void unpin_thread() {
  if (!pin.pinned) return;
  pin.saved.apply();
  pin.pinned = false;
  pin.cpu = -1;
}

processorid_t pinned_processor() {
  return pin.pinned ? pin.cpu : -1;
}
