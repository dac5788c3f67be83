#include "vandrel/services/stream_commands.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/core/errors.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/numbers.h"
#include "vandrel/core/open_streams.h"
#include "vandrel/core/output.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

// The handle argument is read into a buffer of 999 characters.
constexpr size_t kHandleSize = 1000;
constexpr size_t kModeSize = 64;
// <@fgets> reads lines of at most 8190 characters.
constexpr int kMaxReadSize = 8191;

// What was last done on an entry that is a file. C streams need a flush or a
// reposition between a write and a read (and a reposition between a read and
// a write) on an update stream such as "r+".
enum class LastIo { kNone, kRead, kWrite };
LastIo last_io[kMaxOpenStreams];

LastIo& last_io_of(const x_OPEN* slot) {
  return last_io[slot - x_open_table];
}

// Whether an entry's reads and writes may wait or reach the page's reader: a
// pipe, a FIFO, a terminal, a device, standard output's own file. Asked of
// each stream once.
struct Kind {
  const FILE* fp;
  bool waits;
};
Kind kind_of_entry[kMaxOpenStreams];

bool may_wait(const x_OPEN* slot) {
  if (slot->kind == StreamKind::kPipe) return true;
  Kind& known = kind_of_entry[slot - x_open_table];
  if (known.fp != slot->fp) {
    known.fp = slot->fp;
    known.waits = X_reaches_output_reader(slot->fp);
  }
  return known.waits;
}

// Before an entry's read, write or close: what the page wrote so far is out
// when the command at the other end answers, or while the page waits for it.
void flush_before_io(const x_OPEN* slot) {
  if (X_output_pending() && may_wait(slot)) X_output_flush();
}

// A command whose reading end is closed would kill the interpreter with
// SIGPIPE on the next write. While one of these lives, such a write fails
// with EPIPE instead and the command reports it.
class QuietPipeWrites {
 public:
  QuietPipeWrites() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &saved_);
  }
  ~QuietPipeWrites() { sigaction(SIGPIPE, &saved_, nullptr); }
  QuietPipeWrites(const QuietPipeWrites&) = delete;
  QuietPipeWrites& operator=(const QuietPipeWrites&) = delete;

 private:
  struct sigaction saved_ = {};
};

bool has_tag(const char* line, const char* tag) {
  return std::strncmp(line, tag, std::strlen(tag)) == 0;
}

// The command's argument text, substituted and logged.
void substitute(const char* line, int compile, char* text) {
  X_transline(X_command_args(line), text, kLineSize, compile);
  X_debug("%s // %s \n", line, text);
}

// Takes the next argument from `p` into `out` and advances `p` past it.
void next_arg(const char*& p, char* out, size_t out_size) {
  p += X_arg_string(p, out, out_size);
}

void set_status(const char* name, bool ok) {
  X_put_value(name[0] ? name : "status", ok ? "0" : "-1", 0, 0);
}

void free_entry(x_OPEN* slot) {
  slot->fp = nullptr;
  slot->kind = StreamKind::kFree;
  slot->name[0] = '\0';
  last_io_of(slot) = LastIo::kNone;
  kind_of_entry[slot - x_open_table] = Kind{};
}

// Closes an entry the way it was opened, whichever close the page asked for.
// False when a file's close lost data (its last write failed); a pipe's
// command status is not a failure of the close.
bool close_entry(x_OPEN* slot) {
  flush_before_io(slot);  // a command writes its last output as its input ends
  bool ok = true;
  if (slot->kind == StreamKind::kPipe) {
    QuietPipeWrites quiet;
    pclose(slot->fp);
  } else {
    ok = std::fclose(slot->fp) == 0;
  }
  free_entry(slot);
  return ok;
}

// Prepares a file entry for a read or a write after the other kind.
void switch_direction(x_OPEN* slot, LastIo next) {
  if (slot->kind != StreamKind::kFile) return;
  LastIo& last = last_io_of(slot);
  if (last == LastIo::kWrite && next == LastIo::kRead) std::fflush(slot->fp);
  if (last == LastIo::kRead && next == LastIo::kWrite) std::fseek(slot->fp, 0, SEEK_CUR);
  last = next;
}

bool open_entry(const char* handle, const char* target, const char* mode, StreamKind kind) {
  // A longer name would be stored cut and could never be found again.
  if (std::strlen(handle) > static_cast<size_t>(kMaxStreamName)) return false;
  x_OPEN* slot = X_free_open();
  if (slot == nullptr) return false;
  FILE* fp = nullptr;
  if (kind == StreamKind::kPipe) {
    X_flush_streams();  // the command's output comes after what the page wrote
    fp = popen(target, mode);
  } else {
    // Opening a FIFO waits for its other end.
    struct stat st;
    if (X_output_pending() && stat(target, &st) == 0 && !S_ISREG(st.st_mode)) X_output_flush();
    fp = std::fopen(target, mode);
  }
  if (fp == nullptr) return false;
  slot->fp = fp;
  slot->kind = kind;
  std::snprintf(slot->name, sizeof slot->name, "%s", handle);
  last_io_of(slot) = LastIo::kNone;
  return true;
}

// <@fopen> and <@popen>: HANDLE TARGET MODE [STATUS].
void open_command(const char* line, int compile, StreamKind kind) {
  LineBuffer text, target, status;
  char handle[kHandleSize];
  char mode[kModeSize];
  substitute(line, compile, text.data());
  const char* p = text.data();
  next_arg(p, handle, sizeof handle);
  next_arg(p, target.data(), kLineSize);
  next_arg(p, mode, sizeof mode);
  next_arg(p, status.data(), kLineSize);
  set_status(status.data(), open_entry(handle, target.data(), mode, kind));
}

// <@fclose> and <@pclose>: HANDLE [STATUS]. Either closes an entry the right
// way for its kind.
void close_command(const char* line, int compile) {
  LineBuffer text, status;
  char handle[kHandleSize];
  substitute(line, compile, text.data());
  const char* p = text.data();
  next_arg(p, handle, sizeof handle);
  next_arg(p, status.data(), kLineSize);
  x_OPEN* slot = X_find_open(handle);
  // The block of an <@xfile> with this name is still writing to it.
  if (slot != nullptr && slot->fp == X_output()) slot = nullptr;
  set_status(status.data(), slot != nullptr && close_entry(slot));
}

}  // namespace

int X_io_fopen(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@fopen>")) return -1;
  X_trace("X_io_fopen: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  open_command(line, compile, StreamKind::kFile);
  return 0;
}

int X_io_popen(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@popen>")) return -1;
  X_trace("X_io_popen: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  open_command(line, compile, StreamKind::kPipe);
  return 0;
}

int X_io_fclose(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@fclose>")) return -1;
  X_trace("X_io_fclose: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  close_command(line, compile);
  return 0;
}

int X_io_pclose(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@pclose>")) return -1;
  X_trace("X_io_pclose: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  close_command(line, compile);
  return 0;
}

int X_io_fgets(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@fgets>")) return -1;
  X_trace("X_io_fgets: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text, var, size_text, status, buffer;
  char handle[kHandleSize];
  substitute(line, compile, text.data());
  const char* p = text.data();
  next_arg(p, handle, sizeof handle);
  next_arg(p, var.data(), kLineSize);
  next_arg(p, size_text.data(), kLineSize);
  next_arg(p, status.data(), kLineSize);

  int size = X_atoi(size_text.data());
  if (size > kMaxReadSize) size = kMaxReadSize;
  FILE* fp = nullptr;
  if (std::strcmp(handle, "stdin") == 0) {
    X_output_flush();  // a prompt is seen before the answer is awaited
    fp = stdin;
  } else if (x_OPEN* slot = X_find_open(handle)) {
    flush_before_io(slot);
    switch_direction(slot, LastIo::kRead);
    fp = slot->fp;
  }
  if (size <= 0 || fp == nullptr || std::fgets(buffer.data(), size, fp) == nullptr) {
    set_status(status.data(), false);  // the variable keeps its value
    return 0;
  }
  buffer.data()[std::strcspn(buffer.data(), "\r\n")] = '\0';
  X_put_value(var.data()[0] ? var.data() : "buff", buffer.data(), 0, 0);
  set_status(status.data(), true);
  return 0;
}

int X_io_fputs(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@fputs>")) return -1;
  X_trace("X_io_fputs: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text, data, status;
  char handle[kHandleSize];
  substitute(line, compile, text.data());
  const char* p = text.data();
  next_arg(p, handle, sizeof handle);
  next_arg(p, data.data(), kLineSize);
  next_arg(p, status.data(), kLineSize);

  bool ok = false;
  if (std::strcmp(handle, "stdout") == 0) {
    ok = std::fputs(data.data(), stdout) != EOF;
  } else if (std::strcmp(handle, "stderr") == 0) {
    X_output_flush();  // where both go to one place, they keep their order
    ok = std::fputs(data.data(), stderr) != EOF;
  } else if (x_OPEN* slot = X_find_open(handle)) {
    flush_before_io(slot);
    switch_direction(slot, LastIo::kWrite);
    QuietPipeWrites quiet;
    ok = std::fputs(data.data(), slot->fp) != EOF;
  }
  set_status(status.data(), ok);
  return 0;
}

int X_io_fseek(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@fseek>")) return -1;
  X_trace("X_io_fseek: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text, offset, whence, status;
  char handle[kHandleSize];
  substitute(line, compile, text.data());
  const char* p = text.data();
  next_arg(p, handle, sizeof handle);
  next_arg(p, offset.data(), kLineSize);
  next_arg(p, whence.data(), kLineSize);
  next_arg(p, status.data(), kLineSize);

  static constexpr int kOrigins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  int origin = X_atoi(whence.data());
  x_OPEN* slot = X_find_open(handle);
  bool ok = false;
  // A pipe cannot be repositioned; trying would only push its buffer out.
  if (slot != nullptr && slot->kind == StreamKind::kFile && origin >= 0 && origin <= 2) {
    ok = std::fseek(slot->fp, X_atoi(offset.data()), kOrigins[origin]) == 0;
    last_io_of(slot) = LastIo::kNone;  // a reposition allows either next
  }
  set_status(status.data(), ok);
  return 0;
}

void X_flush_streams() {
  QuietPipeWrites quiet;
  std::fflush(nullptr);
}

void X_close_streams() {
  for (const x_OPEN& slot : x_open_table)
    if (slot.kind != StreamKind::kFree && slot.fp == X_output()) X_redirect(nullptr);
  std::fflush(stdout);
  for (x_OPEN& slot : x_open_table)
    if (slot.kind != StreamKind::kFree) close_entry(&slot);
}

bool X_register_stream_cleanup() { return X_on_exit(X_close_streams); }
