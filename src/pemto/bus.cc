#include "pemto/bus.h"

#include <cstdint>
#include <cstdio>

#include "pemto/counters/devinfo.h"

namespace {

struct BusWalk {
  di_node_t root;
  di_prom_handle_t ph;
  double* result;
};

}  // namespace

int inspect_node_clock_frequency(di_node_t node, void* arg) {
  BusWalk* walk = static_cast<BusWalk*>(arg);
  unsigned char* bytes = nullptr;
  int n = di_prom_prop_lookup_bytes(walk->ph, node, "clock-frequency", &bytes);
  if (n < 4 || !bytes) return DI_WALK_CONTINUE;
  // A big-endian cell in Hz. Read unsigned and rounded in 64 bits, so that
  // clocks above 2.1 GHz neither turn negative nor overflow.
  uint64_t hz = static_cast<uint64_t>(bytes[0]) << 24 | static_cast<uint64_t>(bytes[1]) << 16 |
                static_cast<uint64_t>(bytes[2]) << 8 | static_cast<uint64_t>(bytes[3]);
  *walk->result = static_cast<double>((hz + 500000) / 1000000);
  return DI_WALK_TERMINATE;
}

double get_bus_clock() {
  double result = 0.0;
  di_node_t root = di_init("/", DINFOCPYALL);
  if (root == DI_NODE_NIL) {
    perror("di_init");
    return -1.0;
  }
  di_prom_handle_t ph = di_prom_init();
  if (ph == DI_PROM_HANDLE_NIL) {
    perror("di_prom_init");
    di_fini(root);
    return -1.0;
  }
  BusWalk walk = {root, ph, &result};
  if (di_walk_node(root, DI_WALK_CLDFIRST, &walk, inspect_node_clock_frequency) < 0) {
    perror("di_walk_node");
    result = -1.0;
  }
  di_prom_fini(ph);
  di_fini(root);
  return result;
}
