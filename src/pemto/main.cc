// Pemto: per-interval CPU hardware-counter metrics of every usable CPU.
#include "pemto/counters/platform.h"
#include "pemto/pemto.h"

int main(int argc, char** argv) {
  // The only reading of the environment: everything below is handed this.
  return pemto_main(argc, argv, platform_from_environment());
}
