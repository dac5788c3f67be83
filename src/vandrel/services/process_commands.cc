#include "vandrel/services/process_commands.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "vandrel/core/argument_split.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/core/errors.h"
#include "vandrel/services/stream_commands.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/numbers.h"
#include "vandrel/core/output.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

bool has_tag(const char* line, const char* tag) {
  return std::strncmp(line, tag, std::strlen(tag)) == 0;
}

// The command's argument text, substituted and logged.
void substitute(const char* line, int compile, char* text) {
  X_transline(X_command_args(line), text, kLineSize, compile);
  X_debug("%s // %s \n", line, text);
}

// The substituted text's first argument.
void first_argument(const char* line, int compile, char* out) {
  LineBuffer text;
  substitute(line, compile, text.data());
  X_arg_string(text.data(), out, kLineSize);
}

}  // namespace

int X_shell(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@shell>")) return -1;
  if (ignore) return 0;
  LineBuffer command;
  substitute(line, compile, command.data());
  X_trace("X_shell: {%s}\n", command.data());
  // The command writes straight to the process's output: what the page wrote
  // before must be out first.
  X_flush_streams();
  if (std::system(command.data()) == -1) ERRMSG("Cannot run SHELL: %s \n", command.data());
  return 0;
}

int X_fork(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@fork>")) return -1;
  X_trace("X_fork: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer name;
  first_argument(line, compile, name.data());
  // Both processes would write out whatever is still buffered.
  X_flush_streams();
  pid_t pid = fork();
  char text[24];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(pid));
  X_put_value(name.data(), text, 0, 0);
  return 0;
}

int X_unlink(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@unlink>")) return -1;
  X_trace("X_unlink: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer path;
  first_argument(line, compile, path.data());
  if (unlink(path.data()) != 0) X_trace("X_unlink: cannot remove {%s}\n", path.data());
  return 0;
}

int X_chdir(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@chdir>")) return -1;
  X_trace("X_chdir: buff= %s; compile= %d ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer path;
  first_argument(line, compile, path.data());
  if (chdir(path.data()) != 0) X_trace("X_chdir: cannot change to {%s}\n", path.data());
  return 0;
}

int X_sleep(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@sleep>")) return -1;
  X_trace("X_sleep: buff= %s; compile= %d ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text;
  substitute(line, compile, text.data());
  int seconds = X_atoi(text.data());
  if (seconds > 0) {
    X_output_flush();  // the reader has what came before while the page waits
    sleep(static_cast<unsigned>(seconds));
  }
  return 0;
}

int X_usleep(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@usleep>")) return -1;
  X_trace("X_usleep: buff= %s; compile= %d ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text;
  substitute(line, compile, text.data());
  int micros = X_atoi(text.data());
  // usleep() may refuse a second or more; nanosleep takes any length.
  if (micros > 0) {
    X_output_flush();
    struct timespec wait = {micros / 1000000, (micros % 1000000) * 1000L};
    nanosleep(&wait, nullptr);
  }
  return 0;
}
