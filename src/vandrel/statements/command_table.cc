#include "vandrel/statements/command_table.h"

#include <cstring>

#include "vandrel/statements/assign_command.h"
#include "vandrel/statements/block_commands.h"
#include "vandrel/services/cookies.h"
#include "vandrel/core/errors.h"
#include "vandrel/services/string_functions.h"
#include "vandrel/services/stream_commands.h"
#include "vandrel/statements/line_cleaner.h"
#include "vandrel/statements/page_commands.h"
#include "vandrel/services/process_commands.h"
#include "vandrel/services/shm_commands.h"
#include "vandrel/services/sql_commands.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/statements/option_commands.h"
#include "vandrel/statements/variable_commands.h"

namespace {

struct CommandRow {
  const char* word;
  int16_t code;
  CommandHandler handler;  // nullptr: the command's handler is not built in
};

// Words without a handler are recognised but decline, so their lines are
// shown as text.
const CommandRow kCommands[] = {
    {"option", 1, X_option},
    {"compile", 2, X_compile},
    {"html", 3, X_html},
    {"sqltrap", 4, X_sqltrap},
    {"sleep", 5, X_sleep},
    {"usleep", 6, X_usleep},
    {"chdir", 7, X_chdir},
    {"sqlnames", 8, X_sqlnames},
    {"quit", 9, X_quit},
    {"shell", 10, X_shell},
    {"set", 11, X_set},
    {"add", 12, X_add},
    {"include", 13, X_include},
    {"error", 14, X_error},
    {"unlink", 15, X_unlink},
    {"clear", 16, X_clear},
    {"cookie", 17, X_cookie},
    {"fork", 18, X_fork},
    {"file", 19, X_File},
    {"xfile", 20, X_xFile},
    {"replace", 21, X_replace},
    {"while", 22, X_while},
    {"if", 23, X_if},
    {"elif", 24, X_if},
    {"function", 25, X_function},
    {"call", 26, X_call},
    {"exec", 27, X_exec},
    {"return", 28, X_return},
    {"sql", 29, X_sql},
    {"sqlexec", 30, X_sqlexec},
    {"fopen", 31, X_io_fopen},
    {"popen", 32, X_io_popen},
    {"fclose", 33, X_io_fclose},
    {"pclose", 34, X_io_pclose},
    {"fgets", 35, X_io_fgets},
    {"fputs", 36, X_io_fputs},
    {"fseek", 37, X_io_fseek},
    {"shmat", 38, X_shmat},
    {"shmdt", 39, X_shmdt},
    {"end", kTerminatorCode, nullptr},
    {"continue", kTerminatorCode, nullptr},
    {"break", kTerminatorCode, nullptr},
};

constexpr int kMaxCode = 39;

// Commands run inside commands (blocks in blocks, calls, includes) at most
// this deep, so that a hostile page ends with an error instead of
// exhausting the stack.
constexpr int kMaxNesting = 10000;
int nesting = 0;

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
  if (!handler) return X_let(file, line, compile, ignore);
  if (nesting >= kMaxNesting) {
    ERRMSG("Blocks nested too deeply: %s \n", line);
    return 0;  // reporting is locked: the line is dropped
  }
  ++nesting;
  int result = handler(file, line, compile, ignore);
  --nesting;
  return result == 0 ? 0 : X_let(file, line, compile, ignore);
}
