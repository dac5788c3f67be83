// Sennel: the I/O benchmark statistics reporter.
#include "sennel/sennel.h"

int main(int argc, char** argv) {
  return sennel_main(argc, argv);
}
