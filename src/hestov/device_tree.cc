#include "hestov/device_tree.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>

#include "hestov/findstr.h"
#include "hestov/timed_source.h"

namespace hestov {

namespace {

int clamp_int(uint64_t v) {
  return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

// Room for a hexadecimal value or a quoted name after its key.
constexpr size_t kValueSize = kFindLineMax + 1;

}  // namespace

int mhz_from_hz(uint64_t hz) {
  return clamp_int(hz / 1000000 + (hz % 1000000 >= 500000 ? 1 : 0));
}

int kb_from_bytes(uint64_t bytes) {
  return clamp_int(bytes / 1024);
}

void read_device_tree(FILE* in, DeviceTree* dt) {
  *dt = DeviceTree{};
  char value[kValueSize];
  if (findstr(in, "clock-frequency:", nullptr, value, sizeof value) == 1)
    dt->sys_freq = mhz_from_hz(hex_value(value));
  if (findstr(in, "ecache-line-size:", nullptr, value, sizeof value) == 1) {
    uint64_t line_size = hex_value(value);
    switch (findstr(in, "ecache-size:", "ecache-nlines:", value, sizeof value)) {
      case 1:
        dt->cpu_ecache = kb_from_bytes(hex_value(value));
        break;
      case 2: {
        uint64_t bytes;
        if (__builtin_mul_overflow(hex_value(value), line_size, &bytes)) bytes = UINT64_MAX;
        dt->cpu_ecache = kb_from_bytes(bytes);
        break;
      }
      default:
        break;
    }
  }
  if (findstr(in, "name:  ", nullptr, value, sizeof value) == 1)
    quoted_text(value, dt->chip_name, sizeof dt->chip_name);
}

namespace {

// Only async-signal-safe calls: the child of a fork runs nothing else before
// exec, and leaves the parent's stdio buffers alone by ending with _exit.
[[noreturn]] void exec_prtconf(const char* path, int out_fd) {
  // A group of its own, so that stopping it also stops what it started.
  setpgid(0, 0);
  bool ready = true;
  if (out_fd == STDOUT_FILENO) {
    ready = fcntl(out_fd, F_SETFD, 0) == 0;  // keep it across exec
  } else {
    ready = dup2(out_fd, STDOUT_FILENO) == STDOUT_FILENO;
  }
  if (ready) execl(path, "prtconf", "-vp", static_cast<char*>(nullptr));
  static const char kMsg[] = "sys child: exec failed\n";
  ssize_t ignored = write(STDERR_FILENO, kMsg, sizeof kMsg - 1);
  (void)ignored;
  _exit(1);
}

}  // namespace

PrtconfStatus run_prtconf(const char* path, DeviceTree* dt) {
  *dt = DeviceTree{};
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return PrtconfStatus::kNotStarted;
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return PrtconfStatus::kNotStarted;
  }
  if (pid == 0) exec_prtconf(path, fds[1]);
  setpgid(pid, pid);  // also here, so the group exists before it is stopped
  close(fds[1]);

  TimedReader reader;
  reader.fd = fds[0];
  reader.deadline = source_deadline();
  FILE* in = timed_stream(&reader);
  if (in != nullptr) {
    read_device_tree(in, dt);
    // A tool that has not answered in time is a tool that gave nothing.
    if (reader.timed_out) *dt = DeviceTree{};
  } else {
    close(fds[0]);
  }

  // The tool may still be writing, or hang; it is not needed any more.
  PrtconfStatus status = PrtconfStatus::kDone;
  if (kill(-pid, SIGKILL) != 0 && kill(pid, SIGKILL) != 0) {
    status = PrtconfStatus::kKillFailed;
  } else {
    // Reap this child only: a plain wait could take another child instead.
    pid_t got;
    do {
      got = waitpid(pid, nullptr, 0);
    } while (got < 0 && errno == EINTR);
    if (got != pid) status = PrtconfStatus::kWaitError;
  }
  if (in != nullptr) fclose(in);
  return status;
}

}  // namespace hestov
