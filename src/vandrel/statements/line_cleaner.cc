#include "vandrel/statements/line_cleaner.h"

#include <cstring>

#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/statements/page_reader.h"

namespace {

constexpr char kCommentOpen[] = "<@--";
constexpr char kCommentClose[] = "--@>";
constexpr size_t kMarkerLen = 4;

// Moves the read position of `file` just past the next comment end marker;
// false (position at the end) when the page has none.
bool skip_to_comment_end(X_FILE* file) {
  const char* from = file->text + file->offset;
  const void* end = memmem(from, file->size - file->offset, kCommentClose, kMarkerLen);
  if (!end) {
    file->offset = file->size;
    return false;
  }
  file->offset = static_cast<const char*>(end) - file->text + kMarkerLen;
  return true;
}

void remove_comments(X_FILE* file, char* line) {
  for (char* open = std::strstr(line, kCommentOpen); open; open = std::strstr(open, kCommentOpen)) {
    char* close = std::strstr(open + kMarkerLen, kCommentClose);
    if (close) {
      char* rest = close + kMarkerLen;
      std::memmove(open, rest, std::strlen(rest) + 1);
      continue;
    }
    // The comment spans lines: the rest of the line that closes it is
    // joined to the text before the opener.
    *open = '\0';
    if (!skip_to_comment_end(file)) return;
    int room = kLineSize - static_cast<int>(open - line);
    X_fgets(open, room, file);
  }
}

void blank_control_bytes(char* line) {
  for (unsigned char* p = reinterpret_cast<unsigned char*>(line); *p; ++p)
    if (*p < 32 && *p != '\n') *p = ' ';
}

// Removes one trailing newline; returns the new length.
size_t chop_newline(char* text) {
  size_t len = std::strlen(text);
  if (len > 0 && text[len - 1] == '\n') text[--len] = '\0';
  return len;
}

// Appends continuation lines to the command in `line` (whose trailing
// backslash is already removed). A continuation line that itself ends in a
// backslash carries on, its backslash read as a blank.
void join_continuations(X_FILE* file, char* line, size_t len) {
  LineBuffer next;
  bool more = true;
  while (more && X_fgets(next.data(), kLineSize, file) > 0) {
    X_clean_text(file, next.data());
    size_t add = chop_newline(next.data());
    more = add > 0 && next.data()[add - 1] == '\\';
    if (more) next.data()[add - 1] = ' ';
    if (len + add > static_cast<size_t>(kLineSize - 1)) {
      ERRMSG("cut_cmd: No more memory...");
      // Reporting is locked (an error page is running): keep what fits.
      add = kLineSize - 1 - len;
      more = false;
    }
    std::memcpy(line + len, next.data(), add);
    len += add;
    line[len] = '\0';
  }
}

}  // namespace

void X_clean_text(X_FILE* file, char* line) {
  remove_comments(file, line);
  blank_control_bytes(line);
}

bool X_clean_line(X_FILE* file, char* line) {
  X_clean_text(file, line);
  const char* start = line + std::strspn(line, " ");
  if (start[0] != '<' || start[1] != '@') return false;
  if (start != line) std::memmove(line, start, std::strlen(start) + 1);
  size_t len = chop_newline(line);
  if (len > 0 && line[len - 1] == '\\') {
    line[--len] = '\0';
    join_continuations(file, line, len);
  }
  return true;
}
