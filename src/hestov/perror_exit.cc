#include "hestov/perror_exit.h"

#include <cstdio>
#include <cstdlib>

namespace hestov {

void perrorExit(const char* msg) {
  fprintf(stderr, "%s\n", msg);
  exit(1);
}

}  // namespace hestov
