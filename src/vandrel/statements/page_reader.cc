#include "vandrel/statements/page_reader.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/statements/control_flow.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/arena.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/output.h"
#include "vandrel/core/settings.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/statements/signals.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

const char* DIR = ".";

namespace {

int page_level = 0;

bool same_file(const X_FILE* f, const char* path, const struct stat& st) {
  return std::strncmp(f->path, path, kPagePathSize - 1) == 0 && f->stat.st_dev == st.st_dev &&
         f->stat.st_ino == st.st_ino && f->stat.st_size == st.st_size &&
         f->stat.st_mtim.tv_sec == st.st_mtim.tv_sec &&
         f->stat.st_mtim.tv_nsec == st.st_mtim.tv_nsec;
}

X_FILE* find_loaded(const char* path, const struct stat& st) {
  for (X_FILE* f = x_BUFFERS.files; f; f = f->next)
    if (same_file(f, path, st)) return f;
  return nullptr;
}

// Reached only when ERRMSG returned, that is while an error is already being
// reported: the page that failed is the error page itself (or one it runs),
// so the run ends at once.
[[noreturn]] void fail_inside_error(const char* html_format, const char* path) {
  std::fprintf(X_output(), html_format, path);
  std::fflush(X_output());
  X_exit(kFatalStatus);
}

// Reads `path` into a new cached page; nullptr when it cannot be opened.
X_FILE* load_page(const char* path, const struct stat& st) {
  FILE* in = std::fopen(path, "r");
  if (!in) return nullptr;
  // The text and its record live in the main arena for the life of the process.
  if (st.st_size > INT_MAX - 64) {
    std::fclose(in);
    errno = EFBIG;
    return nullptr;
  }
  X_FILE* f = static_cast<X_FILE*>(X_heap_alloc(x_BUFFERS.hp, sizeof(X_FILE)));
  char* text = f ? static_cast<char*>(X_heap_alloc(x_BUFFERS.hp, st.st_size + 16)) : nullptr;
  if (!text) {
    std::fclose(in);
    return nullptr;
  }
  size_t got = std::fread(text, 1, st.st_size, in);
  std::fclose(in);
  text[got] = '\0';
  f->text = text;
  f->offset = 0;
  f->size = static_cast<long>(got);
  f->stat = st;
  std::snprintf(f->path, sizeof f->path, "%s", path);
  f->next = x_BUFFERS.files;
  x_BUFFERS.files = f;
  X_trace("File SIZE: %d\n", static_cast<int>(f->size));
  if (f->size > 100) X_trace("LAST 100 CHARS ===>\n%s\n===>\n", f->text + f->size - 100);
  return f;
}

// The directory of `path` relative to the root: "." for the root itself,
// "./sub" below it, the page's own directory outside it, "/" when empty.
void page_dir(const char* path, char* out, size_t out_size) {
  size_t root_len = X_ROOT ? std::strlen(X_ROOT) : 0;
  bool inside = X_ROOT && std::strcmp(X_ROOT, "/") != 0 &&
                std::strncmp(path, X_ROOT, root_len) == 0 && path[root_len] == '/';
  if (inside) {
    std::snprintf(out, out_size, "./%s", path + root_len + 1);
  } else {
    std::snprintf(out, out_size, "%s", path);
  }
  char* slash = std::strrchr(out, '/');
  if (!slash) {
    std::snprintf(out, out_size, ".");  // a relative path in the working directory
    return;
  }
  *slash = '\0';
  if (out[0] == '\0') std::snprintf(out, out_size, "/");
}

// Every line of a page can get its facts; a page of many more lines keeps
// them for its first lines only.
constexpr int kMaxFactsSlots = 1 << 18;

unsigned slot_of(long start, unsigned mask) {
  return static_cast<unsigned>((static_cast<unsigned long>(start) * 0x9E3779B97F4A7C15ul) >> 40) &
         mask;
}

bool make_facts_table(X_FILE* file) {
  if (!x_BUFFERS.hp) return false;
  long lines = 1;
  for (const char* p = file->text; (p = static_cast<const char*>(
                                        std::memchr(p, '\n', file->text + file->size - p)));
       ++p)
    ++lines;
  int slots = 16;
  while (slots < kMaxFactsSlots && slots < 2 * lines) slots *= 2;
  auto* table = static_cast<LineFacts*>(
      X_heap_alloc(x_BUFFERS.hp, static_cast<int>(sizeof(LineFacts)) * slots));
  if (!table) return false;
  for (int i = 0; i < slots; ++i) table[i].start = -1;
  file->facts = table;
  file->facts_slots = slots;
  file->facts_used = 0;
  return true;
}

}  // namespace

int X_fgets(char* buffer, int size, X_FILE* file) {
  file->line_facts = nullptr;
  if (size <= 1 || file->offset >= file->size) {
    if (size > 0) buffer[0] = '\0';
    return 0;
  }
  const char* start = file->text + file->offset;
  LineFacts* facts = X_line_facts(file, file->offset);
  if (facts && !facts->has_nul && facts->length < size) {
    std::memcpy(buffer, start, facts->length);
    buffer[facts->length] = '\0';
    file->offset += facts->length;
    file->line_facts = facts;
    return facts->length;
  }
  long left = file->size - file->offset;
  long room = size - 1;
  long n = left < room ? left : room;
  const void* newline = std::memchr(start, '\n', n);
  if (newline) n = static_cast<const char*>(newline) - start + 1;
  std::memcpy(buffer, start, n);
  buffer[n] = '\0';
  // A NUL inside the page would end the line early; it is a control byte
  // like the others and reads as a blank.
  for (char* p = static_cast<char*>(std::memchr(buffer, '\0', n)); p;
       p = static_cast<char*>(std::memchr(p, '\0', buffer + n - p)))
    *p = ' ';
  file->offset += n;
  return static_cast<int>(n);
}

LineFacts* X_line_facts(X_FILE* file, long start) {
  if (start < 0 || start >= file->size) return nullptr;
  if (!file->facts && !make_facts_table(file)) return nullptr;
  unsigned mask = static_cast<unsigned>(file->facts_slots) - 1;
  unsigned i = slot_of(start, mask);
  while (file->facts[i].start != -1) {
    if (file->facts[i].start == start) return &file->facts[i];
    i = (i + 1) & mask;
  }
  // Half full at most, so that a search ends soon on an empty slot.
  if (file->facts_used >= file->facts_slots / 2) return nullptr;
  const char* text = file->text + start;
  long left = file->size - start;
  long scan = left < kLineSize ? left : kLineSize;
  const void* newline = std::memchr(text, '\n', scan);
  long length = newline ? static_cast<const char*>(newline) - text + 1 : left;
  if (length > kLineSize - 1) return nullptr;  // read in pieces, as it comes
  LineFacts& facts = file->facts[i];
  facts.start = start;
  facts.length = static_cast<int>(length);
  facts.has_nul = std::memchr(text, '\0', length) != nullptr;
  facts.kind = kLineUnknown;
  facts.code = kCodeUnknown;
  facts.lead = 0;
  facts.clean_length = 0;
  ++file->facts_used;
  return &facts;
}

LineFacts* X_read_line_facts(X_FILE* file, const char* line, bool* cleaned) {
  if (!file || !file->line_facts) return nullptr;
  LineFacts* facts = file->line_facts;
  if (file->offset != facts->start + facts->length) return nullptr;
  const char* raw = file->text + facts->start;
  // The page bytes hold no NUL, so the comparison ends within `line`'s text
  // and the byte after it is read only when the text is at least as long.
  if (std::strncmp(line, raw, facts->length) == 0 && line[facts->length] == '\0') {
    *cleaned = false;
    return facts;
  }
  if (facts->clean_length > 0 && facts->clean_length <= facts->length - facts->lead &&
      std::strncmp(line, raw + facts->lead, facts->clean_length) == 0 &&
      line[facts->clean_length] == '\0') {
    *cleaned = true;
    return facts;
  }
  return nullptr;
}

int X_printfile(const char* path, int compile) {
  X_trace("X_printfile: %s compile: %d level: %d\n", path, compile, page_level);
  if (page_level > kMaxPageLevel) return -1;

  struct stat st;
  if (stat(path, &st) != 0) {
    ERRMSG("Cannot access file: %s \n", path);
    fail_inside_error("<hr><h1> Cannot access file: %s </h1><hr>\n", path);
  }
  X_FILE* file = find_loaded(path, st);
  const bool reused = file != nullptr;
  long saved_offset = 0;
  if (reused) {
    saved_offset = file->offset;
    file->offset = 0;
    X_trace("Reused, File SIZE: %d\n", static_cast<int>(file->size));
  } else {
    file = load_page(path, st);
    if (!file) {
      ERRMSG("Cannot open file: %s \n", path);
      fail_inside_error("<hr><h1> Cannot open file: %s </h1><hr>\n", path);
    }
  }

  ++page_level;
  char dir[PATH_MAX];
  page_dir(path, dir, sizeof dir);
  const char* saved_dir = DIR;
  DIR = dir;

  LineBuffer line;
  while (X_fgets(line.data(), kLineSize, file) > 0) {
    X_signal_point();
    if (X_command(file, line.data(), compile, 0) != 0) {
      X_transline(line.data(), nullptr, 0, compile);
    } else if (Break) {
      Continue = 0;
      Break = 0;
      break;
    }
  }

  --page_level;
  DIR = saved_dir;
  // A file run again while it already runs (a self-include, a function
  // defined in it) continues where its outer run stood.
  if (reused) file->offset = saved_offset;
  return 0;
}

int X_trans_printfile(const char* args, int compile) {
  LineBuffer text;
  LineBuffer path;
  X_transline(args, text.data(), kLineSize, compile);
  X_arg_string(text.data(), path.data(), kLineSize);
  return X_printfile(path.data(), compile);
}
