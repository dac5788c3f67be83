#include "korbad/signals.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "korbad/log.h"
#include "korbad/process_tree.h"

volatile sig_atomic_t fd = -1;
volatile sig_atomic_t fd_cmd = -1;

void sigpipe(int) {}

void sigchld(int) {
  int saved = errno;
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  errno = saved;
}

void sigterm(int) {
  msg("*** EXIT: got SIGTERM! ***");
  kill_chld();
  if (fd_cmd >= 0) close(fd_cmd);
  if (fd >= 0) close(fd);
  fd_cmd = -1;
  fd = -1;
  if (getpgrp() == getpid()) kill(0, SIGTERM);
  _exit(0);
}

void install_handlers() {
  struct sigaction sa = {};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sa.sa_handler = sigpipe;
  sigaction(SIGPIPE, &sa, nullptr);

  sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  sa.sa_handler = sigchld;
  sigaction(SIGCHLD, &sa, nullptr);

  // Nothing may interrupt the clean-up half way.
  sigfillset(&sa.sa_mask);
  sa.sa_flags = 0;
  sa.sa_handler = sigterm;
  sigaction(SIGTERM, &sa, nullptr);
}
