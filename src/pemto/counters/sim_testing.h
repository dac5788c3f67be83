// Test helpers: simulated processors whose time and clock the test controls,
// capture of error-handler messages, and a readable view of a set's requests.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pemto/counters/cpc_backend.h"
#include "pemto/counters/sim_backend.h"

struct SimHandle {
  cpc_t* cpc = nullptr;
  SimBackend* backend = nullptr;
  std::shared_ptr<uint64_t> now = std::make_shared<uint64_t>(0);  // nanoseconds
};

inline SimHandle open_sim(const std::string& name, int clock_mhz = 1000) {
  SimHandle h;
  std::shared_ptr<uint64_t> now = h.now;
  auto backend = std::make_unique<SimBackend>(
      name, [now] { return *now; }, [clock_mhz](int) { return clock_mhz; });
  h.backend = backend.get();
  h.cpc = cpc_open_backend(CPC_VER_CURRENT, std::move(backend));
  return h;
}

inline std::string& captured_messages() {
  static std::string text;
  return text;
}

inline std::string& captured_function() {
  static std::string fn;
  return fn;
}

inline void capture_message(const char* fn, int, const char* fmt, va_list ap) {
  char buf[2048];
  vsnprintf(buf, sizeof buf, fmt, ap);
  captured_messages() += buf;
  captured_function() = fn;
}

// Writes messages to standard error, for death tests.
inline void print_message(const char* fn, int, const char* fmt, va_list ap) {
  fprintf(stderr, "%s: ", fn);
  vfprintf(stderr, fmt, ap);
}

struct RequestView {
  std::string event;
  unsigned flags;
  uint64_t preset;
  std::vector<std::pair<std::string, uint64_t>> attrs;
};

inline std::vector<RequestView> requests_of(cpc_t* cpc, cpc_set_t* set) {
  std::vector<RequestView> out;
  cpc_walk_requests(cpc, set, &out,
                    [](void* arg, int, const char* event, uint64_t preset, unsigned flags,
                       int nattrs, const cpc_attr_t* attrs) {
                      RequestView r{event, flags, preset, {}};
                      for (int i = 0; i < nattrs; i++) {
                        r.attrs.emplace_back(attrs[i].ca_name, attrs[i].ca_val);
                      }
                      static_cast<std::vector<RequestView>*>(arg)->push_back(r);
                    });
  return out;
}
