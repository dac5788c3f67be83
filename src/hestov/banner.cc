#include "hestov/banner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>

#include "hestov/findstr.h"

namespace hestov {

bool banner_command(const char* prtconf_path, char* cmd, size_t size) {
  size_t n = 0;
  auto put = [&](const char* s) {
    for (; *s != '\0'; ++s) {
      if (n + 1 >= size) return false;
      cmd[n++] = *s;
    }
    return true;
  };
  // Single quotes take everything literally; a quote itself is closed,
  // escaped and reopened, so no path can reach the shell as syntax.
  bool ok = put("'");
  for (const char* p = prtconf_path; ok && *p != '\0'; ++p) {
    char one[2] = {*p, '\0'};
    ok = put(*p == '\'' ? "'\\''" : one);
  }
  ok = ok && put("' -pv | /usr/bin/head -20 | /usr/bin/grep 'banner-name:' ");
  if (size > 0) cmd[ok ? n : 0] = '\0';
  return ok;
}

namespace {

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void exec_shell(const char* cmd, int out_fd) {
  // A group of its own: the tools of the pipeline go with the shell.
  setpgid(0, 0);
  if (dup2(out_fd, STDOUT_FILENO) == STDOUT_FILENO)
    execl("/bin/sh", "sh", "-c", cmd, static_cast<char*>(nullptr));
  _exit(127);
}

}  // namespace

bool start_banner_pipeline(const char* prtconf_path, BannerPipeline* pipeline) {
  char cmd[4 * PATH_MAX + 128];
  if (!banner_command(prtconf_path, cmd, sizeof cmd)) return false;
  // Close-on-exec: the pipe must not leak into the prtconf child started later.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) exec_shell(cmd, fds[1]);
  setpgid(pid, pid);  // also here, so the group exists before it is stopped
  close(fds[1]);
  pipeline->pid = pid;
  pipeline->reader.fd = fds[0];
  pipeline->reader.deadline = source_deadline();
  pipeline->out = timed_stream(&pipeline->reader);
  if (pipeline->out == nullptr) close(fds[0]);
  return true;
}

void finish_banner_pipeline(BannerPipeline* pipeline, char* out, size_t out_size) {
  if (out_size > 0) out[0] = '\0';
  if (pipeline->out != nullptr) {
    find_banner(pipeline->out, out, out_size);
    if (pipeline->reader.timed_out && out_size > 0) out[0] = '\0';
    fclose(pipeline->out);
    pipeline->out = nullptr;
  }
  if (pipeline->pid <= 0) return;
  // Its output is read; what is left of it, or a tool that hangs, is not
  // needed. The shell is not yet reaped, so its group cannot be another's.
  if (kill(-pipeline->pid, SIGKILL) != 0) kill(pipeline->pid, SIGKILL);
  pid_t got;
  do {
    got = waitpid(pipeline->pid, nullptr, 0);
  } while (got < 0 && errno == EINTR);
  pipeline->pid = -1;
}

void find_banner(FILE* in, char* out, size_t out_size) {
  char value[kFindLineMax + 1];
  if (findstr(in, "banner-name:  ", nullptr, value, sizeof value) == 1) {
    quoted_text(value, out, out_size);
  } else if (out_size > 0) {
    out[0] = '\0';
  }
}

}  // namespace hestov
