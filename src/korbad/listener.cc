#include "korbad/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "korbad/command_line.h"
#include "korbad/connection.h"
#include "korbad/korbad_home.h"
#include "korbad/log.h"
#include "korbad/signals.h"

namespace {

constexpr unsigned kBindRetrySeconds = 30;

// A daemon started with a standard descriptor closed would hand that number
// to the first socket it opens, and its log would then go to a client.
void keep_standard_descriptors_open() {
  for (int i = 0; i <= STDERR_FILENO; ++i) {
    if (fcntl(i, F_GETFD) < 0 && open("/dev/null", O_RDWR) < 0) exit(-2);
  }
}

// Errors of one pending connection that Linux reports through accept; they
// say nothing about the listening socket, so the next client is served.
bool connection_error(int e) {
  switch (e) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case ETIMEDOUT:
      return true;
    default:
      return false;
  }
}

// Shortages that pass as connections end.
bool resource_shortage(int e) {
  return e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM;
}

void pause_ms(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) < 0 && errno == EINTR) {
  }
}

// Creates the socket and binds it, retrying every 30 s while the address
// cannot be had (the port is still held, or the address is not up yet).
void bind_with_retry(const struct sockaddr_in& sinme) {
  for (;;) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) err("socket");
    if (bind(fd, reinterpret_cast<const struct sockaddr*>(&sinme), sizeof(sinme)) == 0) return;
    msg("-- Bind Error, will try again...");
    close(fd);
    fd = -1;
    sleep(kBindRetrySeconds);
  }
}

// Closes a connection that finds every place taken, at once: queued, it
// would wait for a place with no word to the client.
void refuse(int sock, const struct sockaddr_in& peer, int limit) {
  char client[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &peer.sin_addr, client, sizeof(client));
  close(sock);
  LogLine line;
  line.add("-- Too many connections (").add_int(limit).add("): refused [").add(client).add("]");
  msg(std::string_view(line.data(), line.size()));
}

[[noreturn]] void accept_loop(const ListenOptions& options) {
  sigset_t chld, unblocked;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  track_connections(options.max_connections);
  for (;;) {
    struct sockaddr_in peer = {};
    socklen_t peer_len = sizeof(peer);
    int sock = accept4(fd, reinterpret_cast<struct sockaddr*>(&peer), &peer_len, SOCK_CLOEXEC);
    if (sock < 0) {
      int e = errno;
      if (connection_error(e)) continue;
      if (!resource_shortage(e)) err("accept");
      LogLine line;
      line.add("-- accept: ").add(strerror(e)).add(", will try again...");
      msg(std::string_view(line.data(), line.size()));
      pause_ms(100);
      continue;
    }
    // The count changes in the SIGCHLD handler, so it is held still from the
    // check until the new process is counted.
    sigprocmask(SIG_BLOCK, &chld, &unblocked);
    // A connection process that has just ended may not be reaped yet.
    if (connections_full()) reap_children();
    if (connections_full()) {
      sigprocmask(SIG_SETMASK, &unblocked, nullptr);
      refuse(sock, peer, options.max_connections);
      continue;
    }
    fd_cmd = sock;
    pid_t pid = fork();
    if (pid == 0) {
      track_connections(0);
      sigprocmask(SIG_SETMASK, &unblocked, nullptr);
      serve_connection(sock, options.request_timeout);
    }
    if (pid > 0) connections_add(pid);
    sigprocmask(SIG_SETMASK, &unblocked, nullptr);
    // Also when fork failed: the connection is dropped without a word.
    close(sock);
    fd_cmd = -1;
  }
}

}  // namespace

int korbad_main(int argc, char** argv) {
  keep_standard_descriptors_open();
  ListenOptions options;
  if (!parse_command_line(argc, argv, getpid(), &options, stderr)) {
    print_usage(stderr, argv[0]);
    return -2;
  }

  const char* home = getenv("KORBAD_HOME");
  struct stat st;
  if (!korbad_use_home(home)) {
    printf("Not found access file: %s/access\n", home);
    return -2;
  }
  if (stat(korbad_paths().access, &st) < 0) {
    printf("Not found access file: %s\n", korbad_paths().access);
    return -2;
  }

  // Load the time zone once here rather than in every connection process.
  tzset();
  setpgrp();
  // Orphaned processes of commands come back to the service, so they are
  // reaped here and still count as ours when the service is stopped.
  prctl(PR_SET_CHILD_SUBREAPER, 1);

  struct sockaddr_in sinme = {};
  sinme.sin_family = AF_INET;
  sinme.sin_port = htons(static_cast<uint16_t>(options.port));
  sinme.sin_addr.s_addr = htonl(INADDR_ANY);
  if (options.has_address) {
    sinme.sin_addr.s_addr = inet_addr(options.address.c_str());
    if (sinme.sin_addr.s_addr == INADDR_NONE) {
      printf("## Bad IP address: %s\n\n", options.address.c_str());
      fflush(stdout);
      print_usage(stderr, argv[0]);
      return -2;
    }
  }

  bind_with_retry(sinme);
  install_handlers();
  // A backlog of 0 would turn away all but one of many clients that connect
  // at once, leaving them to the kernel's SYN retries (1 s, 3 s, ...).
  if (listen(fd, SOMAXCONN) < 0) err("listen");
  msg("*** READY for Service! ***");
  accept_loop(options);
}
