// Pentium 4 with HyperThreading: the P6's lists and formulas, but not its
// fixed bus clock: the Pentium 4's is read from the device tree.
#include "pemto/models/models.h"

Xeon::Xeon(int nbCounters) : P6(nbCounters) {
  fixedBusClock = 0.0;
}

const char* Xeon::getCpuType() const {
  return "Pentium 4 with HyperThreading";
}
