#include "korbad/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

LogLine& LogLine::add(std::string_view text) {
  size_t room = sizeof(buf_) - len_;
  size_t n = text.size() < room ? text.size() : room;
  memcpy(buf_ + len_, text.data(), n);
  len_ += n;
  return *this;
}

LogLine& LogLine::add_int(long value) {
  char digits[24];
  int i = sizeof(digits);
  // Negate digit by digit so that LONG_MIN needs no special case.
  bool negative = value < 0;
  do {
    long d = value % 10;
    digits[--i] = static_cast<char>('0' + (negative ? -d : d));
    value /= 10;
  } while (value != 0);
  if (negative) digits[--i] = '-';
  return add(std::string_view(digits + i, sizeof(digits) - i));
}

bool write_all(int fd, const void* buf, size_t len) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    ssize_t n = write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

void log_write(const LogLine& line) {
  int saved = errno;
  write_all(STDERR_FILENO, line.data(), line.size());
  errno = saved;
}

void msg(std::string_view text) {
  LogLine line;
  line.add("Korbad-").add_int(getpid()).add(": ").add(text).add("\n");
  log_write(line);
}

void err(const char* what) {
  int e = errno;
  LogLine line;
  line.add(what).add(": ").add(strerror(e)).add("\n errno= ").add_int(e).add("\n");
  log_write(line);
  exit(-2);
}

namespace {

void log_request_line(std::string_view event, std::string_view client, std::string_view request) {
  char when[64];
  time_t now = time(nullptr);
  if (ctime_r(&now, when) == nullptr) strcpy(when, "?\n");
  LogLine line;
  line.add("Korbad-").add_int(getpid()).add(":> ").add(event).add(" -> [").add(client);
  line.add("] CMD= \"").add(request).add("\" TIME: ").add(when);
  log_write(line);
}

}  // namespace

void log_connect(std::string_view client, std::string_view request) {
  log_request_line("Connect", client, request);
}

void log_exit(std::string_view client, std::string_view request_head) {
  log_request_line("Exit", client, request_head);
}
