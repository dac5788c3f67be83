#include "vandrel/statements/variable_commands.h"

#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

// <@set> and <@add>: the name and the value together fit in 1000 bytes.
constexpr size_t kSetLimit = 1000;
// <@replace>: each of its three texts holds at most 99 bytes.
constexpr size_t kReplaceField = 100;

bool has_tag(const char* line, const char* tag) {
  return std::strncmp(line, tag, std::strlen(tag)) == 0;
}

// The command's argument text, substituted.
void substitute_args(const char* line, int compile, char* out) {
  X_transline(X_command_args(line), out, kLineSize, compile);
}

// Takes the name and the value of <@set> and <@add>, cut so that both fit.
void name_and_value(const char* text, char* name, char* value) {
  int used = X_arg_string(text, name, kSetLimit - 1);
  size_t room = kSetLimit - (std::strlen(name) + 1);
  X_arg_string(text + used, value, room);
}

// <@set> and <@add> differ only in how they store the value.
int store_command(const char* tag, const char* trace_name, char* line, int compile, int ignore,
                  void (*store)(const char* name, const char* value)) {
  if (!has_tag(line, tag)) return -1;
  if (ignore) return 0;
  X_trace("%s: {%s} compile: %d ignore: %d \n", trace_name, line, compile, ignore);
  LineBuffer text, name, value;
  substitute_args(line, compile, text.data());
  X_debug("%s // %s \n", line, text.data());
  name_and_value(text.data(), name.data(), value.data());
  store(name.data(), value.data());
  return 0;
}

}  // namespace

int X_set(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  return store_command("<@set>", "X_set", line, compile, ignore,
                       [](const char* name, const char* value) { X_put_value(name, value, 0, 0); });
}

int X_add(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  return store_command("<@add>", "X_add", line, compile, ignore,
                       [](const char* name, const char* value) { X_add_value(name, value); });
}

int X_clear(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@clear>")) return -1;
  if (ignore) return 0;
  X_trace("X_clear: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  LineBuffer text, pattern;
  substitute_args(line, compile, text.data());
  X_debug("%s // %s \n", line, text.data());
  X_arg_string(text.data(), pattern.data(), kLineSize);
  X_clear_value(pattern.data());
  return 0;
}

int X_replace(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@replace>")) return -1;
  if (ignore) return 0;
  X_trace("X_replace: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  LineBuffer text;
  substitute_args(line, compile, text.data());
  X_debug("%s // %s \n", line, text.data());
  char name[kReplaceField], search[kReplaceField], by[kReplaceField];
  const char* p = text.data();
  p += X_arg_string(p, name, sizeof name);
  p += X_arg_string(p, search, sizeof search);
  int third = X_arg_string(p, by, sizeof by);
  if (third == 0 || search[0] == '\0') {
    ERRMSG("Bad syntax in REPLACE: %s ...", text.data());
    return 0;
  }
  const char* value = X_get_value(name);
  if (!value || !value[0]) {
    X_trace("X_replace: NAME: [%s] not exist or NULL value", name);
    return 0;
  }
  X_trace("X_replace: NAME: [%s] VAL: [%s] replace: [%s] by: [%s]", name, value, search, by);
  LineBuffer result;
  char* out = result.data();
  size_t len = 0;
  size_t search_len = std::strlen(search);
  size_t by_len = std::strlen(by);
  const size_t limit = kLineSize - 1;
  for (const char* v = value; *v;) {
    // The result never grows past the line limit: the rest is dropped.
    if (len + by_len > limit) break;
    if (std::strncmp(v, search, search_len) == 0) {
      std::memcpy(out + len, by, by_len);
      len += by_len;
      v += search_len;
    } else {
      out[len++] = *v++;
    }
  }
  out[len] = '\0';
  X_put_value(name, out, 0, 0);
  X_trace("X_replace: NAME: [%s] NEWVAL: [%s]", name, out);
  return 0;
}
