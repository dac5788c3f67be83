// Pentium 4 with HyperThreading: the P6's lists and formulas.
#include "pemto/models/models.h"

Xeon::Xeon(int nbCounters) : P6(nbCounters) {}

const char* Xeon::getCpuType() const {
  return "Pentium 4 with HyperThreading";
}
