#include "vandrel/core/variable_store.h"

#include <cstdio>
#include <cstring>

#include "vandrel/core/errors.h"
#include "vandrel/core/patterns.h"
#include "vandrel/core/trace.h"

X_BUFFERS x_BUFFERS;

namespace {

// Stands in for a value that could not be copied (only possible while a fatal
// error is already being reported), so a variable never lacks a first value.
char empty_value[1];

X_USER* user_of(avl* node) {
  return reinterpret_cast<X_USER*>(node);
}

struct Collect {
  const char* pattern;
  X_USER* head;
  X_USER* tail;
};

void collect_matching(avl* node, void* ctx) {
  auto* c = static_cast<Collect*>(ctx);
  X_USER* u = user_of(node);
  if (u->fixed != kOrdinary || X_CMPpatt(c->pattern, u->name) == -1) return;
  u->next = nullptr;
  if (c->tail != nullptr) {
    c->tail->next = u;
  } else {
    c->head = u;
  }
  c->tail = u;
}

// Overwrites a bound window in place: exactly `len` bytes, the text padded
// with zero bytes, or cut without a terminator when it does not fit.
void copy_into_window(char* window, int len, const char* text) {
  if (window == nullptr || len <= 0) return;
  size_t size = static_cast<size_t>(len);
  size_t n = strnlen(text, size);
  std::memcpy(window, text, n);
  std::memset(window + n, 0, size - n);
}

// Gives the variable `u`, which is in the tree, exactly the value `text`.
int put_into(X_USER* u, const char* text, int fixed, int cookie) {
  if (u->fixed == kReadOnly) {
    std::snprintf(X_ERRMSG, sizeof X_ERRMSG, "## Fixed Value: %s", u->name);
    return -1;
  }
  if (u->fixed == kBound) {
    copy_into_window(u->var.value, static_cast<int>(X_window_length(u)), text);
  } else {
    if (cookie != 0) u->cookie = static_cast<int16_t>(cookie);
    if (fixed != 0) u->fixed = static_cast<int16_t>(fixed);
    u->var.next = nullptr;
    u->var.value = X_heap_restart_with(u->hp, text);
    if (u->var.value == nullptr) {
      u->var.value = empty_value;
      return -1;
    }
  }
  if (Debug) X_debug("  ** %s := %s \n", u->name, text);
  return 0;
}

}  // namespace

void X_store_init() {
  // The detailed trace follows the main arena.
  X_trace_arena(&x_BUFFERS.hp);
  x_BUFFERS.files = nullptr;
  // A fresh tree counts on, so that no record found in the old one passes
  // for one of the new.
  x_BUFFERS.vtree = avl_tree{nullptr, avl_strcmp, x_BUFFERS.vtree.changes + 1};
  x_BUFFERS.ftree = avl_tree{nullptr, avl_strcmp};
  x_BUFFERS.hp = X_heap_new();
}

X_USER* X_get_user(const char* name) {
  if (name == nullptr) return nullptr;
  if (x_BUFFERS.vtree.cmp != avl_strcmp) return user_of(AVL_search(&x_BUFFERS.vtree, name));
  // Every value a page reads is found here: comparing in line spares each
  // node of the path a call through the tree's comparison and into strcmp.
  const auto* key = reinterpret_cast<const unsigned char*>(name);
  for (avl* node = x_BUFFERS.vtree.root; node != nullptr;) {
    const auto* a = key;
    const auto* b = reinterpret_cast<const unsigned char*>(node->key);
    while (*a != 0 && *a == *b) {
      ++a;
      ++b;
    }
    if (*a == *b) return user_of(node);
    node = *a < *b ? node->left : node->right;
  }
  return nullptr;
}

const char* X_get_value(const char* name) {
  X_USER* u = X_get_user(name);
  if (u == nullptr) {
    if (Trace) X_trace("X_get_value: not found {%s} \n", name != nullptr ? name : "");
    return nullptr;
  }
  return X_user_value(u);
}

size_t X_window_length(const X_USER* u) {
  return static_cast<uint16_t>(u->cookie);
}

const char* X_user_value(X_USER* u) {
  if (u->fixed != kBound) return u->var.value;
  if (u->var.value == nullptr) return empty_value;
  size_t len = X_window_length(u);
  if (u->view == nullptr) {
    u->view = static_cast<char*>(X_heap_alloc(u->hp, len + 1));
    if (u->view == nullptr) return empty_value;
  }
  size_t n = strnlen(u->var.value, len);
  std::memcpy(u->view, u->var.value, n);
  u->view[n] = '\0';
  return u->view;
}

void X_bind_window(X_USER* u, char* window, uint16_t length) {
  u->fixed = kBound;
  u->cookie = static_cast<int16_t>(length);
  u->var.value = window;
  u->var.next = nullptr;
  u->view = nullptr;  // sized for this window on the first read
}

X_USER* X_USER_new(X_heap* hp, const char* name, const char* value) {
  auto* u = static_cast<X_USER*>(X_heap_alloc(hp, sizeof(X_USER)));
  if (u == nullptr) return nullptr;
  u->name = X_heap_strdup(hp, name);
  if (u->name == nullptr) return nullptr;
  u->node.key = u->name;
  u->hp = X_heap_new();
  if (u->hp == nullptr) return nullptr;
  u->var.value = X_heap_strdup(u->hp, value);
  if (u->var.value == nullptr) {
    X_heap_free(u->hp);
    return nullptr;
  }
  return u;  // links, marks and the value chain are zero from the arena
}

int X_put_value(const char* name, const char* text, int fixed, int cookie) {
  if (name == nullptr) return -1;
  if (text == nullptr) text = "";
  if (Trace) {
    X_trace("X_put_value: name: [%s] value: [%s] fixed: %d cookie: %d", name, text, fixed, cookie);
  }
  X_USER* u = X_get_user(name);
  if (u != nullptr) return put_into(u, text, fixed, cookie);
  u = X_USER_new(x_BUFFERS.hp, name, text);
  if (u == nullptr) return -1;
  u->fixed = static_cast<int16_t>(fixed);
  u->cookie = static_cast<int16_t>(cookie);
  AVL_insert(&x_BUFFERS.vtree, &u->node);
  if (Debug) X_debug("  ** %s := %s \n", name, text);
  return 0;
}

int X_put_user_value(X_USER* u, const char* text) {
  if (text == nullptr) text = "";
  if (Trace) X_trace("X_put_value: name: [%s] value: [%s] fixed: 0 cookie: 0", u->name, text);
  return put_into(u, text, 0, 0);
}

int X_add_value(const char* name, const char* text) {
  if (name == nullptr) return -1;
  if (text == nullptr) text = "";
  X_USER* u = X_get_user(name);
  if (u == nullptr) return X_put_value(name, text, 0, 0);
  if (u->fixed != kOrdinary) return -1;
  X_var* last = &u->var;
  while (last->next != nullptr) last = last->next;
  if (last->value != nullptr) {
    auto* v = static_cast<X_var*>(X_heap_alloc(u->hp, sizeof(X_var)));
    if (v == nullptr) return -1;
    last->next = v;
    last = v;
  }
  last->value = X_heap_strdup(u->hp, text);
  if (last->value == nullptr) {
    last->value = empty_value;
    return -1;
  }
  if (Debug) X_debug("  ** %s add:= %s \n", name, text);
  return 0;
}

int X_clear_value(const char* pattern) {
  if (pattern == nullptr) return -1;
  if (Trace) X_trace("X_clear_value: name_patt: [%s] ", pattern);
  // The tree must stay untouched during the walk, so matches are collected
  // first and removed afterwards.
  Collect found{pattern, nullptr, nullptr};
  AVL_walk(x_BUFFERS.vtree.root, collect_matching, &found);
  for (X_USER* u = found.head; u != nullptr;) {
    X_USER* next = u->next;
    AVL_remove(&x_BUFFERS.vtree, u->name);
    X_heap_free(u->hp);
    u->hp = nullptr;
    u->next = nullptr;
    u = next;
  }
  return found.head != nullptr ? 0 : -1;
}
