#include "vandrel/statements/command_table.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "vandrel/statements/assign_command.h"
#include "vandrel/statements/block_commands.h"
#include "vandrel/core/errors.h"
#include "vandrel/statements/line_cleaner.h"
#include "vandrel/statements/page_commands.h"
#include "vandrel/statements/option_commands.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/statements/variable_commands.h"

namespace {

struct CommandRow {
  const char* word;
  int16_t code;
  CommandHandler handler;  // nullptr: supplied by a higher room, or none
};

// The language's command words. The services' words have their handlers
// bound at start-up (X_bind_commands); words without a handler are
// recognised but decline, so their lines are shown as text.
constexpr CommandRow kCommands[] = {
    {"option", 1, X_option},
    {"compile", 2, X_compile},
    {"html", 3, X_html},
    {"sqltrap", 4, nullptr},
    {"sleep", 5, nullptr},
    {"usleep", 6, nullptr},
    {"chdir", 7, nullptr},
    {"sqlnames", 8, nullptr},
    {"quit", 9, X_quit},
    {"shell", 10, nullptr},
    {"set", 11, X_set},
    {"add", 12, X_add},
    {"include", 13, X_include},
    {"error", 14, X_error},
    {"unlink", 15, nullptr},
    {"clear", 16, X_clear},
    {"cookie", 17, nullptr},
    {"fork", 18, nullptr},
    {"file", 19, X_File},
    {"xfile", 20, X_xFile},
    {"replace", 21, X_replace},
    {"while", 22, X_while},
    {"if", 23, X_if},
    {"elif", 24, X_if},
    {"function", 25, X_function},
    {"call", 26, X_call},
    {"exec", 27, nullptr},
    {"return", 28, X_return},
    {"sql", 29, nullptr},
    {"sqlexec", 30, nullptr},
    {"fopen", 31, nullptr},
    {"popen", 32, nullptr},
    {"fclose", 33, nullptr},
    {"pclose", 34, nullptr},
    {"fgets", 35, nullptr},
    {"fputs", 36, nullptr},
    {"fseek", 37, nullptr},
    {"shmat", 38, nullptr},
    {"shmdt", 39, nullptr},
    {"end", kTerminatorCode, nullptr},
    {"continue", kTerminatorCode, nullptr},
    {"break", kTerminatorCode, nullptr},
};

constexpr int kMaxCode = 39;

constexpr bool codes_fit() {
  for (const CommandRow& row : kCommands)
    if (row.code != kTerminatorCode && (row.code < 1 || row.code > kMaxCode)) return false;
  return kTerminatorCode > kMaxCode;
}
static_assert(codes_fit(), "every command code but the terminators' indexes the handler table");

// Commands run inside commands (blocks in blocks, calls, includes) at most
// this deep, so that a hostile page ends with an error instead of
// exhausting the stack.
constexpr int kMaxNesting = 10000;
int nesting = 0;

// The count alone does not protect the stack: a level costs some hundred
// bytes (more in a sanitizer build), so under a small stack limit the
// stack would run out long before the count. Nesting therefore also ends
// where the stack the process may have is used up, keeping a reserve for
// the error report and the error page that then run on top of it.
constexpr uintptr_t kStackReserve = 256 * 1024;
constexpr uintptr_t kUnlimitedStack = 8 * 1024 * 1024;  // what "unlimited" is taken for
uintptr_t stack_base = 0;    // the frame of the outermost command
uintptr_t stack_budget = 0;  // how far below it commands may nest

uintptr_t stack_budget_of_limit() {
  rlimit limit;
  uintptr_t bytes = kUnlimitedStack;
  if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    bytes = static_cast<uintptr_t>(limit.rlim_cur);
  return bytes > 2 * kStackReserve ? bytes - kStackReserve : bytes / 2;
}

// True when one more level would leave less than the reserve. The stack
// grows down on every machine this runs on.
bool stack_used_up() {
  uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (nesting == 0) {
    stack_base = here;
    if (stack_budget == 0) stack_budget = stack_budget_of_limit();
    return false;
  }
  return here < stack_base && stack_base - here > stack_budget;
}

// The handler of each code, so that running a command costs one index once
// its word is known. Filled at compile time, so bindings made before main's
// first line find the built-in handlers already in place.
struct HandlerTable {
  CommandHandler by_code[kMaxCode + 1] = {};
  constexpr HandlerTable() {
    for (const CommandRow& row : kCommands)
      if (row.code >= 1 && row.code <= kMaxCode) by_code[row.code] = row.handler;
  }
};
constinit HandlerTable handlers;

CommandHandler handler_for(int code) {
  return code >= 1 && code <= kMaxCode ? handlers.by_code[code] : nullptr;
}

// The code of a word a handler may be bound to, or -1.
int bindable_code(const char* word) {
  for (const CommandRow& row : kCommands)
    if (std::strcmp(row.word, word) == 0)
      return row.code >= 1 && row.code <= kMaxCode ? row.code : -1;
  return -1;
}

constexpr size_t kWordCount = sizeof kCommands / sizeof kCommands[0];

// The words in byte order, for a binary search: the table has no state to
// fill, so every store and every process finds the words from the start.
struct WordIndex {
  X_CMD rows[kWordCount] = {};
  constexpr WordIndex() {
    for (size_t i = 0; i < kWordCount; ++i) rows[i] = X_CMD{kCommands[i].word, kCommands[i].code};
    std::sort(rows, rows + kWordCount, [](const X_CMD& a, const X_CMD& b) {
      return std::string_view(a.word) < std::string_view(b.word);
    });
  }
  constexpr bool unique() const {
    for (size_t i = 1; i < kWordCount; ++i)
      if (std::string_view(rows[i - 1].word) == std::string_view(rows[i].word)) return false;
    return true;
  }
};
constexpr WordIndex kWords;
static_assert(kWords.unique(), "a command word is in the table once");

// The code of a cleaned command line whose word has no ">" within the
// longest word's reach: the line can only be an assignment.
constexpr int kNoWordEnd = -2;

int word_code(const char* line) {
  const char* word = line + 2;
  size_t scan = strnlen(word, kMaxCommandWord + 1);
  const char* end = static_cast<const char*>(std::memchr(word, '>', scan));
  if (!end) return kNoWordEnd;
  char name[kMaxCommandWord + 1];
  size_t len = end - word;
  std::memcpy(name, word, len);
  name[len] = '\0';
  const X_CMD* row = X_find_command(name);
  return row ? row->code : -1;
}

}  // namespace

bool X_bind_commands(const CommandBinding* rows, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!rows[i].word || !rows[i].handler || bindable_code(rows[i].word) < 0) return false;
  for (size_t i = 0; i < count; ++i)
    handlers.by_code[bindable_code(rows[i].word)] = rows[i].handler;
  return true;
}

const X_CMD* X_find_command(const char* word) {
  const X_CMD* end = kWords.rows + kWordCount;
  const X_CMD* row = std::lower_bound(kWords.rows, end, word, [](const X_CMD& r, const char* w) {
    return std::strcmp(r.word, w) < 0;
  });
  return row != end && std::strcmp(row->word, word) == 0 ? row : nullptr;
}

int X_search_command(const char* word) {
  const X_CMD* row = X_find_command(word);
  return row ? row->code : -1;
}

const char* X_command_args(const char* line) {
  const char* end = std::strchr(line, '>');
  return end ? end + 1 : line + std::strlen(line);
}

int X_command(X_FILE* file, char* line, int& compile, int ignore) {
  LineFacts* facts = nullptr;
  if (!X_clean_page_line(file, line, &facts)) return -1;

  int code = facts ? facts->code : kCodeUnknown;
  if (code == kCodeUnknown) {
    code = word_code(line);
    if (facts) facts->code = static_cast<int16_t>(code);
  }
  return X_run_command(file, line, code, compile, ignore);
}

int X_run_command(X_FILE* file, char* line, int code, int& compile, int ignore) {
  if (code == kNoWordEnd) return X_let(file, line, compile, ignore);
  if (code == kTerminatorCode) return -1;
  CommandHandler handler = handler_for(code);
  if (!handler) return X_let(file, line, compile, ignore);
  if (nesting >= kMaxNesting || stack_used_up()) {
    ERRMSG("Blocks nested too deeply: %s \n", line);
    return 0;  // reporting is locked: the line is dropped
  }
  ++nesting;
  int result = handler(file, line, compile, ignore);
  --nesting;
  return result == 0 ? 0 : X_let(file, line, compile, ignore);
}
