// UltraSPARC IIIi and IIIi+: the UltraSPARC III's lists and formulas.
#include "pemto/models/models.h"

US3i::US3i(int nbCounters) : US3(nbCounters) {}

const char* US3i::getCpuType() const {
  return "UltraSPARC IIIi & IIIi+";
}
