#include "vandrel/services/multipart_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vandrel/core/arena.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/settings.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"

namespace {

constexpr char kNameMarker[] = "name=\"";
constexpr size_t kNameMarkerLen = sizeof kNameMarker - 1;
constexpr char kFileMarker[] = "filename=\"";
constexpr size_t kFileMarkerLen = sizeof kFileMarker - 1;
constexpr char kBroken[] = "Broken Input...";

// Formatted parser errors live here; POST_errmsg points at it.
char error_text[1024];

int fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
int fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(error_text, sizeof error_text, format, args);
  va_end(args);
  POST_errmsg = error_text;
  X_trace("E_POST_parser: %s", error_text);
  return -1;
}

char* keep(const char* text, size_t len) { return X_heap_strndup(x_BUFFERS.hp, text, len); }

void end_table(entry* table, int x) {
  table[x].name = nullptr;
  table[x].val = nullptr;
}

int pid() { return static_cast<int>(getpid()); }

// The uploads of the request, for X_remove_uploads. Names are kept relative
// to a descriptor of their directory, so that a relative TMP_DIR still
// names the same files after the page has changed directories; the texts
// are the entry values, which live as long as the process.
struct Uploads {
  pid_t owner = -1;
  int dir_fd = -1;  // AT_FDCWD when the directory could not be opened
  const char* names[kMaxPairs];
  int count = 0;
};
Uploads uploads;

void forget_uploads() {
  if (uploads.dir_fd >= 0) close(uploads.dir_fd);
  uploads.dir_fd = -1;
  uploads.count = 0;
  uploads.owner = getpid();
}

// Notes the upload just created at `path` ("<dir>/<file>").
void note_upload(const char* dir, const char* path) {
  if (uploads.count == kMaxPairs) return;  // one per pair: cannot happen
  if (uploads.dir_fd == -1) {
    uploads.dir_fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (uploads.dir_fd < 0) uploads.dir_fd = AT_FDCWD;
  }
  uploads.names[uploads.count++] = uploads.dir_fd == AT_FDCWD ? path : path + std::strlen(dir) + 1;
}

// Writes all of `data` to `fd`; false on an error.
bool write_all(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// An upload: every byte goes to the file.
class FileSink : public ContentSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}
  bool write(const char* data, size_t len) override { return write_all(fd_, data, len); }

 private:
  int fd_;
};

// A plain field: its bytes are counted, and the first `limit` of them go to
// the scratch file.
class ScratchSink : public ContentSink {
 public:
  ScratchSink(int fd, size_t limit) : fd_(fd), limit_(limit) {}
  bool write(const char* data, size_t len) override {
    size_t take = std::min(len, limit_ - kept_);
    if (take > 0 && !write_all(fd_, data, take)) return false;
    kept_ += take;
    count_ += len;
    return true;
  }
  size_t count() const { return count_; }
  size_t kept() const { return kept_; }

 private:
  int fd_;
  size_t limit_;
  size_t kept_ = 0;
  size_t count_ = 0;
};

// The text after `marker` in `line` up to the next double quote (or the end
// of the line).
std::string quoted_after(const char* marker_at, size_t marker_len) {
  const char* text = marker_at + marker_len;
  const char* quote = std::strchr(text, '"');
  return std::string(text, quote ? static_cast<size_t>(quote - text) : std::strlen(text));
}

std::string cut_name(std::string name) {
  if (name.size() > static_cast<size_t>(kMaxPartName)) name.resize(kMaxPartName);
  return name;
}

// The file name without its directories, Unix ("/") and then Windows ("\").
std::string last_component(std::string name) {
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t backslash = name.rfind('\\');
  if (backslash != std::string::npos) name.erase(0, backslash + 1);
  return name;
}

std::string format_path(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format_path(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int len = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string path(len > 0 ? static_cast<size_t>(len) : 0, '\0');
  std::vsnprintf(path.data(), path.size() + 1, format, again);
  va_end(again);
  return path;
}

// Files the parser creates: never through a symbolic link planted at the
// name, created with the permissions fopen would give.
int create_file(const std::string& path, int access) {
  return open(path.c_str(), access | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
}

class Parser {
 public:
  Parser(entry* table, int fd, const char* dir) : table_(table), in_(fd), dir_(dir) {}
  ~Parser() {
    if (scratch_ >= 0) close(scratch_);
  }

  int run() {
    forget_uploads();
    char boundary[kBoundaryLineSize];
    getline_from(boundary, kBoundaryLineSize, in_);
    Separator sep(std::string("\r\n") + boundary);
    X_trace("SEP: %s \nSIZE: %d\n", boundary, static_cast<int>(sep.size()));

    std::string scratch_path = format_path("%s/post.buff.%d", dir_, pid());
    scratch_ = create_file(scratch_path, O_RDWR);
    if (scratch_ < 0)
      return fail("Cannot create the scratch file %s: %s\n", scratch_path.c_str(),
                  std::strerror(errno));
    unlink(scratch_path.c_str());

    for (int i = 0;; ++i) {
      if (i == kMaxPairs || !find_disposition()) {
        end_table(table_, i);
        X_trace("END: %d values\n", i);
        return 0;
      }
      std::string name = cut_name(quoted_after(std::strstr(line_, kNameMarker), kNameMarkerLen));
      table_[i].name = keep(name.data(), name.size());
      X_trace("NAME: %s \n", table_[i].name);
      const char* file_marker = std::strstr(line_, kFileMarker);
      int rc = file_marker ? take_file(i, sep, quoted_after(file_marker, kFileMarkerLen))
                           : take_value(i, sep);
      if (rc != 0) return rc;
    }
  }

 private:
  int read_line() { return getline_from(line_, kMultipartLineSize, in_); }

  // Reads lines until one holds the field name marker; false at the end of
  // the input.
  bool find_disposition() {
    for (;;) {
      int end = read_line();
      if (end && !line_[0]) return false;
      X_trace("TAKE: %s \n", line_);
      if (std::strstr(line_, kNameMarker)) return true;
      if (end) return false;
    }
  }

  // Skips the part's header lines up to and including the empty line.
  void skip_headers() {
    while (read_line() == 0 && line_[0]) {
    }
  }

  int take_file(int i, const Separator& sep, const std::string& source) {
    X_trace("FILE-src: [%s] \n", source.c_str());
    std::string file = cut_name(last_component(source));
    X_trace("FILE: [%s] \n", file.c_str());
    if (file.empty()) {  // no file chosen: no value, an empty content
      table_[i].val = nullptr;
      skip_headers();
      read_line();
      read_line();
      return 0;
    }
    std::string path = format_path("%s/%s..%d.%d", dir_, file.c_str(), pid(), i);
    table_[i].val = keep(path.data(), path.size());
    int fd = create_file(path, O_WRONLY);
    if (fd < 0)
      return fail("Cannot create the upload file %s: %s\n", path.c_str(), std::strerror(errno));
    if (table_[i].val) note_upload(dir_, table_[i].val);  // also when the body breaks off below
    skip_headers();
    FileSink sink(fd);
    MultipartReader::CopyResult copied = in_.copy_until(sep, sink);
    int write_errno = errno;
    bool closed = close(fd) == 0;
    if (copied == MultipartReader::CopyResult::kBroken) return broken();
    if (copied == MultipartReader::CopyResult::kSinkFailed || !closed)
      return fail("Cannot write the upload file %s: %s\n", path.c_str(),
                  std::strerror(closed ? write_errno : errno));
    read_line();  // the rest of the separator's line
    return 0;
  }

  int take_value(int i, const Separator& sep) {
    X_trace("VALUE... \n");
    if (lseek(scratch_, 0, SEEK_SET) != 0)
      return fail("Cannot write the scratch file: %s\n", std::strerror(errno));
    skip_headers();
    ScratchSink sink(scratch_, std::min(kMaxFieldValue, budget_));
    MultipartReader::CopyResult copied = in_.copy_until(sep, sink);
    if (copied == MultipartReader::CopyResult::kBroken) return broken();
    if (copied == MultipartReader::CopyResult::kSinkFailed)
      return fail("Cannot write the scratch file: %s\n", std::strerror(errno));
    table_[i].val = sink.count() == 0 ? nullptr : read_back(sink.kept());
    if (sink.kept() < sink.count())
      X_trace("VALUE-CUT: %zu of %zu bytes kept\n", sink.kept(), sink.count());
    budget_ -= sink.kept();
    X_trace("VALUE: [%s] \n", table_[i].val ? table_[i].val : "NULL");
    read_line();  // the rest of the separator's line
    return 0;
  }

  // A new text holding the first `len` bytes of the scratch file.
  char* read_back(size_t len) {
    char* value = static_cast<char*>(X_heap_alloc(x_BUFFERS.hp, static_cast<int>(len + 1)));
    if (!value) return nullptr;
    size_t got = 0;
    while (got < len) {
      ssize_t n = pread(scratch_, value + got, len - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    value[got] = '\0';
    return value;
  }

  int broken() {
    POST_errmsg = kBroken;
    X_trace("E_POST_parser: %s", kBroken);
    return -1;
  }

  entry* table_;
  MultipartReader in_;
  const char* dir_;
  int scratch_ = -1;
  size_t budget_ = kMaxFieldTotal;
  char line_[kMultipartLineSize];
};

}  // namespace

Separator::Separator(std::string text) : text_(std::move(text)), fail_(text_.size(), 0) {
  // fail_[k]: the longest proper border of text_[0..k].
  size_t border = 0;
  for (size_t k = 1; k < text_.size(); ++k) {
    while (border > 0 && text_[k] != text_[border]) border = fail_[border - 1];
    if (text_[k] == text_[border]) ++border;
    fail_[k] = border;
  }
}

MultipartReader::MultipartReader(int fd, size_t capacity) : fd_(fd), buf_(capacity) {}

bool MultipartReader::fill() {
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (eof_ || end_ == buf_.size()) return false;
  ssize_t n;
  do {
    n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {  // a read error ends the input as the end of file does
    eof_ = true;
    return false;
  }
  end_ += static_cast<size_t>(n);
  return true;
}

int MultipartReader::get() {
  if (pos_ == end_ && !fill()) return EOF;
  return static_cast<unsigned char>(buf_[pos_++]);
}

MultipartReader::CopyResult MultipartReader::copy_until(const Separator& sep, ContentSink& sink) {
  const size_t m = sep.size();
  const char* pattern = sep.text().data();
  if (buf_.size() <= m) buf_.resize(m + 1);  // room for a window and one byte more
  char* buf = buf_.data();
  size_t matched = 0;  // bytes of the separator that end at `scan`
  size_t scan = pos_;
  for (;;) {
    while (scan < end_) {
      if (matched == 0) {  // jump to the next byte that can start a match
        const void* hit = std::memchr(buf + scan, pattern[0], end_ - scan);
        if (!hit) {
          scan = end_;
          break;
        }
        scan = static_cast<size_t>(static_cast<const char*>(hit) - buf);
      }
      char c = buf[scan++];
      while (matched > 0 && c != pattern[matched]) matched = sep.fallback(matched);
      if (c == pattern[matched]) ++matched;
      if (matched == m) {
        size_t start = pos_;
        size_t content = scan - m - start;
        pos_ = scan;
        if (content > 0 && !sink.write(buf + start, content)) return CopyResult::kSinkFailed;
        return CopyResult::kFound;
      }
    }
    // No separator ends in the buffer. Everything but its last m bytes is
    // content for sure (a partial match is shorter than m), so the one-byte sliding
    // window would have written it by now.
    if (end_ - pos_ > m) {
      size_t content = end_ - m - pos_;
      if (!sink.write(buf + pos_, content)) return CopyResult::kSinkFailed;
      pos_ += content;
    }
    size_t kept = end_ - pos_;
    if (!fill()) {
      pos_ = end_;  // the window's bytes were read: consumed, not content
      return CopyResult::kBroken;
    }
    buf = buf_.data();
    scan = kept;
  }
}

void X_remove_uploads() {
  if (uploads.count == 0 || getpid() != uploads.owner) return;
  // An upload the page moved away is gone: unlink then finds nothing.
  for (int k = 0; k < uploads.count; ++k) unlinkat(uploads.dir_fd, uploads.names[k], 0);
  forget_uploads();
}

bool X_register_upload_cleanup() { return X_on_exit(X_remove_uploads); }

int E_POST_parse(entry* table, int fd, const char* dir) {
  Parser parser(table, fd, dir);
  return parser.run();
}

int E_POST_parser(entry* table) {
  X_trace("E_POST_parser: ");
  const char* dir = TMP_DIR ? TMP_DIR : std::getenv("TMP_DIR");
  if (!dir) dir = "/tmp";
  if (!Trace) return E_POST_parse(table, STDIN_FILENO, dir);

  // Tracing: the body is kept in "post.input" and parsed from there. A copy
  // that cannot be created leaves the trace without it, as a log file would.
  std::string copy_path = format_path("%s/post.input", dir);
  int copy = create_file(copy_path, O_RDWR);
  if (copy < 0) {
    X_trace("E_POST_parser: cannot create %s: %s; parsing standard input\n", copy_path.c_str(),
            std::strerror(errno));
    return E_POST_parse(table, STDIN_FILENO, dir);
  }
  static char chunk[64 * 1024];
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (!write_all(copy, chunk, static_cast<size_t>(n))) {
      int saved = errno;
      close(copy);
      return fail("Cannot write %s: %s\n", copy_path.c_str(), std::strerror(saved));
    }
  }
  int rc = lseek(copy, 0, SEEK_SET) == 0
               ? E_POST_parse(table, copy, dir)
               : fail("Cannot read %s: %s\n", copy_path.c_str(), std::strerror(errno));
  close(copy);
  return rc;
}
