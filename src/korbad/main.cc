// Korbad: the remote statistics command service.
#include "korbad/listener.h"

int main(int argc, char** argv) {
  return korbad_main(argc, argv);
}
