#include "korbad/process_tree.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>

#include "base/leading_int.h"
#include "korbad/korbad_home.h"
#include "korbad/log.h"

// A pass finds what the previous one missed: a process that forked between
// the listing and its kill, or one whose parent died and that was then
// handed to us as subreaper. The bound keeps a process that will not die
// (stuck in the kernel) from holding us forever.
static constexpr int kMaxPasses = 16;

bool FdLineReader::next(char (&line)[kListerLineMax + 1], size_t* len) {
  size_t n = 0;
  bool any = false;
  for (;;) {
    if (pos_ == end_) {
      ssize_t got = read(fd_, buf_, sizeof(buf_));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      pos_ = 0;
      end_ = static_cast<size_t>(got);
    }
    any = true;
    char c = buf_[pos_++];
    if (c == '\n') break;
    if (n < kListerLineMax) line[n++] = c;
  }
  line[n] = '\0';
  *len = n;
  return any;
}

int gather_pids(int fd, ListerKind kind, pid_t self, pid_t lister, pid_t* out, int max) {
  FdLineReader reader(fd);
  char line[kListerLineMax + 1];
  size_t len;
  bool past_self = kind == ListerKind::kDescendants;
  int n = 0;
  while (n < max && reader.next(line, &len)) {
    long value = leading_int64(line, len);
    if (!past_self) {
      past_self = value == self;
      continue;
    }
    if (value < 2 || value > INT_MAX || value == self || value == lister) continue;
    out[n++] = static_cast<pid_t>(value);
  }
  return n;
}

namespace {

// Runs the lister for self and gathers one pass of process ids. The lister
// is executed directly, not through a shell, so a home directory with blanks
// or shell syntax in its name is taken literally.
int run_lister(const char* path, ListerKind kind, pid_t self, pid_t* out, int max) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) < 0) return -1;
  LogLine pid_text;  // "%d" and a NUL, without stdio
  pid_text.add_int(self).add(std::string_view("", 1));
  char* argv[] = {const_cast<char*>(path), const_cast<char*>(pid_text.data()), nullptr};

  sigset_t all, old;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &old);
  pid_t lister = _Fork();
  if (lister == 0) {
    // Our handlers must not run in the child before it becomes the lister.
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGTERM, SIGCHLD, SIGPIPE}) sigaction(sig, &dfl, nullptr);
    if (fds[1] == STDOUT_FILENO) {
      fcntl(STDOUT_FILENO, F_SETFD, 0);
    } else if (dup2(fds[1], STDOUT_FILENO) < 0) {
      _exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(path, argv, environ);
    _exit(127);
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
  close(fds[1]);
  int n = lister < 0 ? -1 : gather_pids(fds[0], kind, self, lister, out, max);
  // A lister that still has more to say ends on the closed pipe.
  close(fds[0]);
  if (lister > 0) {
    while (waitpid(lister, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  return n;
}

}  // namespace

int kill_chld() {
  int saved_errno = errno;
  const KorbadPaths& paths = korbad_paths();
  const char* lister = nullptr;
  ListerKind kind = ListerKind::kDescendants;
  if (access(paths.chld_script, F_OK) == 0) {
    lister = paths.chld_script;
  } else if (access(paths.ptree, F_OK) == 0) {
    lister = paths.ptree;
    kind = ListerKind::kPtree;
  }
  int killed = 0;
  if (lister != nullptr) {
    // The lister is our child: keep the SIGCHLD handler from reaping it
    // before we do.
    sigset_t chld, old;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, &old);
    pid_t self = getpid();
    pid_t pids[kPidsPerPass];
    for (int pass = 0; pass < kMaxPasses; ++pass) {
      int n = run_lister(lister, kind, self, pids, kPidsPerPass);
      if (n <= 0) break;
      for (int i = 0; i < n; ++i) {
        pid_t pid = kind == ListerKind::kDescendants ? pids[i] : pids[n - 1 - i];
        if (kill(pid, SIGKILL) == 0) ++killed;
      }
      // Reap what died among our own children, so that the next listing
      // shows only what is still alive.
      while (waitpid(-1, nullptr, WNOHANG) > 0) {
      }
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
  }
  errno = saved_errno;
  return killed;
}
