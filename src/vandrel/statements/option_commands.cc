#include "vandrel/statements/option_commands.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/output.h"
#include "vandrel/statements/signals.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

bool has_tag(const char* line, const char* tag) {
  return std::strncmp(line, tag, std::strlen(tag)) == 0;
}

// The command's argument text, substituted.
void substitute_args(const char* line, int compile, char* out) {
  X_transline(X_command_args(line), out, kLineSize, compile);
}

// The options whose settings belong to a higher room, which binds their
// setters at start-up (X_bind_options); unbound, they are unknown options.
OptionBinding supplied[] = {
    {"sql_names", nullptr},
    {"sql_transactions", nullptr},
    {"sql_trap", nullptr},
};

OptionBinding* supplied_option(const char* name) {
  for (OptionBinding& option : supplied)
    if (std::strcmp(name, option.name) == 0) return &option;
  return nullptr;
}

// Applies one option; false when the name or the value is not known.
bool apply_option(const char* name, const char* value, const char* third, int& compile) {
  if (const OptionBinding* option = supplied_option(name))
    return option->apply && option->apply(value, third);
  if (std::strcmp(name, "signal") == 0) {
    int signo = X_signal_number(value);
    if (signo < 0) {
      ERRMSG("## Wrong or unsupported signal name: %s !!", value);
      return true;
    }
    X_set_signal(signo, third);
    return true;
  }
  if (std::strcmp(name, "alarm") == 0) {
    if (value[0] == '\0' || std::strspn(value, "0123456789") != std::strlen(value)) return false;
    alarm(static_cast<unsigned>(std::atoi(value)));
    return true;
  }
  if (std::strcmp(name, "latin_html") == 0) return X_option_on_off(value, &HTML);
  if (std::strcmp(name, "ignore_empty_lines") == 0) return X_option_on_off(value, &IgnoreEmpty);
  if (std::strcmp(name, "flush_lines") == 0) return X_option_on_off(value, &FlushLines);
  if (std::strcmp(name, "translate") == 0) return X_option_on_off(value, &compile);
  if (std::strcmp(name, "debug") == 0) return X_option_on_off(value, &Debug);
  return false;
}

// <@html> and <@compile>: "OFF" switches off, else "ON" switches on.
void switch_flag(const char* text, int* flag) {
  if (std::strstr(text, "OFF")) {
    *flag = 0;
  } else if (std::strstr(text, "ON")) {
    *flag = 1;
  }
}

}  // namespace

bool X_option_on_off(const char* value, int* flag) {
  if (std::strcmp(value, "on") == 0) {
    *flag = 1;
  } else if (std::strcmp(value, "off") == 0) {
    *flag = 0;
  } else {
    return false;
  }
  return true;
}

bool X_bind_options(const OptionBinding* rows, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!rows[i].name || !rows[i].apply || !supplied_option(rows[i].name)) return false;
  for (size_t i = 0; i < count; ++i) supplied_option(rows[i].name)->apply = rows[i].apply;
  return true;
}

int X_option(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@option>")) return -1;
  X_trace("X_option: buff= %s; compile= %d ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text, name, value, third;
  substitute_args(line, compile, text.data());
  X_debug("%s // %s\n", line, text.data());
  const char* p = text.data();
  p += X_arg_string(p, name.data(), kLineSize);
  p += X_arg_string(p, value.data(), kLineSize);
  X_arg_string(p, third.data(), kLineSize);
  lowercase(name.data());
  lowercase(value.data());
  if (!apply_option(name.data(), value.data(), third.data(), compile))
    ERRMSG("Unknown option: %s", text.data());
  return 0;
}

int X_html(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@html>")) return -1;
  X_trace("X_html: buff= %s; compile= %d ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text;
  substitute_args(line, compile, text.data());
  X_debug("%s // %s\n", line, text.data());
  switch_flag(text.data(), &HTML);
  return 0;
}

int X_compile(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@compile>")) return -1;
  X_trace("X_compile: buff= %s; compile= %d ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text;
  substitute_args(line, compile, text.data());
  X_debug("%s // %s\n", line, text.data());
  switch_flag(text.data(), &compile);
  return 0;
}

int X_error(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@error>")) return -1;
  if (ignore) return 0;
  X_trace("X_error: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  LineBuffer text;
  substitute_args(line, compile, text.data());
  X_debug("%s // %s \n", line, text.data());
  ERRMSG("%s", text.data());
  return 0;
}
