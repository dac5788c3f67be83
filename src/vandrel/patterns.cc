#include "patterns.h"

#include <cstring>

int X_CMPpatt(const char* patt, const char* text) {
  return std::strcmp(patt, text) == 0 ? 0 : -1;
}
