// What a source of counters provides to the counter library (cpc.h). The
// library keeps sets, requests and buffers and checks requests against what
// the backend offers; the backend programs and reads the counters.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pemto/counters/cpc.h"

// A request as the library keeps it.
struct CpcRequest {
  std::string event;
  uint64_t preset = 0;
  unsigned flags = 0;
  int picnum = -1;  // counter named by the "picnum" attribute, -1 when none
  std::vector<std::string> attr_names;
  std::vector<uint64_t> attr_values;
};

// Whatever a backend keeps while a set is bound.
class CpcBinding {
 public:
  virtual ~CpcBinding() = default;
};

class CpcBackend {
 public:
  virtual ~CpcBackend() = default;

  virtual const char* kind() const = 0;  // "simulated", "perf_event"
  virtual const std::string& cciname() const = 0;
  virtual const std::string& cpuref() const = 0;
  virtual unsigned npic() const = 0;
  // Request attributes besides "picnum", in the processor's order.
  virtual const std::vector<std::string>& attributes() const = 0;
  // Events counter pic can count; empty for a counter that does not exist.
  virtual const std::vector<std::string>& events(unsigned pic) const = 0;
  // Whether a value fits the attribute; *why says why not.
  virtual bool attribute_ok(const std::string& name, uint64_t value, std::string* why) const;

  // The three calls below return 0 or an errno value and may be called from
  // several threads at once for different sets.

  // Starts counting reqs on processor cpuid; *why explains a failure.
  virtual int bind_cpu(int cpuid, const std::vector<CpcRequest>& reqs,
                       std::unique_ptr<CpcBinding>* binding, std::string* why) = 0;
  // Counts since the bind (presets included), one per request, and ticks.
  virtual int sample(CpcBinding& binding, const std::vector<CpcRequest>& reqs, uint64_t* values,
                     uint64_t* tick) = 0;
  // Stops counting; the binding is dropped afterwards whatever the result.
  virtual int unbind(CpcBinding& binding) = 0;
};

// Opens a handle on the given backend (tests, and cpc_open itself).
cpc_t* cpc_open_backend(int ver, std::unique_ptr<CpcBackend> backend);
