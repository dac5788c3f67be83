// <@while>: the endless loop, and loops over the words or the values of a
// variable.
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/statements/block_commands.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/statements/control_flow.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/arena.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

// A copy of a variable's value chain, restored when its loop ends.
class SavedValues {
 public:
  explicit SavedValues(const char* name) : name_(name), hp_(X_heap_new()) {
    X_USER* user = X_get_user(name);
    if (!user || !hp_) return;
    X_var** tail = &values_;
    for (const X_var* v = &user->var; v; v = v->next) {
      if (!v->value) continue;
      X_var* copy = static_cast<X_var*>(X_heap_alloc(hp_, sizeof(X_var)));
      if (!copy) break;
      // A bound window need not end with a NUL: its first value is read
      // through the store's bounded copy.
      copy->value = X_heap_strdup(hp_, v == &user->var ? X_user_value(user) : v->value);
      *tail = copy;
      tail = &copy->next;
    }
  }
  ~SavedValues() { X_heap_free(hp_); }
  SavedValues(const SavedValues&) = delete;
  SavedValues& operator=(const SavedValues&) = delete;

  const X_var* values() const { return values_; }

  void restore() const {
    if (!values_) return;
    X_put_value(name_, values_->value, 0, 0);
    for (const X_var* v = values_->next; v; v = v->next) X_add_value(name_, v->value);
  }

 private:
  const char* name_;
  X_heap* hp_;
  X_var* values_ = nullptr;
};

// Runs one pass of the body that starts at `body`; false when the loop ends.
bool run_pass(X_FILE* file, long body, int compile) {
  file->offset = body;
  X_notfound(file, compile, 0);
  if (Break) return false;
  Continue = 0;
  return true;
}

void skip_body(X_FILE* file, int compile) { X_notfound(file, compile, 1); }

void end_loop() {
  if (ContinueBreak) return;  // a return passes through: its flags stay
  Continue = 0;
  Break = 0;
}

void X_while_loop(X_FILE* file, int compile) {
  X_trace("X_while_loop: compile: %d \n", compile);
  long body = file->offset;
  while (run_pass(file, body, compile)) {
  }
}

void X_while_words(X_FILE* file, const char* name, const char* sep, int compile) {
  X_trace("X_while_words: name: %s sep: {%s} compile: %d \n", name, sep, compile);
  SavedValues saved(name);
  long body = file->offset;
  bool ran = false;
  if (saved.values()) {
    const char* p = saved.values()->value;
    LineBuffer word;
    while (true) {
      int used = X_arg_string_sep(p, word.data(), kLineSize, sep);
      if (used == 0) break;
      p += used;
      X_put_value(name, word.data(), 0, 0);
      ran = true;
      if (!run_pass(file, body, compile)) break;
    }
  }
  if (!ran) {
    file->offset = body;
    skip_body(file, compile);
  }
  saved.restore();
}

void X_while_values(X_FILE* file, const char* name, int compile) {
  X_trace("X_while_values: name: %s compile: %d \n", name, compile);
  SavedValues saved(name);
  long body = file->offset;
  bool ran = false;
  for (const X_var* v = saved.values(); v; v = v->next) {
    X_put_value(name, v->value, 0, 0);
    ran = true;
    if (!run_pass(file, body, compile)) break;
  }
  if (!ran) skip_body(file, compile);
  saved.restore();
}

}  // namespace

int X_while(X_FILE* file, char* line, int& compile, int ignore) {
  if (std::strncmp(line, "<@while>", 8) != 0) return -1;
  if (ignore) return X_notfound(file, compile, 1);
  X_trace("X_while: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  LineBuffer text;
  X_transline(X_command_args(line), text.data(), kLineSize, compile);
  LineBuffer form, name, sep;
  const char* p = text.data();
  p += X_arg_string(p, form.data(), kLineSize);
  p += X_arg_string(p, name.data(), kLineSize);
  X_arg_string(p, sep.data(), kLineSize);

  Continue = 0;
  Break = 0;
  if (form.data()[0] == '\0') {
    X_while_loop(file, compile);
  } else if (std::strcmp(form.data(), "words") == 0) {
    X_while_words(file, name.data(), sep.data(), compile);
  } else if (std::strcmp(form.data(), "values") == 0) {
    X_while_values(file, name.data(), compile);
  } else {
    ERRMSG("Unknown option: %s in WHILE...", form.data());
    X_notfound(file, compile, 1);
    return 0;
  }
  end_loop();
  return 0;
}
