#include "vandrel/services/exec_command.h"

#include <cstdio>
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

constexpr char kTag[] = "<@exec>";
// A function name has at most 39 characters.
constexpr size_t kNameSize = 40;

// The two arguments every string function takes.
struct TwoArgs {
  char first[kLineSize];
  char second[kLineSize];
};

void take_two(const char* args, TwoArgs& out) {
  int used = X_arg_string(args, out.first, sizeof out.first);
  X_arg_string(args + used, out.second, sizeof out.second);
}

// The first value of `u` and the number of bytes it may be read. A bound
// variable's window has a fixed length and need not hold a terminating NUL.
size_t value_length(const X_USER* u) {
  if (u->var.value == nullptr) return 0;
  if (u->fixed == kBound) return strnlen(u->var.value, X_window_length(u));
  return std::strlen(u->var.value);
}

int strcut(const char* args) {
  X_trace("cutstr: fname= %s args= %s \n", "strcut", args);
  TwoArgs a;
  take_two(args, a);
  X_trace("cutstr: name= [%s] str= [%s] \n", a.first, a.second);
  X_USER* u = X_get_user(a.first);
  size_t cut_len = std::strlen(a.second);
  // An empty text would "occur" at the start and wipe the value: take it as
  // a missing argument instead.
  if (u == nullptr || cut_len == 0) return 0;
  size_t len = value_length(u);
  char* value = u->var.value;
  for (size_t i = 0; i + cut_len <= len; ++i) {
    if (std::memcmp(value + i, a.second, cut_len) == 0) {
      value[i] = '\0';
      break;
    }
  }
  return 0;
}

int chchar(const char* args) {
  X_trace("chchar: fname= %s args= %s \n", "chchar", args);
  TwoArgs a;
  take_two(args, a);
  X_trace("cutstr: name= [%s] str= [%s] \n", a.first, a.second);
  X_USER* u = X_get_user(a.first);
  if (u == nullptr || std::strlen(a.second) != 3) return 0;
  const char from = a.second[0];
  const char to = a.second[2];
  size_t len = value_length(u);
  char* value = u->var.value;
  for (size_t i = 0; i < len; ++i) {
    if (value[i] == from) value[i] = to;
  }
  return 0;
}

int str_length(const char* args) {
  X_trace("strlen: fname= %s args= %s \n", "strlen", args);
  TwoArgs a;
  take_two(args, a);
  X_trace("strlen: STRname= [%s] LENname= [%s] \n", a.first, a.second);
  X_USER* u = X_get_user(a.first);
  if (u == nullptr || a.second[0] == '\0') return 0;
  char text[32];
  std::snprintf(text, sizeof text, "%zu", value_length(u));
  X_put_value(a.second, text, 0, 0);
  return 0;
}

struct Function {
  const char* name;
  int (*run)(const char* args);
};

constexpr Function kFunctions[] = {
    {"strcut", strcut},
    {"chchar", chchar},
    {"strlen", str_length},
};

}  // namespace

int X_exec_call(const char* name, const char* args) {
  if (name == nullptr) name = "";
  if (args == nullptr) args = "";
  X_trace("X_exec_call: name= %s args= %s \n", name, args);
  for (const Function& f : kFunctions) {
    if (std::strcmp(name, f.name) == 0) return f.run(args);
  }
  ERRMSG("EXEC: Unknown function name: %s \n", name);
  return -1;
}

int X_exec(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (line == nullptr || std::strncmp(line, kTag, sizeof kTag - 1) != 0) return -1;
  X_trace("X_exec: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  char text[kLineSize];
  X_transline(X_command_args(line), text, sizeof text, compile);
  char name[kNameSize];
  int used = X_arg_string(text, name, sizeof name);
  X_exec_call(name, text + used);
  return 0;
}
