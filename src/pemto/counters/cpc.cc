#include "pemto/counters/cpc.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "pemto/counters/alloc_fault.h"
#include "pemto/counters/cpc_backend.h"
#include "pemto/counters/perf_backend.h"
#include "pemto/counters/platform.h"
#include "pemto/counters/processor.h"
#include "pemto/counters/sim_backend.h"

struct cpc {
  std::unique_ptr<CpcBackend> backend;
  cpc_errhndlr_t* errfn = nullptr;
};

struct cpc_set {
  std::vector<CpcRequest> reqs;
  std::vector<std::vector<cpc_attr_t>> attrs;  // per request, naming reqs' strings
  std::unique_ptr<CpcBinding> binding;
  int cpuid = -1;
  processorid_t previous_pin = -1;  // where the binding thread was pinned before
};

struct cpc_buf {
  std::vector<uint64_t> values;
  uint64_t tick = 0;
};

bool CpcBackend::attribute_ok(const std::string& name, uint64_t, std::string* why) const {
  *why = "unknown attribute '" + name + "'";
  return false;
}

namespace {

void restore_pin(processorid_t previous) {
  if (previous >= 0) {
    pin_thread_to_processor(previous);
  } else {
    unpin_thread();
  }
}

void report(cpc_t* cpc, const char* fn, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

void report(cpc_t* cpc, const char* fn, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  if (cpc->errfn) {
    cpc->errfn(fn, -1, fmt, ap);
  } else {
    fprintf(stderr, "libcpc: %s: ", fn);
    vfprintf(stderr, fmt, ap);
  }
  va_end(ap);
}

int fail(int err) {
  errno = err;
  return -1;
}

bool known_attribute(const CpcBackend& backend, const char* name) {
  for (const std::string& a : backend.attributes()) {
    if (a == name) return true;
  }
  return false;
}

bool counts_event(const CpcBackend& backend, unsigned pic, const std::string& event) {
  for (const std::string& e : backend.events(pic)) {
    if (e == event) return true;
  }
  return false;
}

}  // namespace

int cpc_version(unsigned ver) {
  if (ver == CPC_VER_NONE || ver == CPC_VER_CURRENT) return CPC_VER_CURRENT;
  return CPC_VER_NONE;
}

cpc_t* cpc_open_backend(int ver, std::unique_ptr<CpcBackend> backend) {
  if (ver != static_cast<int>(CPC_VER_CURRENT) || !backend) {
    errno = EINVAL;
    return nullptr;
  }
  cpc_t* cpc = new (std::nothrow) struct cpc;
  if (!cpc) {
    errno = ENOMEM;
    return nullptr;
  }
  cpc->backend = std::move(backend);
  return cpc;
}

cpc_t* cpc_open(int ver, const Platform& platform) {
  if (ver != static_cast<int>(CPC_VER_CURRENT)) {
    errno = EINVAL;
    return nullptr;
  }
  try {
    int err = 0;
    std::unique_ptr<CpcBackend> backend = !platform.simulate.empty()
                                              ? make_sim_backend(platform, &err)
                                              : make_perf_backend(platform, &err);
    if (!backend) {
      errno = err ? err : ENOTSUP;
      return nullptr;
    }
    return cpc_open_backend(ver, std::move(backend));
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

int cpc_close(cpc_t* cpc) {
  delete cpc;
  return 0;
}

int cpc_seterrhndlr(cpc_t* cpc, cpc_errhndlr_t* fn) {
  cpc->errfn = fn;
  return 0;
}

const char* cpc_cciname(cpc_t* cpc) {
  return cpc->backend->cciname().c_str();
}
const char* cpc_cpuref(cpc_t* cpc) {
  return cpc->backend->cpuref().c_str();
}
unsigned cpc_npic(cpc_t* cpc) {
  return cpc->backend->npic();
}
const char* cpc_backend_name(cpc_t* cpc) {
  return cpc->backend->kind();
}

void cpc_walk_attrs(cpc_t* cpc, void* arg, void (*action)(void* arg, const char* attr)) {
  action(arg, "picnum");
  for (const std::string& a : cpc->backend->attributes()) action(arg, a.c_str());
}

void cpc_walk_events_pic(cpc_t* cpc, unsigned picno, void* arg,
                         void (*action)(void* arg, unsigned picno, const char* event)) {
  for (const std::string& e : cpc->backend->events(picno)) action(arg, picno, e.c_str());
}

cpc_set_t* cpc_set_create(cpc_t*) {
  if (pemto_allocation_fails()) {
    errno = ENOMEM;
    return nullptr;
  }
  cpc_set_t* set = new (std::nothrow) cpc_set;
  if (!set) errno = ENOMEM;
  return set;
}

int cpc_set_destroy(cpc_t* cpc, cpc_set_t* set) {
  if (!set) return fail(EINVAL);
  if (set->binding) cpc_unbind(cpc, set);
  delete set;
  return 0;
}

int cpc_set_add_request(cpc_t* cpc, cpc_set_t* set, const char* event, uint64_t preset,
                        unsigned flags, unsigned nattrs, const cpc_attr_t* attrs) {
  static const char* const fn = "cpc_set_add_request";
  const CpcBackend& backend = *cpc->backend;
  if (!set || !event || *event == '\0' || (nattrs > 0 && !attrs)) return fail(EINVAL);
  if (set->binding) return fail(EBUSY);
  if (set->reqs.size() >= backend.npic()) {
    report(cpc, fn, "a set takes at most %u requests\n", backend.npic());
    return fail(EINVAL);
  }
  try {
    CpcRequest req;
    req.event = event;
    req.preset = preset;
    req.flags = flags;
    for (unsigned i = 0; i < nattrs; i++) {
      const char* name = attrs[i].ca_name;
      if (!name) return fail(EINVAL);
      if (strcmp(name, "picnum") == 0) {
        if (req.picnum >= 0) continue;  // the first one given wins
        if (attrs[i].ca_val >= backend.npic()) {
          report(cpc, fn, "no counter %llu on this cpu\n",
                 static_cast<unsigned long long>(attrs[i].ca_val));
          return fail(EINVAL);
        }
        req.picnum = static_cast<int>(attrs[i].ca_val);
        continue;
      }
      if (!known_attribute(backend, name)) {
        report(cpc, fn, "unknown attribute '%s'\n", name);
        return fail(EINVAL);
      }
      std::string why;
      if (!backend.attribute_ok(name, attrs[i].ca_val, &why)) {
        report(cpc, fn, "%s\n", why.c_str());
        return fail(EINVAL);
      }
    }
    if (req.picnum >= 0) {
      if (!counts_event(backend, static_cast<unsigned>(req.picnum), req.event)) {
        report(cpc, fn, "pic%d cannot count event '%s'\n", req.picnum, event);
        return fail(EINVAL);
      }
      for (const CpcRequest& other : set->reqs) {
        if (other.picnum == req.picnum) {
          report(cpc, fn, "pic%d is already taken in this set\n", req.picnum);
          return fail(EINVAL);
        }
      }
    } else {
      bool anywhere = false;
      for (unsigned pic = 0; pic < backend.npic() && !anywhere; pic++) {
        anywhere = counts_event(backend, pic, req.event);
      }
      if (!anywhere) {
        report(cpc, fn, "no counter can count event '%s'\n", event);
        return fail(EINVAL);
      }
    }
    // Keep the attributes as given, for cpc_walk_requests.
    for (unsigned i = 0; i < nattrs; i++) {
      req.attr_names.push_back(attrs[i].ca_name);
      req.attr_values.push_back(attrs[i].ca_val);
    }
    set->reqs.push_back(std::move(req));
    const CpcRequest& kept = set->reqs.back();
    std::vector<cpc_attr_t> view;
    for (size_t i = 0; i < kept.attr_names.size(); i++) {
      view.push_back({kept.attr_names[i].c_str(), kept.attr_values[i]});
    }
    set->attrs.push_back(std::move(view));
  } catch (const std::bad_alloc&) {
    if (set->attrs.size() < set->reqs.size()) set->reqs.pop_back();
    return fail(ENOMEM);
  }
  return static_cast<int>(set->reqs.size() - 1);
}

void cpc_walk_requests(cpc_t*, cpc_set_t* set, void* arg,
                       void (*action)(void* arg, int index, const char* event, uint64_t preset,
                                      unsigned flags, int nattrs, const cpc_attr_t* attrs)) {
  for (size_t i = 0; i < set->reqs.size(); i++) {
    const CpcRequest& r = set->reqs[i];
    const std::vector<cpc_attr_t>& a = set->attrs[i];
    action(arg, static_cast<int>(i), r.event.c_str(), r.preset, r.flags, static_cast<int>(a.size()),
           a.empty() ? nullptr : a.data());
  }
}

cpc_buf_t* cpc_buf_create(cpc_t*, cpc_set_t* set) {
  if (!set) {
    errno = EINVAL;
    return nullptr;
  }
  if (pemto_allocation_fails()) {
    errno = ENOMEM;
    return nullptr;
  }
  try {
    cpc_buf_t* buf = new cpc_buf;
    buf->values.assign(set->reqs.size(), 0);
    return buf;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

int cpc_buf_destroy(cpc_t*, cpc_buf_t* buf) {
  delete buf;
  return 0;
}

void cpc_buf_copy(cpc_t*, cpc_buf_t* ds, cpc_buf_t* src) {
  if (!ds || !src || ds->values.size() != src->values.size()) return;
  ds->values = src->values;
  ds->tick = src->tick;
}

void cpc_buf_add(cpc_t*, cpc_buf_t* ds, cpc_buf_t* a, cpc_buf_t* b) {
  if (!ds || !a || !b) return;
  size_t n = ds->values.size();
  if (a->values.size() != n || b->values.size() != n) return;
  for (size_t i = 0; i < n; i++) ds->values[i] = a->values[i] + b->values[i];
  ds->tick = a->tick + b->tick;
}

int cpc_buf_get(cpc_t*, cpc_buf_t* buf, int index, uint64_t* val) {
  if (!buf || !val || index < 0 || static_cast<size_t>(index) >= buf->values.size()) {
    return fail(EINVAL);
  }
  *val = buf->values[index];
  return 0;
}

uint64_t cpc_buf_tick(cpc_t*, cpc_buf_t* buf) {
  return buf ? buf->tick : 0;
}

int cpc_bind_cpu(cpc_t* cpc, int cpuid, cpc_set_t* set, unsigned) {
  static const char* const fn = "cpc_bind_cpu";
  if (!set) return fail(EINVAL);
  if (set->binding) return fail(EBUSY);
  processorid_t previous = pinned_processor();
  if (pin_thread_to_processor(cpuid) != 0) return -1;
  std::string why;
  int err;
  try {
    err = cpc->backend->bind_cpu(cpuid, set->reqs, &set->binding, &why);
  } catch (const std::bad_alloc&) {
    err = ENOMEM;
  }
  if (err != 0) {
    set->binding.reset();
    restore_pin(previous);
    if (!why.empty()) report(cpc, fn, "%s\n", why.c_str());
    return fail(err);
  }
  set->cpuid = cpuid;
  set->previous_pin = previous;
  return 0;
}

int cpc_set_sample(cpc_t* cpc, cpc_set_t* set, cpc_buf_t* buf) {
  if (!set || !buf || !set->binding || buf->values.size() != set->reqs.size()) return fail(EINVAL);
  uint64_t tick = 0;
  int err = cpc->backend->sample(*set->binding, set->reqs, buf->values.data(), &tick);
  if (err != 0) return fail(err);
  buf->tick = tick;
  return 0;
}

int cpc_unbind(cpc_t* cpc, cpc_set_t* set) {
  if (!set || !set->binding) return fail(EINVAL);
  int err = cpc->backend->unbind(*set->binding);
  set->binding.reset();
  set->cpuid = -1;
  restore_pin(set->previous_pin);
  return err != 0 ? fail(err) : 0;
}
