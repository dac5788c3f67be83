// Variable store: every value a page sees is a named variable in one
// process-wide tree. Each variable owns an arena from which all its values
// are allocated, so replacing a value is a reset and clearing is one release.
#ifndef VANDREL_CORE_VARIABLE_STORE_H_
#define VANDREL_CORE_VARIABLE_STORE_H_

#include <cstddef>
#include <cstdint>

#include "vandrel/core/avl_tree.h"
#include "vandrel/core/arena.h"

struct X_FILE;

// One value of a variable.
struct X_var {
  X_var* next;
  char* value;  // NUL-terminated
};

// Marks of X_USER::fixed.
constexpr int16_t kOrdinary = 0;
constexpr int16_t kReadOnly = 1;
constexpr int16_t kBound = 2;  // first value points into a shared-memory window

struct X_USER {
  avl node;        // key = name
  char* name;
  X_var var;       // first value and the chain of further values
  int16_t fixed;   // kOrdinary, kReadOnly or kBound
  int16_t cookie;  // bound: length of the window; otherwise a caller's mark
  X_heap* hp;      // the variable's own arena
  X_USER* next;    // used while collecting (clearing, hidden call arguments)
  char* view;      // bound: terminated copy of the window, refreshed on every read
};

// The single root record of the interpreter.
struct X_BUFFERS {
  X_FILE* files;   // loaded page files, newest first
  avl_tree vtree;  // variables (X_USER)
  avl_tree ftree;  // page functions
  X_heap* hp;      // the main arena
};
extern X_BUFFERS x_BUFFERS;

// Creates the main arena and the two empty trees. Called once at start.
void X_store_init();

// The variable record, or nullptr.
X_USER* X_get_user(const char* name);

// First value of `name`, or nullptr when there is no such variable. For a
// bound variable this is X_user_value's copy of the window.
const char* X_get_value(const char* name);

// Length of a bound variable's window: `cookie` read as the unsigned 16 bits
// it holds (windows reach 65535 bytes).
size_t X_window_length(const X_USER* u);

// The first value of `u` as a NUL-terminated text. A bound window need not
// hold a NUL, so for a bound variable this is a copy of the window taken now,
// cut at the window's end; it lives in the variable's arena and is refreshed
// by the next read.
const char* X_user_value(X_USER* u);

// Lays `u` over `length` bytes at `window`: fixed becomes kBound and setting
// the variable then writes the window in place.
void X_bind_window(X_USER* u, char* window, uint16_t length);

// Gives `name` exactly the value `text`. A non-zero `fixed` or `cookie`
// replaces the variable's mark. -1 (with "## Fixed Value: %s" in X_ERRMSG)
// for a read-only variable; a bound variable is overwritten in place.
int X_put_value(const char* name, const char* text, int fixed, int cookie);

// X_put_value(u->name, text, 0, 0) for the variable `u` just found in the
// store (no other variable was set or removed since), without searching for
// it again.
int X_put_user_value(X_USER* u, const char* text);

// Appends `text` as a further value of `name` (creates it when missing).
// -1 for a read-only or bound variable.
int X_add_value(const char* name, const char* text);

// Removes every non-fixed variable whose name matches `pattern`.
// 0 when at least one was removed, -1 otherwise.
int X_clear_value(const char* pattern);

// A new record (not yet in the tree) made from `hp`, with its own arena
// holding `value` as its first value.
X_USER* X_USER_new(X_heap* hp, const char* name, const char* value);

#endif  // VANDREL_CORE_VARIABLE_STORE_H_
