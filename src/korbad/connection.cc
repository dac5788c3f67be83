#include "korbad/connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "korbad/access_file.h"
#include "korbad/korbad_home.h"
#include "korbad/log.h"
#include "korbad/process_tree.h"
#include "korbad/request.h"
#include "korbad/signals.h"

namespace {

// The reply before the command's output: small lines gathered into few sends.
class Reply {
 public:
  explicit Reply(int sock) : sock_(sock) {}

  void add(std::string_view text) {
    if (text.size() > sizeof(buf_) - len_) flush();
    if (text.size() > sizeof(buf_)) {
      if (ok_) ok_ = send_all(sock_, text.data(), text.size());
      return;
    }
    memcpy(buf_ + len_, text.data(), text.size());
    len_ += text.size();
  }

  // "HEAD WORD)\n": every status line ends with the command word in brackets.
  void status(std::string_view head, std::string_view word) {
    add(head);
    add(word);
    add(")\n");
  }

  // The list lines, "STAT: NAME\n", for check_access.
  ListSink list_sink() { return ListSink{listed, this}; }

  // Returns false once a send has failed (the client is gone).
  bool flush() {
    if (ok_ && len_ > 0) ok_ = send_all(sock_, buf_, len_);
    len_ = 0;
    return ok_;
  }

 private:
  static void listed(void* reply, std::string_view name) {
    Reply* r = static_cast<Reply*>(reply);
    r->add("STAT: ");
    r->add(name);
    r->add("\n");
  }

  int sock_;
  char buf_[4096];
  size_t len_ = 0;
  bool ok_ = true;
};

void close_connection() {
  if (fd_cmd >= 0) close(fd_cmd);
  fd_cmd = -1;
}

long monotonic_ms() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Waits until the client has sent something (or closed, or failed) for at
// most timeout seconds; false if it has not. A client that never sends
// would otherwise hold its process, and one of the listener's places, for
// ever.
bool wait_for_request(int sock, int timeout) {
  if (timeout <= 0) return true;
  long deadline = monotonic_ms() + timeout * 1000L;
  for (;;) {
    long left = deadline - monotonic_ms();
    if (left <= 0) return false;
    struct pollfd p = {sock, POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    // Any other failure is left for the read to report.
    if (n < 0 && errno != EINTR) return true;
  }
}

}  // namespace

ssize_t Nread(int sock, char* buf, size_t size) {
  ssize_t n;
  do {
    n = read(sock, buf, size - 1);
  } while (n < 0 && errno == EINTR);
  buf[n > 0 ? n : 0] = '\0';
  return n;
}

bool check_command(char* request, const char* client, int sock, RunningCommand* cmd, char* buf,
                   size_t cap) {
  sanitise_request(request);
  ParsedRequest parsed;
  parse_request(request, &parsed);
  const char* word = parsed.word;
  bool list_mode = strcmp(word, kListWord) == 0;

  Reply reply(sock);
  if (list_mode) reply.status("STAT *** LIST COMMAND (", word);
  FILE* access = fopen(korbad_paths().access, "re");
  if (access == nullptr) {
    reply.status("STAT *** BAD COMMAND (service not configured: ", word);
    reply.flush();
    return false;
  }
  char path[kPathMax + 1];
  ListSink list = reply.list_sink();
  AccessVerdict verdict = check_access(access, client, word, list_mode ? &list : nullptr, path);
  fclose(access);
  if (list_mode) {
    reply.status("STAT *** LIST END (", word);
    reply.flush();
    return false;
  }
  if (verdict != AccessVerdict::kFound) {
    reply.status("STAT *** BAD COMMAND (no access: ", word);
    reply.flush();
    return false;
  }

  char command_line[kCommandLineMax + 1];
  build_command_line(path, parsed.args, command_line);
  if (!start_command(command_line, cmd)) {
    reply.status("STAT *** BAD COMMAND (cannot start: ", word);
    reply.flush();
    return false;
  }
  size_t have = 0;
  switch (wait_first_line(cmd->out, sock, buf, cap, &have)) {
    case FirstLine::kNoOutput:
      reply.status("STAT *** BAD COMMAND (not found: ", word);
      reply.flush();
      // A command may close its output and go on; the client need not wait.
      close_connection();
      finish_command(cmd);
      return false;
    case FirstLine::kClientGone:
      kill_chld();
      drop_command(cmd);
      return false;
    case FirstLine::kReady:
      break;
  }
  reply.status("STAT *** OK COMMAND (cmd: ", word);
  reply.add(std::string_view(buf, have));
  if (!reply.flush()) {
    kill_chld();
    drop_command(cmd);
    return false;
  }
  return true;
}

void serve_connection(int sock, int request_timeout) {
  fd_cmd = sock;
  // The listening socket is the listener's alone: held here it would keep
  // the port bound after the listener is gone.
  close(fd);
  fd = -1;
  // Orphans of the command's processes come to us, so the tree clean-up
  // still finds them after their parent has died.
  prctl(PR_SET_CHILD_SUBREAPER, 1);

  struct sockaddr_in peer = {};
  socklen_t peer_len = sizeof(peer);
  if (getpeername(sock, reinterpret_cast<struct sockaddr*>(&peer), &peer_len) < 0) {
    err("getpeername");
  }
  char client[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &peer.sin_addr, client, sizeof(client));

  static char request[kRequestMax + 1];
  if (!wait_for_request(sock, request_timeout)) {
    errno = ETIMEDOUT;
    err("Nread");
  }
  errno = 0;
  if (Nread(sock, request, sizeof(request)) < 1) err("Nread");
  // The request is text: a NUL byte ends it.
  size_t request_len = strlen(request);
  log_connect(client, std::string_view(request, request_len));
  char head[kRequestHeadMax + 1];
  size_t head_len = request_len < kRequestHeadMax ? request_len : kRequestHeadMax;
  memcpy(head, request, head_len);
  head[head_len] = '\0';

  // Bounded copy buffer for the output; large pieces keep throughput up.
  static char buf[64 * 1024];
  RunningCommand cmd;
  if (check_command(request, client, sock, &cmd, buf, sizeof(buf))) {
    if (relay_output(cmd.out, sock, buf, sizeof(buf)) == RelayEnd::kClientGone) {
      kill_chld();
      drop_command(&cmd);
    } else {
      // The client learns of the end at once; the shell is waited for after.
      drop_command(&cmd);
      close_connection();
      finish_command(&cmd);
    }
  }
  close_connection();
  log_exit(client, std::string_view(head, head_len));
  exit(0);
}
