#include "vandrel/core/trace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "vandrel/core/arena.h"
#include "vandrel/core/clock.h"
#include "vandrel/core/output.h"
#include "vandrel/core/settings.h"

int Debug = 0;
int Trace = 0;
bool X_trace_decided = false;
bool X_debug_idle = false;

namespace {

bool debug_decided = false;
FILE* debug_stream = nullptr;
FILE* trace_stream = nullptr;

// Stamp state, shared by both logs.
bool stamp_started = false;
int64_t first_second = 0;
ClockTime previous_stamp;

heapalloc* const* traced_arena = nullptr;

bool home_file_exists(const char* name) {
  char path[4096];
  int n = std::snprintf(path, sizeof path, "%s/%s", X_HOME, name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return false;
  struct stat st;
  return stat(path, &st) == 0;
}

// Opens "<TMP_DIR>/<name>.<pid>"; nullptr when it cannot be made, which
// leaves that log silent.
FILE* open_log(const char* name, const char* mode) {
  char path[4096];
  int n = std::snprintf(path, sizeof path, "%s/%s.%d", TMP_DIR ? TMP_DIR : "/tmp", name,
                        static_cast<int>(getpid()));
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return nullptr;
  return std::fopen(path, mode);
}

void decide_trace_level() {
  X_trace_decided = true;
  if (Trace != 0) return;  // a level set before wins
  if (home_file_exists("X_TRACE")) Trace = 1;
  if (home_file_exists("X_LOG")) {
    Trace = 2;
    trace_stream = open_log("X_LOG", "w");
  }
  if (home_file_exists("X_LOG3")) {
    if (trace_stream) std::fclose(trace_stream);
    Trace = 3;
    trace_stream = open_log("X_LOG3", "w");
  }
}

// Arena figures of the detailed trace: the traced arena, its current small
// block and the bytes used there.
void print_arena_figures(FILE* stream) {
  const X_heap* hp = traced_arena ? *traced_arena : nullptr;
  const heapblock* mb = hp ? hp->smallreq : nullptr;
  int block = mb ? mb->m_serial : 0;
  int used = mb ? mb->m_used : -1;
  std::fprintf(stream, " hp: %d ", hp ? hp->id : 0);
  std::fflush(stream);
  std::fprintf(stream, " mb: %d ", block);
  std::fflush(stream);
  std::fprintf(stream, "m_used: %d =====\n", used);
  std::fflush(stream);
}

// Writes the stamp and the message, ending the line when the message does
// not, so that every message is one line of the log.
void write_line(FILE* stream, const char* format, va_list args) {
  char message[8192];
  std::vsnprintf(message, sizeof message, format, args);
  PrintTM(stream);
  std::fputs(message, stream);
  size_t len = std::strlen(message);
  if (len == 0 || message[len - 1] != '\n') std::fputc('\n', stream);
}

}  // namespace

void X_trace_arena(heapalloc* const* arena) { traced_arena = arena; }

void PrintTM(FILE* stream) {
  ClockTime now = X_now();
  if (!stamp_started) {
    stamp_started = true;
    first_second = now.seconds;
    previous_stamp = now;
  }
  int64_t since = (now.seconds - previous_stamp.seconds) * 1000000 +
                  (now.microseconds - previous_stamp.microseconds);
  std::fprintf(stream, "%5d.%06d [%6d] ", static_cast<int>(now.seconds - first_second),
               static_cast<int>(now.microseconds), static_cast<int>(since));
  previous_stamp = now;
}

void X_debug_line(const char* format, ...) {
  if (!debug_decided && X_HOME) {
    debug_decided = true;
    if (home_file_exists("X_DEBUG")) Debug = 1;
    if (home_file_exists("X_DEBUG2")) Debug = 2;
  }
  if (Debug == 0) {
    if (debug_stream) {
      std::fclose(debug_stream);
      debug_stream = nullptr;
    }
    X_debug_idle = debug_decided;
    return;
  }
  X_debug_idle = false;
  if (!debug_stream) debug_stream = open_log("X_DEBUG", "a");
  if (!debug_stream) return;
  va_list args;
  va_start(args, format);
  write_line(debug_stream, format, args);
  va_end(args);
  if (Debug == 2) std::fflush(debug_stream);
}

int X_trace_line(const char* format, ...) {
  if (!X_HOME) return -1;
  if (!X_trace_decided) decide_trace_level();
  if (Trace == 0) return 0;
  // Inline trace is page text: while a CGI header is still open (and
  // throughout a HEAD request, which has no body) it goes to standard error,
  // the web server's log, so that the header stays well formed.
  FILE* stream = Trace == 1 ? (X_body_open() ? X_output() : stderr) : trace_stream;
  if (!stream) return 0;
  va_list args;
  va_start(args, format);
  if (Trace == 1) {
    std::fputs("<hr><h3><pre>", stream);
    PrintTM(stream);
    std::vfprintf(stream, format, args);
    std::fputs("</pre></h3><hr>\n", stream);
  } else if (Trace == 2) {
    write_line(stream, format, args);
    std::fflush(stream);
  } else {
    PrintTM(stream);
    std::vfprintf(stream, format, args);
    print_arena_figures(stream);
  }
  va_end(args);
  return 0;
}
