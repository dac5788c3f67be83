// Pemto's event specifications: the parser of the counter library's
// vocabulary (cpc_strtoset) through the counter-set groups, as the start-up
// builds them from a model's list and the counting-mode suffix of -k or -a,
// on the simulated processors (platform_from with PEMTO_SIMULATE, as the
// start-up reads it), so no counter of the host is touched. A group is then
// cloned as each sampling thread's is, and the clone's counts are added
// back, as at the end of a pass.
//
// Input: byte 0 picks the processor (past the last known one: a name the
// simulator does not know); byte 1 the sibling counting (bit 0) and the
// suffix (bits 1-2); the rest is the list of specifications, one a line.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pemto/counters/cpc.h"
#include "pemto/counters/platform.h"
#include "pemto/counters/processor.h"
#include "pemto/counters/sim_backend.h"
#include "pemto/pemto.h"
#include "pemto/setgrp.h"
#include "pemto/strtoset.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

// Messages are formatted as the program's handler formats them, then
// dropped: their arguments must match their formats.
void quiet(const char*, int, const char* fmt, va_list ap) {
  char line[1024];
  vsnprintf(line, sizeof line, fmt, ap);
}

constexpr size_t kMaxSets = 8;
constexpr size_t kMaxSpec = 1024;

struct Processors {
  std::vector<std::string> names;
  std::vector<cpc_t*> handles;  // opened when first used, kept as the program keeps its one
};

Processors& processors() {
  static Processors* p = [] {
    Processors* made = new Processors;
    made->names = sim_processor_names();
    made->names.push_back("Fuzzed unknown processor");
    made->handles.assign(made->names.size(), nullptr);
    return made;
  }();
  return *p;
}

cpc_t* handle(size_t index) {
  Processors& p = processors();
  if (p.handles[index] != nullptr) return p.handles[index];
  const std::string& name = p.names[index];
  Platform platform = platform_from([&name](const char* var) -> const char* {
    if (strcmp(var, "PEMTO_SIMULATE") == 0) return name.c_str();
    if (strcmp(var, "PEMTO_SIMULATE_CPUS") == 0) return "2";
    return nullptr;
  });
  check(platform.error.empty());
  processor_services_configure(platform.processors);
  cpc_t* cpc = cpc_open(CPC_VER_CURRENT, platform);
  check(cpc != nullptr);
  cpc_seterrhndlr(cpc, quiet);
  p.handles[index] = cpc;
  return cpc;
}

struct RequestCheck {
  unsigned npic;
  int count;
};

void check_request(void* arg, int index, const char* event, uint64_t, unsigned flags, int nattrs,
                   const cpc_attr_t* attrs) {
  RequestCheck* c = static_cast<RequestCheck*>(arg);
  check(index == c->count++);
  check(event != nullptr && strlen(event) < static_cast<size_t>(CPC_MAX_EVENT_LEN));
  check((flags & ~(CPC_COUNT_USER | CPC_COUNT_SYSTEM)) == 0);
  check(nattrs >= 0);
  for (int i = 0; i < nattrs; i++) {
    check(attrs[i].ca_name != nullptr);
    if (strcmp(attrs[i].ca_name, "picnum") == 0) check(attrs[i].ca_val < c->npic);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  strtoset_errfn = quiet;
  size_t index = data[0] % processors().names.size();
  int smt = data[1] & 1;
  const char* suffixes[] = {"", konly_string, uk_string, ""};
  const char* suffix = suffixes[(data[1] >> 1) & 3];
  cpc_t* cpc = handle(index);

  std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::vector<std::string> specs;
  for (size_t start = 0; start <= text.size() && specs.size() < kMaxSets;) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string spec = text.substr(start, end - start);
    // A specification is a C string: a NUL ends it.
    spec.resize(strnlen(spec.c_str(), kMaxSpec));
    specs.push_back(spec);
    start = end + 1;
  }

  cpc_setgrp_t* sgrp = cpc_setgrp_new(cpc, smt);
  check(sgrp != nullptr);
  int errors = 0;
  for (const std::string& spec : specs) {
    int before = cpc_setgrp_numsets(sgrp);
    int errors_before = errors;
    cpc_setgrp_newset(sgrp, with_suffix(spec, suffix).c_str(), &errors);
    check(cpc_setgrp_numsets(sgrp) - before + (errors - errors_before) == 1);
  }

  int nsets = cpc_setgrp_numsets(sgrp);
  cpc_setgrp_reset(sgrp);
  for (int i = 0; i < nsets; i++) {
    cpc_set_t* set = cpc_setgrp_getset(sgrp);
    check(set != nullptr && cpc_setgrp_getname(sgrp) != nullptr);
    const char* hdr = cpc_setgrp_gethdr(sgrp);
    check(hdr != nullptr);
    RequestCheck rc = {cpc_npic(cpc), 0};
    cpc_walk_requests(cpc, set, &rc, check_request);
    check(rc.count <= static_cast<int>(rc.npic));
    check(strlen(hdr) <= static_cast<size_t>(rc.count) * 10);
    cpc_buf_t **data1, **data2, **scratch;
    check(cpc_setgrp_getbufs(sgrp, &data1, &data2, &scratch) == rc.count);
    for (int r = 0; r < rc.count; r++) {
      uint64_t value;
      check(cpc_buf_get(cpc, *data1, r, &value) == 0);
    }
    cpc_setgrp_nextset(sgrp);
  }

  if (nsets > 0) {
    cpc_setgrp_t* clone = cpc_setgrp_clone(sgrp);
    check(clone != nullptr && cpc_setgrp_numsets(clone) == nsets);
    cpc_setgrp_accum(sgrp, clone);
    cpc_setgrp_delset(clone);
    cpc_setgrp_free(clone);
  }
  cpc_setgrp_free(sgrp);
  return 0;
}
