#include "hestov/timed_source.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace hestov {

namespace {

int timeout_seconds = kDefaultSourceTimeout;

// Milliseconds until `d`, rounded up so that a wait never ends just short of
// it; 0 once it has passed.
int ms_left(const Deadline& d) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long ns = (static_cast<long long>(d.at.tv_sec) - now.tv_sec) * 1000000000LL +
                 (d.at.tv_nsec - now.tv_nsec);
  if (ns <= 0) return 0;
  long long ms = (ns + 999999) / 1000000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// One read of `fd` that waits no longer than `d`: the bytes read, 0 at the
// end, -1 on an error. When the deadline passes first it sets *timed_out and
// returns 0, so a reader sees the end of the stream. Also a source that never
// stops delivering ends there.
ssize_t read_by(int fd, char* buf, size_t size, const Deadline& d, bool* timed_out) {
  while (true) {
    int left = ms_left(d);
    if (left == 0) {
      *timed_out = true;
      return 0;
    }
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, left);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    ssize_t got = read(fd, buf, size);
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    return got;
  }
}

ssize_t reader_read(void* cookie, char* buf, size_t size) {
  auto* reader = static_cast<TimedReader*>(cookie);
  if (reader->timed_out) return 0;
  return read_by(reader->fd, buf, size, reader->deadline, &reader->timed_out);
}

int reader_close(void* cookie) {
  auto* reader = static_cast<TimedReader*>(cookie);
  int rc = close(reader->fd);
  reader->fd = -1;
  return rc;
}

// A FIFO without a writer would block an ordinary open until one comes;
// without blocking, the wait is left to read_by and so to the deadline.
int open_source(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// A whole file in memory, handed out through a read stream that owns it.
struct MemoryFile {
  char* data;
  size_t len;
  size_t pos;
};

void free_memory_file(MemoryFile* m) {
  free(m->data);
  free(m);
}

ssize_t memory_read(void* cookie, char* buf, size_t size) {
  auto* m = static_cast<MemoryFile*>(cookie);
  size_t n = std::min(size, m->len - m->pos);
  if (n > 0) memcpy(buf, m->data + m->pos, n);
  m->pos += n;
  return static_cast<ssize_t>(n);
}

int memory_close(void* cookie) {
  free_memory_file(static_cast<MemoryFile*>(cookie));
  return 0;
}

}  // namespace

void set_source_timeout(int seconds) {
  if (seconds >= 1 && seconds <= kMaxSourceTimeout) timeout_seconds = seconds;
}

int source_timeout() {
  return timeout_seconds;
}

int parse_source_timeout(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  int value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + (*p - '0');
    if (value > kMaxSourceTimeout) return 0;
  }
  return value;
}

Deadline source_deadline() {
  Deadline d;
  clock_gettime(CLOCK_MONOTONIC, &d.at);
  d.at.tv_sec += timeout_seconds;
  return d;
}

FILE* timed_stream(TimedReader* reader) {
  cookie_io_functions_t io = {};
  io.read = reader_read;
  io.close = reader_close;
  return fopencookie(reader, "r", io);
}

ssize_t read_source_file(const std::string& path, char* buf, size_t size) {
  if (size == 0) return -1;
  buf[0] = '\0';
  int fd = open_source(path);
  if (fd < 0) return -1;
  Deadline d = source_deadline();
  bool timed_out = false;
  size_t n = 0;
  while (n + 1 < size) {
    ssize_t got = read_by(fd, buf + n, size - 1 - n, d, &timed_out);
    if (got <= 0) break;
    n += static_cast<size_t>(got);
  }
  close(fd);
  buf[timed_out ? 0 : n] = '\0';
  return timed_out ? -1 : static_cast<ssize_t>(n);
}

FILE* open_source_file(const std::string& path) {
  int fd = open_source(path);
  if (fd < 0) return nullptr;
  auto* m = static_cast<MemoryFile*>(calloc(1, sizeof(MemoryFile)));
  if (m == nullptr) {
    close(fd);
    return nullptr;
  }
  // Read in full first: a source that has not finished by the deadline
  // gives nothing, not the part that came.
  Deadline d = source_deadline();
  bool timed_out = false;
  bool no_memory = false;
  size_t room = 0;
  while (m->len < kMaxSourceFile) {
    if (m->len == room) {
      size_t grown = room == 0 ? 4096 : std::min(room * 2, kMaxSourceFile);
      char* more = static_cast<char*>(realloc(m->data, grown));
      if (more == nullptr) {
        no_memory = true;
        break;
      }
      m->data = more;
      room = grown;
    }
    ssize_t got = read_by(fd, m->data + m->len, room - m->len, d, &timed_out);
    if (got <= 0) break;
    m->len += static_cast<size_t>(got);
  }
  close(fd);
  FILE* in = nullptr;
  if (!timed_out && !no_memory) {
    cookie_io_functions_t io = {};
    io.read = memory_read;
    io.close = memory_close;
    in = fopencookie(m, "r", io);
  }
  if (in == nullptr) free_memory_file(m);
  return in;
}

}  // namespace hestov
