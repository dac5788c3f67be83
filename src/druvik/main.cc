// Druvik: the I/O benchmark.
#include "druvik/druvik.h"

int main(int argc, char** argv) {
  return druvik_main(argc, argv);
}
