// Processor services in the shape of their Solaris calls, on Linux: online
// state from sysfs, clocks from cpufreq or /proc/cpuinfo, the CPU affinity
// mask as the processor set, SCHED_RR as the real-time class, threads pinned
// to a CPU while they count on it.
//
// Where the data comes from is configured by processor_services_configure,
// at start-up from the platform description (platform.h), in tests from
// fixtures. Simulated processors (simulated_cpus N > 0) are processors
// 0 .. N-1, all online, in no processor set, at simulated_clock; a thread
// pinned to one of them runs on host CPU (id mod the number of CPUs the
// process may use). They are meant for the simulated counters.
#pragma once

#include <pthread.h>
#include <sys/types.h>
#include <sys/wait.h>  // idtype_t, P_PID

#include <string>
#include <vector>

typedef int processorid_t;
typedef int psetid_t;

constexpr id_t P_MYID = static_cast<id_t>(-1);

// p_online requests and answers.
constexpr int P_OFFLINE = 0x0001;
constexpr int P_ONLINE = 0x0002;
constexpr int P_STATUS = 0x0003;
constexpr int P_FAULTED = 0x0004;
constexpr int P_POWEROFF = 0x0005;
constexpr int P_NOINTR = 0x0006;
constexpr int P_SPARE = 0x0007;
constexpr int P_DISABLED = 0x0008;

// Only P_STATUS is served: the processor's state, or -1 with EINVAL for an id
// the system does not have (ENOTSUP for other requests).
int p_online(processorid_t cpu, int flag);

constexpr int PI_TYPELEN = 16;
constexpr int PI_FPUTYPE = 32;

typedef struct {
  int pi_state;  // as p_online answers
  char pi_processor_type[PI_TYPELEN];
  char pi_fputypes[PI_FPUTYPE];
  int pi_clock;  // nominal clock in MHz, 0 when the system does not say
} processor_info_t;

int processor_info(processorid_t cpu, processor_info_t* info);

// pi_clock of processors 0 .. processor_max_id() at once (0 for ids the
// system does not have), for backends that need a clock at every bind.
std::vector<int> processor_clock_table();

// Processor sets. A process confined by its affinity mask to part of the
// online CPUs is in set 1 and so are those CPUs; otherwise everything is in
// no set (PS_NONE). Only PS_QUERY is served.
constexpr psetid_t PS_NONE = -1;
constexpr psetid_t PS_QUERY = -2;
constexpr psetid_t PS_MYID = -3;

// The set of the calling process (idtype P_PID, id P_MYID or its pid).
int pset_bind(psetid_t pset, idtype_t idtype, id_t id, psetid_t* opset);
// The set processor cpu belongs to; -1 with EINVAL for an unknown processor.
int pset_assign(psetid_t pset, processorid_t cpu, psetid_t* opset);

// Scheduling classes: "TS" is SCHED_OTHER, "RT" is SCHED_RR.
constexpr int PC_GETCID = 0;
constexpr int PC_SETPARMS = 2;
constexpr int PC_GETPARMS = 3;
constexpr int PC_CLNMSZ = 16;
constexpr int PC_CLINFOSZ = 8;

constexpr short RT_NOCHANGE = -1;  // rt_pri: keep, or the lowest on entry
constexpr int RT_TQINF = -2;       // rt_tqnsecs; Linux has one round-robin quantum
constexpr int RT_TQDEF = -3;

typedef struct {
  id_t pc_cid;
  char pc_clname[PC_CLNMSZ];
  int pc_clinfo[PC_CLINFOSZ];
} pcinfo_t;

typedef struct {
  short rt_pri;  // 0 .. 59 as on Solaris, or RT_NOCHANGE
  unsigned rt_tqsecs;
  int rt_tqnsecs;
} rtparms_t;

typedef struct {
  id_t pc_cid;
  rtparms_t pc_rtparms;  // read for the RT class
} pcparms_t;

// PC_GETCID (arg pcinfo_t*, by pc_clname) and PC_SETPARMS / PC_GETPARMS (arg
// pcparms_t*) for idtype P_PID. A new policy applies to the calling thread
// (id P_MYID or the process id) or to the thread whose id is given; threads
// created afterwards inherit it.
long priocntl(idtype_t idtype, id_t id, int cmd, void* arg);

// Threads. Every Linux thread has its own kernel thread, so THR_BOUND and
// THR_NEW_LWP hold by nature; a thread is pinned to a CPU while it counts on
// it (cpc_bind_cpu). Threads are joinable unless THR_DETACHED.
typedef pthread_t thread_t;
constexpr long THR_BOUND = 0x01;
constexpr long THR_NEW_LWP = 0x02;
constexpr long THR_DETACHED = 0x40;

// Returns 0 or an errno value; a non-null stack_base is not supported.
int thr_create(void* stack_base, size_t stack_size, void* (*start)(void*), void* arg, long flags,
               thread_t* new_thread);
int thr_join(thread_t thread, thread_t* departed, void** status);

// Pins the calling thread to processor cpu (remembering its mask on the
// first pin) and returns 0, or -1 with errno. unpin restores the mask.
int pin_thread_to_processor(processorid_t cpu);
void unpin_thread();
// The processor the calling thread is pinned to, or -1.
processorid_t pinned_processor();

// sysconf(_SC_NPROCESSORS_CONF) of the configured system: the number of
// processors it has, and the largest processor id (-1 when none is found).
int processor_count();
processorid_t processor_max_id();

struct ProcessorServicesConfig {
  std::string sysfs_cpu = "/sys/devices/system/cpu";
  std::string cpuinfo = "/proc/cpuinfo";
  std::string device_tree = "/proc/device-tree";
  int simulated_cpus = 0;   // > 0: simulated processors (see above)
  int simulated_clock = 0;  // their clock in MHz
};

// REQUIRES: no other thread uses the services meanwhile.
void processor_services_configure(const ProcessorServicesConfig& config);
// The configuration in force (the defaults until configured).
const ProcessorServicesConfig& processor_services_config();

// Reads the decimal number text starts with, as sysfs files hold them
// ("1\n", "2400000\n"); false, storing nothing, when it starts with none.
bool leading_number(const std::string& text, long long* value);
