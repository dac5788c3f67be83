// Hestov: prints a four-line summary of the machine it runs on.
#include <clocale>
#include <cstdio>

#include "hestov/perror_exit.h"
#include "hestov/system_config.h"

int main() {
  // The date follows the user's locale; numbers stay in the C form.
  setlocale(LC_TIME, "");
  if (hestov::print_sys_config(stdout) != 0) hestov::perrorExit("sys: write error");
  return 0;
}
