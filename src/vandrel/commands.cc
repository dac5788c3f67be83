#include "commands.h"

#include <cstring>

#include "line_cleaner.h"
#include "page_commands.h"
#include "store.h"

namespace {

struct CommandRow {
  const char* word;
  int16_t code;
  CommandHandler handler;  // nullptr: the command's handler is not built in
};

// Words without a handler are recognised but decline, so their lines are
// shown as text.
const CommandRow kCommands[] = {
    {"option", 1, nullptr},     {"compile", 2, nullptr},    {"html", 3, nullptr},
    {"sqltrap", 4, nullptr},    {"sleep", 5, nullptr},      {"usleep", 6, nullptr},
    {"chdir", 7, nullptr},      {"sqlnames", 8, nullptr},   {"quit", 9, X_quit},
    {"shell", 10, nullptr},     {"set", 11, nullptr},       {"add", 12, nullptr},
    {"include", 13, X_include}, {"error", 14, nullptr},     {"unlink", 15, nullptr},
    {"clear", 16, nullptr},     {"cookie", 17, nullptr},    {"fork", 18, nullptr},
    {"file", 19, X_File},       {"xfile", 20, X_xFile},     {"replace", 21, nullptr},
    {"while", 22, nullptr},     {"if", 23, nullptr},        {"elif", 24, nullptr},
    {"function", 25, nullptr},  {"call", 26, nullptr},      {"exec", 27, nullptr},
    {"return", 28, nullptr},    {"sql", 29, nullptr},       {"sqlexec", 30, nullptr},
    {"fopen", 31, nullptr},     {"popen", 32, nullptr},     {"fclose", 33, nullptr},
    {"pclose", 34, nullptr},    {"fgets", 35, nullptr},     {"fputs", 36, nullptr},
    {"fseek", 37, nullptr},     {"shmat", 38, nullptr},     {"shmdt", 39, nullptr},
    {"end", kTerminatorCode, nullptr},
    {"continue", kTerminatorCode, nullptr},
    {"break", kTerminatorCode, nullptr},
};

constexpr int kMaxCode = 39;

CommandHandler handler_for(int code) {
  static CommandHandler handlers[kMaxCode + 1] = {};
  static bool filled = false;
  if (!filled) {
    for (const CommandRow& row : kCommands)
      if (row.code <= kMaxCode) handlers[row.code] = row.handler;
    filled = true;
  }
  return code >= 1 && code <= kMaxCode ? handlers[code] : nullptr;
}

void fill_command_tree() {
  static X_CMD records[sizeof kCommands / sizeof kCommands[0]];
  int i = 0;
  for (const CommandRow& row : kCommands) {
    if (row.code == 0) continue;
    X_CMD& cmd = records[i++];
    cmd.node.key = row.word;
    cmd.code = row.code;
    AVL_insert(&x_BUFFERS.ctree, &cmd.node);
  }
}

// The assignment command: a tag holding a variable name directly followed
// by an operator. Assignment operators are not built in yet, so every such
// line is left to be shown as text.
int X_let(X_FILE* /*file*/, char* /*line*/, int& /*compile*/, int /*ignore*/) { return -1; }

}  // namespace

int X_search_command(const char* word) {
  static bool filled = false;
  if (!filled) {
    fill_command_tree();
    filled = true;
  }
  const avl* node = AVL_search(&x_BUFFERS.ctree, word);
  return node ? reinterpret_cast<const X_CMD*>(node)->code : -1;
}

const char* X_command_args(const char* line) {
  const char* end = std::strchr(line, '>');
  return end ? end + 1 : line + std::strlen(line);
}

int X_command(X_FILE* file, char* line, int& compile, int ignore) {
  if (!X_clean_line(file, line)) return -1;

  const char* word = line + 2;
  size_t scan = strnlen(word, kMaxCommandWord + 1);
  const char* end = static_cast<const char*>(std::memchr(word, '>', scan));
  if (!end) return X_let(file, line, compile, ignore);

  char name[kMaxCommandWord + 1];
  size_t len = end - word;
  std::memcpy(name, word, len);
  name[len] = '\0';

  int code = X_search_command(name);
  if (code == kTerminatorCode) return -1;
  CommandHandler handler = handler_for(code);
  if (handler && handler(file, line, compile, ignore) == 0) return 0;
  return X_let(file, line, compile, ignore);
}
