// Vandrel: the page interpreter, run once per request. The lower rooms hold
// the words of the language; the higher rooms hand them what runs them, here,
// before the first page line.
#include <cstdio>

#include "vandrel/services/request.h"
#include "vandrel/services/service_commands.h"
#include "vandrel/statements/page_values.h"

int main(int argc, char** argv) {
  if (!X_install_page_values() || !X_install_services()) {
    std::fputs("Vandrel: a room supplies a word the language does not have\n", stderr);
    return 70;  // EX_SOFTWARE
  }
  X_main(argc, argv);
}
