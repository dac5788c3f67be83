#include "korbad/signals.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "korbad/command_line.h"
#include "korbad/log.h"
#include "korbad/process_tree.h"

volatile sig_atomic_t fd = -1;
volatile sig_atomic_t fd_cmd = -1;

namespace {

// Process ids of the running connection processes; 0 marks a free entry.
// Orphaned commands are reaped here too, and are simply not found.
pid_t connection_pids[kMaxConnectionsLimit];
int connection_limit = 0;
int connection_count = 0;

void forget_connection(pid_t pid) {
  for (int i = 0; i < connection_limit; ++i) {
    if (connection_pids[i] == pid) {
      connection_pids[i] = 0;
      --connection_count;
      return;
    }
  }
}

}  // namespace

void track_connections(int limit) {
  connection_limit = limit < kMaxConnectionsLimit ? limit : kMaxConnectionsLimit;
  connection_count = 0;
  for (pid_t& pid : connection_pids) pid = 0;
}

bool connections_full() {
  return connection_count >= connection_limit;
}

void connections_add(pid_t pid) {
  for (int i = 0; i < connection_limit; ++i) {
    if (connection_pids[i] == 0) {
      connection_pids[i] = pid;
      ++connection_count;
      return;
    }
  }
}

void reap_children() {
  pid_t pid;
  while ((pid = waitpid(-1, nullptr, WNOHANG)) > 0) forget_connection(pid);
}

void sigpipe(int) {}

void sigchld(int) {
  int saved = errno;
  reap_children();
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
