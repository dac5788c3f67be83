#include "korbad/log.h"

#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "korbad/request.h"

LogLine& LogLine::add(std::string_view text) {
  size_t room = sizeof(buf_) - len_;
  size_t n = text.size() < room ? text.size() : room;
  memcpy(buf_ + len_, text.data(), n);
  len_ += n;
  return *this;
}

LogLine& LogLine::add_escaped(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    char escape[4] = {'\\', 0, 0, 0};
    size_t n = 2;
    if (c == '\n') {
      escape[1] = 'n';
    } else if (c == '\r') {
      escape[1] = 'r';
    } else if (c == '\t') {
      escape[1] = 't';
    } else if (c == '\\') {
      escape[1] = '\\';
    } else if (c < 0x20 || c == 0x7f) {
      escape[1] = 'x';
      escape[2] = kHex[c >> 4];
      escape[3] = kHex[c & 0xf];
      n = 4;
    } else {
      escape[0] = ch;
      n = 1;
    }
    if (n > sizeof(buf_) - len_) break;
    memcpy(buf_ + len_, escape, n);
    len_ += n;
  }
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

constexpr size_t kWhenMax = 64;

// The longest Connect line: prefix, process id, client, the whole request
// escaped, and the time with its line end. Nothing of it may be cut, or the
// line end would go and the next line would join this one.
static_assert(sizeof("Korbad-") + 20 + sizeof(":> Connect -> [") + INET_ADDRSTRLEN +
                      sizeof("] CMD= \"") + 4 * kRequestMax + sizeof("\" TIME: ") + kWhenMax <=
                  LogLine::kCapacity,
              "a Connect line with a fully escaped request must fit");

void log_request_line(std::string_view event, std::string_view client, std::string_view request) {
  char when[kWhenMax];
  time_t now = time(nullptr);
  if (ctime_r(&now, when) == nullptr) strcpy(when, "?\n");
  LogLine line;
  line.add("Korbad-").add_int(getpid()).add(":> ").add(event).add(" -> [").add_escaped(client);
  line.add("] CMD= \"").add_escaped(request).add("\" TIME: ").add(when);
  log_write(line);
}

}  // namespace

void log_connect(std::string_view client, std::string_view request) {
  log_request_line("Connect", client, request);
}

void log_exit(std::string_view client, std::string_view request_head) {
  log_request_line("Exit", client, request_head);
}
