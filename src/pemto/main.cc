// Pemto: per-interval CPU hardware-counter metrics of every usable CPU.
#include "pemto/pemto.h"

int main(int argc, char** argv) {
  return pemto_main(argc, argv);
}
