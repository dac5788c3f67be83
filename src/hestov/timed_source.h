// Reading a source with a time limit. A tool that never ends or a FIFO that
// never delivers must not keep the report from being written: a source that
// has not delivered everything in time counts as one that is not there.
#ifndef HESTOV_TIMED_SOURCE_H_
#define HESTOV_TIMED_SOURCE_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>

namespace hestov {

// Seconds each source may take unless set_source_timeout chose another.
inline constexpr int kDefaultSourceTimeout = 10;
// The longest time-out that can be set: an hour.
inline constexpr int kMaxSourceTimeout = 3600;
// Most of a file that is read; the rest is never looked at.
inline constexpr size_t kMaxSourceFile = 1024 * 1024;

// The time-out of every source started from now on, in seconds (1 to
// kMaxSourceTimeout; other values are ignored).
void set_source_timeout(int seconds);
int source_timeout();

// The time-out from its text: decimal digits making 1 to kMaxSourceTimeout;
// 0 for any other text.
int parse_source_timeout(const char* text);

// The moment, on the monotonic clock, by which a source must have delivered.
struct Deadline {
  timespec at;
};
// source_timeout() seconds from now.
Deadline source_deadline();

// A descriptor read until `deadline`. At the deadline the stream ends as if
// the writer had closed it, and `timed_out` is set.
struct TimedReader {
  int fd = -1;
  Deadline deadline{};
  bool timed_out = false;
};

// A read stream over `reader`, which must outlive it; closing the stream
// closes the descriptor. nullptr (the descriptor still open) when no stream
// can be made.
FILE* timed_stream(TimedReader* reader);

// The file at `path`, at most size-1 bytes of it (all of it when shorter),
// NUL-terminated in `buf`. Returns the bytes read, or -1 when the file cannot
// be read or has not delivered them in time.
ssize_t read_source_file(const std::string& path, char* buf, size_t size);

// The file at `path` (up to kMaxSourceFile bytes), read in full and then
// handed out as a read stream. nullptr when the file cannot be read or has
// not delivered in time, as when it is not there.
FILE* open_source_file(const std::string& path);

}  // namespace hestov

#endif  // HESTOV_TIMED_SOURCE_H_
