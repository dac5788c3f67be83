// The CPU performance-counter library Pemto programs its counters with: the
// operations and types of the Solaris counter library (interface version 2),
// served on Linux by a simulated backend or by the kernel's perf_event
// interface, as the platform description (platform.h) chooses.
//
// A handle is shared by all sampling threads; each set and each buffer is
// used by one thread at a time. Failures return -1 or null with errno set;
// some also explain themselves through the handle's error handler.
#pragma once

#include <cstdarg>
#include <cstdint>

struct Platform;
struct cpc;
struct cpc_set;
struct cpc_buf;
typedef struct cpc cpc_t;
typedef struct cpc_set cpc_set_t;
typedef struct cpc_buf cpc_buf_t;

// One attribute of a request ("picnum", "umask", ...).
typedef struct {
  const char* ca_name;
  uint64_t ca_val;
} cpc_attr_t;

// Receives the library's explanations: function name, sub-code, printf format.
typedef void(cpc_errhndlr_t)(const char* fn, int subcode, const char* fmt, va_list ap);

constexpr unsigned CPC_VER_NONE = 0;
constexpr unsigned CPC_VER_CURRENT = 2;

// Request flags: count while the CPU runs in user mode, in system mode.
constexpr unsigned CPC_COUNT_USER = 0x1;
constexpr unsigned CPC_COUNT_SYSTEM = 0x2;

// Longest event name, terminator included.
constexpr int CPC_MAX_EVENT_LEN = 512;

// The version the caller is written for when this library supports it, else
// CPC_VER_NONE; CPC_VER_NONE asks for the library's current version.
int cpc_version(unsigned ver);

// Opens the counters of the platform: the simulated processor it names, with
// its failures (for tests of the caller), else the perf_event counters; both
// count time on the platform's clock. Null with errno when the version is
// not CPC_VER_CURRENT (EINVAL), the failure list is malformed (EINVAL) or the
// counters cannot be reached (the system's reason).
cpc_t* cpc_open(int ver, const Platform& platform);
// REQUIRES: every set and buffer of the handle has been destroyed.
int cpc_close(cpc_t* cpc);
// Null restores the default handler, which writes to standard error.
int cpc_seterrhndlr(cpc_t* cpc, cpc_errhndlr_t* fn);

const char* cpc_cciname(cpc_t* cpc);  // processor name
const char* cpc_cpuref(cpc_t* cpc);   // where the processor's events are documented
unsigned cpc_npic(cpc_t* cpc);        // number of counters

// Names every request attribute the processor takes, "picnum" first.
void cpc_walk_attrs(cpc_t* cpc, void* arg, void (*action)(void* arg, const char* attr));
// Names every event that counter picno can count.
void cpc_walk_events_pic(cpc_t* cpc, unsigned picno, void* arg,
                         void (*action)(void* arg, unsigned picno, const char* event));

cpc_set_t* cpc_set_create(cpc_t* cpc);
// Unbinds the set first when it is bound.
int cpc_set_destroy(cpc_t* cpc, cpc_set_t* set);
// Adds one request; returns its index in the set. The attribute "picnum"
// places it on that counter. EINVAL (explained through the handler) for an
// event the counter cannot count, an unknown attribute or one out of range, a
// counter taken twice or more requests than counters; EBUSY on a bound set.
int cpc_set_add_request(cpc_t* cpc, cpc_set_t* set, const char* event, uint64_t preset,
                        unsigned flags, unsigned nattrs, const cpc_attr_t* attrs);
// Calls action once per request, in index order.
void cpc_walk_requests(cpc_t* cpc, cpc_set_t* set, void* arg,
                       void (*action)(void* arg, int index, const char* event, uint64_t preset,
                                      unsigned flags, int nattrs, const cpc_attr_t* attrs));

// A buffer holds one value per request of the set it was made for and a tick.
cpc_buf_t* cpc_buf_create(cpc_t* cpc, cpc_set_t* set);
int cpc_buf_destroy(cpc_t* cpc, cpc_buf_t* buf);
// ds := src; ds := a + b. Buffers made for sets of different sizes are left alone.
void cpc_buf_copy(cpc_t* cpc, cpc_buf_t* ds, cpc_buf_t* src);
void cpc_buf_add(cpc_t* cpc, cpc_buf_t* ds, cpc_buf_t* a, cpc_buf_t* b);
// Value of request index; -1 with EINVAL when there is no such request.
int cpc_buf_get(cpc_t* cpc, cpc_buf_t* buf, int index, uint64_t* val);
// Elapsed cycles of the CPU's reference clock while the set counted.
uint64_t cpc_buf_tick(cpc_t* cpc, cpc_buf_t* buf);

// Starts counting the set on processor cpuid from each request's preset. As
// on Solaris, the calling thread is bound to that processor until
// cpc_unbind; sample and unbind from the same thread. EBUSY when the set is
// already bound.
int cpc_bind_cpu(cpc_t* cpc, int cpuid, cpc_set_t* set, unsigned flags);
// Reads the counts since the bind into buf (made for this set).
int cpc_set_sample(cpc_t* cpc, cpc_set_t* set, cpc_buf_t* buf);
// Stops counting; the set is released even when -1 reports a failure.
int cpc_unbind(cpc_t* cpc, cpc_set_t* set);

// Which backend serves the handle: "simulated" or "perf_event".
const char* cpc_backend_name(cpc_t* cpc);
