#include "vandrel/statements/line_cleaner.h"

#include <cstring>

#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/statements/command_table.h"
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

// Kinds of LineFacts::kind. A line that cleaning changes in any other way
// than cutting a command line out (comments, control bytes, continuations)
// is cleaned afresh each time.
constexpr int8_t kPlainText = 1;     // cleaning leaves it as it is
constexpr int8_t kPlainCommand = 2;  // cleaning only moves and cuts the command
constexpr int8_t kCleanedAfresh = 3;

void classify(const X_FILE* file, LineFacts* facts) {
  const char* text = file->text + facts->start;
  size_t length = static_cast<size_t>(facts->length);
  facts->kind = kCleanedAfresh;
  if (memmem(text, length, kCommentOpen, kMarkerLen)) return;
  for (size_t i = 0; i < length; ++i)
    if (static_cast<unsigned char>(text[i]) < 32 && text[i] != '\n') return;
  size_t lead = 0;
  while (lead < length && text[lead] == ' ') ++lead;
  if (lead + 1 >= length || text[lead] != '<' || text[lead + 1] != '@') {
    facts->kind = kPlainText;
    return;
  }
  size_t end = length;
  if (text[end - 1] == '\n') --end;
  if (text[end - 1] == '\\') return;  // a continuation follows
  facts->lead = static_cast<int16_t>(lead);
  facts->clean_length = static_cast<int>(end - lead);
  facts->kind = kPlainCommand;
}

}  // namespace

void X_clean_text(X_FILE* file, char* line) {
  remove_comments(file, line);
  blank_control_bytes(line);
}

bool X_clean_line(X_FILE* file, char* line) {
  LineFacts* facts;
  return X_clean_page_line(file, line, &facts);
}

KnownLine X_take_known_line(X_FILE* file, char* line, const LineFacts** facts) {
  if (file->offset >= file->size) return KnownLine::kUnknown;
  LineFacts* known = X_line_facts(file, file->offset);
  if (!known) return KnownLine::kUnknown;
  KnownLine kind = KnownLine::kUnknown;
  if (known->kind == kPlainText) kind = KnownLine::kText;
  if (known->kind == kPlainCommand && known->code != kCodeUnknown)
    kind = known->code == kTerminatorCode ? KnownLine::kBlockEnd : KnownLine::kCommand;
  if (kind == KnownLine::kUnknown) return kind;
  if (kind == KnownLine::kCommand) {
    std::memcpy(line, file->text + known->start + known->lead, known->clean_length);
    line[known->clean_length] = '\0';
  }
  file->offset += known->length;
  file->line_facts = known;
  *facts = known;
  return kind;
}

bool X_clean_page_line(X_FILE* file, char* line, LineFacts** facts) {
  bool cleaned = false;
  LineFacts* known = X_read_line_facts(file, line, &cleaned);
  *facts = known;
  if (known && known->kind == kLineUnknown) classify(file, known);
  if (known && known->kind == kPlainText) return false;
  if (known && known->kind == kPlainCommand) {
    if (!cleaned) {
      std::memmove(line, line + known->lead, known->clean_length);
      line[known->clean_length] = '\0';
    }
    return true;
  }
  *facts = nullptr;
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
