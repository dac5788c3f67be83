// The service log: one line per event on standard error. Every line leaves in
// a single write(2), so the lines of a few hundred connection processes that
// share one stderr never interleave, and the builder below uses no stdio and
// no allocation, so the signal handlers can log too.
#ifndef KORBAD_LOG_H_
#define KORBAD_LOG_H_

#include <cstddef>
#include <string_view>

// Program version as shown in banners and the usage text.
inline constexpr char kKorbadVersion[] = "v.3.12 (vek)";

// Bounded text builder; what does not fit is dropped. Async-signal-safe.
class LogLine {
 public:
  // Long enough for a Connect line with a full 1024-byte request in which
  // every byte is escaped to four (log.cc checks the sum).
  static constexpr size_t kCapacity = 4352;

  LogLine() = default;
  LogLine& add(std::string_view text);
  LogLine& add_int(long value);
  // Adds text that came from a peer, so that it can neither break the line
  // nor send control codes to whoever reads the log: a line end, carriage
  // return and tab become \n, \r and \t, a backslash \\, every other byte
  // below 0x20 and 0x7f \xHH (two lower-case hex digits); other bytes stay.
  // An escape that does not fit whole is dropped with the rest.
  LogLine& add_escaped(std::string_view text);

  const char* data() const { return buf_; }
  size_t size() const { return len_; }

 private:
  char buf_[kCapacity];
  size_t len_ = 0;
};

// Writes all of buf to fd, retrying short writes and EINTR. Returns false on
// failure. Async-signal-safe.
bool write_all(int fd, const void* buf, size_t len);

// Writes the line to standard error. Async-signal-safe.
void log_write(const LogLine& line);

// "Korbad-PID: TEXT\n". Async-signal-safe.
void msg(std::string_view text);

// Reports what failed the way perror does ("what: error text"), then
// " errno= N", and exits with status -2.
[[noreturn]] void err(const char* what);

// The per-connection lines; time is the local time in ctime form. The
// request is written through add_escaped, so each stays one line.
void log_connect(std::string_view client, std::string_view request);
void log_exit(std::string_view client, std::string_view request_head);

#endif  // KORBAD_LOG_H_
