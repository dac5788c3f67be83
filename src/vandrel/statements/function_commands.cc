// Page functions: <@function>, <@call> and <@return>.
#include <cstdio>
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/core/avl_tree.h"
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

constexpr size_t kMaxFunctionName = 59;
// Calls nest at most this deep, so that a runaway recursion ends with an
// error instead of exhausting the stack.
constexpr int kMaxCallDepth = 1000;

// A page function: where its body starts and the names of its arguments.
struct X_FUN {
  avl node;  // key = name
  char name[kMaxFunctionName + 1];
  X_FILE* file;
  long offset;
  X_var* var;  // argument names, in order
  X_heap* hp;  // holds the argument names; reset when the function is redefined
};

// Where <@return> copies its value during a call; none for a plain <@call>.
char* return_buffer = nullptr;
size_t return_size = 0;
int call_depth = 0;

// The function name of a call or definition text: its first argument, cut
// at "(" and at the name limit.
void function_name(const char* text, char* name) {
  LineBuffer first;
  X_arg_string(text, first.data(), kLineSize);
  char* paren = std::strchr(first.data(), '(');
  if (paren) *paren = '\0';
  std::snprintf(name, kMaxFunctionName + 1, "%s", first.data());
}

X_FUN* find_function(const char* name) {
  return reinterpret_cast<X_FUN*>(AVL_search(&x_BUFFERS.ftree, name));
}

void add_argument_name(X_FUN* fn, X_var**& tail, const char* name) {
  X_var* v = static_cast<X_var*>(X_heap_alloc(fn->hp, sizeof(X_var)));
  if (!v) return;
  v->value = X_heap_strndup(fn->hp, name, strnlen(name, kMaxFunctionName));
  *tail = v;
  tail = &v->next;
  X_trace("X_function: add argname: %s \n", v->value);
}

// Takes the call's argument values, one per argument name, from `args`.
// A value followed by a lone "," takes the comma with it; a value followed
// by anything else loses its trailing part from its last ",". With a call
// arena the argument variables live in it and go with it after the call;
// without one they are ordinary variables that outlive the call.
void bind_arguments(const X_FUN* fn, const char* args, X_heap* call_hp) {
  const char* p = args;
  LineBuffer value, next;
  for (const X_var* arg = fn->var; arg; arg = arg->next) {
    X_trace("X_call: analyse arg_string: %s", p);
    int used = X_arg_string(p, value.data(), kLineSize);
    if (used == 0) {
      X_trace("X_call: no more values...");
      return;
    }
    p += used;
    int peek = X_arg_string(p, next.data(), kLineSize);
    if (peek > 0 && std::strcmp(next.data(), ",") == 0) {
      p += peek;
    } else if (peek > 0) {
      char* comma = std::strrchr(value.data(), ',');
      if (comma) *comma = '\0';
    }
    X_trace("X_call: add argument name: %s value: {%s} \n", arg->value, value.data());
    X_USER* user = call_hp ? X_USER_new(call_hp, arg->value, value.data()) : nullptr;
    if (!user || AVL_insert(&x_BUFFERS.vtree, &user->node) != 0)
      X_put_value(arg->value, value.data(), 0, 0);
  }
}

// Removes the argument variables of a call and releases their values.
void drop_arguments(const X_FUN* fn) {
  for (const X_var* arg = fn->var; arg; arg = arg->next) {
    X_USER* user = X_get_user(arg->value);
    if (!user) continue;
    AVL_remove(&x_BUFFERS.vtree, arg->value);
    X_heap_free(user->hp);
    user->hp = nullptr;
  }
}

}  // namespace

int X_function(X_FILE* file, char* line, int& compile, int ignore) {
  if (std::strncmp(line, "<@function>", 11) != 0) return -1;
  if (ignore) return X_notfound(file, compile, 1);
  X_trace("X_function: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  LineBuffer text;
  X_transline(X_command_args(line), text.data(), kLineSize, compile);
  char name[kMaxFunctionName + 1];
  function_name(text.data(), name);
  if (name[0]) {
    X_FUN* fn = find_function(name);
    if (fn) {
      X_heap_reduce(fn->hp);
    } else {
      fn = static_cast<X_FUN*>(X_heap_alloc(x_BUFFERS.hp, sizeof(X_FUN)));
      X_heap* hp = fn ? X_heap_new() : nullptr;
      if (hp) {
        std::memcpy(fn->name, name, sizeof name);
        fn->node.key = fn->name;
        fn->hp = hp;
        AVL_insert(&x_BUFFERS.ftree, &fn->node);
      } else {
        fn = nullptr;
      }
    }
    if (fn) {
      fn->file = file;
      fn->offset = file->offset;
      fn->var = nullptr;
      X_var** tail = &fn->var;
      const char* paren = std::strchr(text.data(), '(');
      LineBuffer piece, word;
      for (const char* p = paren ? paren + 1 : ""; *p;) {
        int used = X_arg_string_sep(p, piece.data(), kLineSize, ",)");
        if (used == 0) break;
        p += used;
        if (X_take_string(piece.data(), word.data(), kLineSize) > 0)
          add_argument_name(fn, tail, word.data());
      }
    }
  }
  X_notfound(file, 0, 1);
  return 0;
}

int X_call_text(const char* call, int compile, char* ret, size_t ret_size) {
  LineBuffer text;
  X_transline(call, text.data(), kLineSize, compile);
  char name[kMaxFunctionName + 1];
  function_name(text.data(), name);
  X_FUN* fn = find_function(name);
  if (!fn) {
    ERRMSG("CALL: Unknown function name: %s \n", name);
    return -1;
  }
  if (call_depth >= kMaxCallDepth) {
    ERRMSG("CALL: Too deep recursion: %s \n", name);
    return -1;
  }
  char* saved_buffer = return_buffer;
  size_t saved_size = return_size;
  return_buffer = ret;
  return_size = ret_size;
  if (ret && ret_size > 0) ret[0] = '\0';

  long saved_offset = fn->file->offset;
  fn->file->offset = fn->offset;

  // Variables named like the arguments are set aside for the call.
  X_USER* hidden = nullptr;
  for (const X_var* arg = fn->var; arg; arg = arg->next) {
    X_USER* user = X_get_user(arg->value);
    if (!user) continue;
    AVL_remove(&x_BUFFERS.vtree, arg->value);
    user->next = hidden;
    hidden = user;
  }
  // Only a call that set variables aside takes its arguments away again.
  X_heap* call_hp = hidden ? X_heap_new() : nullptr;
  const char* paren = std::strchr(text.data(), '(');
  if (paren) {
    LineBuffer args;
    const char* close = std::strrchr(paren + 1, ')');
    size_t len = close ? static_cast<size_t>(close - paren - 1) : std::strlen(paren + 1);
    std::memcpy(args.data(), paren + 1, len);
    args.data()[len] = '\0';
    bind_arguments(fn, args.data(), call_hp);
  }

  // What the call set aside is put back when the call ends, also when a
  // fuzz harness takes a fatal error back by unwinding the call (its exit
  // hook): the next page it runs then finds the depth, the return buffer and
  // the variables as before.
  struct CallEnd {
    X_FUN* fn;
    X_USER* hidden;
    X_heap* call_hp;
    char* saved_buffer;
    size_t saved_size;
    long saved_offset;
    ~CallEnd() {
      --call_depth;
      if (hidden) {
        drop_arguments(fn);
        X_heap_free(call_hp);
        while (hidden) {
          X_USER* next = hidden->next;
          hidden->next = nullptr;
          AVL_insert(&x_BUFFERS.vtree, &hidden->node);
          hidden = next;
        }
      }
      Break = 0;
      Continue = 0;
      ContinueBreak = 0;
      return_buffer = saved_buffer;
      return_size = saved_size;
      fn->file->offset = saved_offset;
    }
  };
  ++call_depth;
  CallEnd end{fn, hidden, call_hp, saved_buffer, saved_size, saved_offset};
  X_notfound(fn->file, compile, 0);
  return 0;
}

int X_call(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (std::strncmp(line, "<@call>", 7) != 0) return -1;
  if (ignore) return 0;
  X_trace("X_call: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  X_call_text(X_command_args(line), compile, nullptr, 0);
  return 0;
}

namespace {

void release_function(avl* node, void*) { X_heap_free(reinterpret_cast<X_FUN*>(node)->hp); }

}  // namespace

void X_release_functions() {
  AVL_walk(x_BUFFERS.ftree.root, release_function, nullptr);
  x_BUFFERS.ftree.root = nullptr;
}

int X_return(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (std::strncmp(line, "<@return>", 9) != 0) return -1;
  if (ignore) return 0;
  X_trace("X_return: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  LineBuffer text;
  X_transline(X_command_args(line), text.data(), kLineSize, compile);
  X_trace("X_return: {%s}", text.data());
  if (return_buffer && return_size > 0)
    std::snprintf(return_buffer, return_size, "%s", text.data());
  ContinueBreak = 1;
  Continue = 1;
  Break = 1;
  return 0;
}
