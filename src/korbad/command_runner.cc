#include "korbad/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "korbad/request.h"

void build_command_line(const char* path, const char* args, char (&out)[kCommandLineMax + 1]) {
  size_t n = 0;
  for (const char* part : {path, " ", args}) {
    size_t len = strlen(part);
    if (len > kCommandLineMax - n) len = kCommandLineMax - n;
    memcpy(out + n, part, len);
    n += len;
  }
  out[n] = '\0';
}

namespace {

constexpr int kPipeSize = 256 * 1024;

// At most this many words fit in a command line of kCommandLineMax.
constexpr int kMaxWords = kCommandLineMax / 2 + 1;

// The environment the shell hands to the programs it runs: ours, with PWD
// set the way the shell sets it (kept if it names the working directory,
// else the physical path).
char* const* shell_environment() {
  static std::vector<std::string> strings;
  static std::vector<char*> env;
  if (!env.empty()) return env.data();
  const char* pwd = getenv("PWD");
  struct stat named, here;
  if (pwd == nullptr || pwd[0] != '/' || stat(pwd, &named) < 0 || stat(".", &here) < 0 ||
      named.st_dev != here.st_dev || named.st_ino != here.st_ino) {
    pwd = nullptr;
  }
  char cwd[4096];
  if (pwd == nullptr && getcwd(cwd, sizeof(cwd)) != nullptr) pwd = cwd;
  if (pwd != nullptr) strings.push_back(std::string("PWD=") + pwd);
  for (char** e = environ; *e != nullptr; ++e) {
    if (strncmp(*e, "PWD=", 4) != 0) strings.emplace_back(*e);
  }
  for (std::string& s : strings) env.push_back(s.data());
  env.push_back(nullptr);
  return env.data();
}

// Starts path with argv and envp, its standard output on out. Returns 0 or
// the error number.
int spawn_with_output(const char* path, char* const argv[], char* const envp[], int out,
                      pid_t* pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawnattr_init(&attr);
  sigset_t none, ours;
  sigemptyset(&none);
  sigemptyset(&ours);
  for (int sig : {SIGPIPE, SIGCHLD, SIGTERM}) sigaddset(&ours, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &ours);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int rc = posix_spawn(pid, path, &actions, &attr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc;
}

}  // namespace

bool split_plain_command(const char* command_line, char* storage, char** argv, int max_words) {
  for (const char* p = command_line; *p != '\0'; ++p) {
    if (*p != ' ' && (*p == '*' || !check_char(static_cast<unsigned char>(*p)))) return false;
  }
  strcpy(storage, command_line);
  int n = 0;
  for (char* word = strtok(storage, " "); word != nullptr; word = strtok(nullptr, " ")) {
    if (n == max_words) return false;
    argv[n++] = word;
  }
  argv[n] = nullptr;
  return n > 0 && strchr(argv[0], '/') != nullptr;
}

bool start_command(const char* command_line, RunningCommand* cmd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) < 0) return false;

  // A line the shell would only split at blanks, naming its program by path,
  // is run without the shell: the program sees the same arguments and
  // environment, and a start costs one program load instead of two. A
  // program that cannot be started that way still goes to the shell, which
  // then reports it (or runs a script without a "#!" line) as it always does.
  char storage[kCommandLineMax + 1];
  char* words[kMaxWords + 1];
  pid_t pid;
  int rc = -1;
  if (split_plain_command(command_line, storage, words, kMaxWords)) {
    rc = spawn_with_output(words[0], words, shell_environment(), fds[1], &pid);
  }
  if (rc != 0) {
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                    const_cast<char*>(command_line), nullptr};
    rc = spawn_with_output("/bin/sh", argv, environ, fds[1], &pid);
  }
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    errno = rc;
    return false;
  }
  // A fast writer fills the default 64 KiB pipe and waits on us at every
  // turn; a larger pipe lets it run longer per wake-up (streaming measured
  // about a third faster). Bounded, and only used as far as output waits.
  fcntl(fds[0], F_SETPIPE_SZ, kPipeSize);
  cmd->pid = pid;
  cmd->out = fds[0];
  return true;
}

void drop_command(RunningCommand* cmd) {
  if (cmd->out >= 0) close(cmd->out);
  cmd->out = -1;
}

void finish_command(RunningCommand* cmd) {
  drop_command(cmd);
  // ECHILD: the SIGCHLD handler (or the tree clean-up) reaped it already.
  while (cmd->pid > 0 && waitpid(cmd->pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  cmd->pid = -1;
}

bool send_all(int client, const void* buf, size_t len) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    ssize_t n = send(client, p, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 1) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

namespace {

enum class Ready { kOutput, kClientGone };

// What we still watch the client for.
struct ClientWatch {
  int fd;
  short events = POLLIN | POLLRDHUP;
};

// Only a reset or closed connection means the client has left. An end of
// its stream means it has finished sending: "nc -q", socat and any client
// that shuts down its sending side after the request still read the reply
// until we close. From then on its input is no longer watched (the end of
// stream would be reported at every poll), but errors and hang-ups are, as
// poll reports them whatever is asked for. They are taken from poll, not
// from recv, which goes on returning the end of stream after a reset.
// TCP shows a full close (FIN) exactly like a half-close until we next write
// and the client's stack answers with a reset, so a client that closes
// plainly while its command is silent is noticed at the command's next
// output; a close that resets (unread data, SO_LINGER 0) is seen at once.
// Whatever a client sends after its request is not part of the protocol and
// is dropped.
bool client_gone(ClientWatch* client, short revents) {
  if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return true;
  char scratch[512];
  ssize_t n = recv(client->fd, scratch, sizeof(scratch), MSG_DONTWAIT);
  if (n == 0) client->events = 0;
  if (n >= 0) return false;
  return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

// Waits until the command has output (or has ended) or the client is gone.
Ready wait_for_output(int out, ClientWatch* client) {
  for (;;) {
    struct pollfd p[2] = {{out, POLLIN, 0}, {client->fd, client->events, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Ready::kOutput;  // cannot happen with valid descriptors; let read decide
    }
    if (p[1].revents != 0 && client_gone(client, p[1].revents)) return Ready::kClientGone;
    if (p[0].revents != 0) return Ready::kOutput;
  }
}

// One read of the command's output: bytes read, or 0 at its end.
size_t read_output(int out, char* buf, size_t cap) {
  for (;;) {
    ssize_t n = read(out, buf, cap);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;
  }
}

bool first_line_complete(const char* buf, size_t have) {
  return have >= kFirstLineMax || memchr(buf, '\n', have) != nullptr;
}

}  // namespace

FirstLine wait_first_line(int out, int client, char* buf, size_t cap, size_t* have) {
  *have = 0;
  ClientWatch watch{client};
  while (!first_line_complete(buf, *have)) {
    if (wait_for_output(out, &watch) == Ready::kClientGone) return FirstLine::kClientGone;
    size_t n = read_output(out, buf + *have, cap - *have);
    if (n == 0) return *have > 0 ? FirstLine::kReady : FirstLine::kNoOutput;
    *have += n;
  }
  return FirstLine::kReady;
}

RelayEnd relay_output(int out, int client, char* buf, size_t cap) {
  ClientWatch watch{client};
  for (;;) {
    if (wait_for_output(out, &watch) == Ready::kClientGone) return RelayEnd::kClientGone;
    size_t n = read_output(out, buf, cap);
    if (n == 0) return RelayEnd::kOutputEnded;
    if (!send_all(client, buf, n)) return RelayEnd::kClientGone;
  }
}
