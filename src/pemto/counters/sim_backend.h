// Simulated processors: each processor name the reporter knows, with its
// number of counters, the events each counter counts and the request
// attributes it takes. Counts are synthetic and deterministic: every event
// has a rate per cycle (nudged per event and CPU, split between user and
// system mode), and a set that counted for t seconds on a CPU clocked at f MHz
// has ticks = t * f * 10^6 and counts = ticks * rate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pemto/counters/cpc_backend.h"

struct Platform;

// Nominal clock in MHz of a simulated processor; 0 for a name it does not know.
int sim_processor_clock(const std::string& name);

// Names of every simulated processor.
std::vector<std::string> sim_processor_names();

class SimBackend : public CpcBackend {
 public:
  using NowFn = std::function<uint64_t()>;      // monotonic nanoseconds
  using ClockFn = std::function<int(int cpu)>;  // MHz of a processor, 0 when unknown

  // An unknown name gives a processor with two counters that count nothing,
  // which the reporter does not recognise.
  SimBackend(const std::string& name, NowFn now, ClockFn clock);

  // Makes operations fail on a processor, from a list such as
  // "bind@3,sample@1,unbind@*" (op@cpu, * for every processor). False for a
  // malformed list, which changes nothing.
  bool set_failures(const std::string& spec);

  // Share of an event's counts in user mode; the rest is system mode.
  static constexpr double kUserShare = 0.85;
  // The rate per cycle of event on cpu in full (user and system) mode, 0 when
  // the processor has no such event.
  double rate(const std::string& event, int cpu) const;

  const char* kind() const override { return "simulated"; }
  const std::string& cciname() const override { return name_; }
  const std::string& cpuref() const override { return ref_; }
  unsigned npic() const override { return npic_; }
  const std::vector<std::string>& attributes() const override { return attrs_; }
  const std::vector<std::string>& events(unsigned pic) const override;
  bool attribute_ok(const std::string& name, uint64_t value, std::string* why) const override;
  int bind_cpu(int cpuid, const std::vector<CpcRequest>& reqs, std::unique_ptr<CpcBinding>* binding,
               std::string* why) override;
  int sample(CpcBinding& binding, const std::vector<CpcRequest>& reqs, uint64_t* values,
             uint64_t* tick) override;
  int unbind(CpcBinding& binding) override;

 private:
  struct Failures {
    std::vector<int> bind, sample, unbind;  // processors; -1 stands for all
  };
  static bool fails(const std::vector<int>& cpus, int cpu);

  std::string name_, ref_;
  unsigned npic_ = 2;
  int nominal_clock_ = 0;
  std::vector<std::string> attrs_;
  std::vector<uint64_t> attr_max_;
  std::vector<std::vector<std::string>> pic_events_;
  std::vector<std::pair<std::string, double>> rates_;
  Failures failures_;
  NowFn now_;
  ClockFn clock_;
};

// The backend for cpc_open: the platform's simulated processor, its failures
// and its clock, and the processor services' clocks. Null with *err set when
// the failure list is malformed.
std::unique_ptr<CpcBackend> make_sim_backend(const Platform& platform, int* err);
