// Vandrel: the page interpreter, run once per request.
#include "vandrel/services/request.h"

int main(int argc, char** argv) { X_main(argc, argv); }
