// Orlmet: the client statistics reporter.
#include "orlmet/orlmet.h"

int main(int argc, char** argv) {
  return orlmet_main(argc, argv);
}
