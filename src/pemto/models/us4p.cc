// UltraSPARC IV+: the UltraSPARC III+'s lists and formulas, and its name.
#include "pemto/models/models.h"

US4p::US4p(int nbCounters) : US3p(nbCounters) {}

const char* US4p::getCpuType() const {
  return "UltraSPARC III+ & IV";
}
