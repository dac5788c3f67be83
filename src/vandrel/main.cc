// Vandrel: the page interpreter, run once per request.
#include "request.h"

int main(int argc, char** argv) { X_main(argc, argv); }
