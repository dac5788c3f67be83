#include "vandrel/services/shm_commands.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/numbers.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

X_SHM x_SHM[kMaxShm];

namespace {

char empty_text[1];

void set_status(const char* name, bool ok) {
  X_put_value(name[0] ? name : "status", ok ? "0" : "-1", 0, 0);
}

// Refuses the command: the reason goes to X_ERRMSG, "-1" to the status.
void refuse(const char* status, const char* format, ...) __attribute__((format(printf, 2, 3)));
void refuse(const char* status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(X_ERRMSG, sizeof X_ERRMSG, format, args);
  va_end(args);
  X_trace("X_shm: %s \n", X_ERRMSG);
  set_status(status, false);
}

X_SHM* find_entry(const char* name) {
  for (X_SHM& e : x_SHM)
    if (e.shm != nullptr && std::strcmp(e.name, name) == 0) return &e;
  return nullptr;
}

X_SHM* free_entry() {
  for (X_SHM& e : x_SHM)
    if (e.shm == nullptr) return &e;
  return nullptr;
}

// Drops the binding and detaches the segment. The bound record is removed
// from the store; a record that a running function call has set aside is
// not in the tree now but returns when the call ends, so it is turned into
// an ordinary empty variable instead of a view of detached memory. A record
// whose arena is gone was already dropped with its call.
void release(X_SHM& e) {
  X_USER* u = e.user;
  if (u != nullptr && u->hp != nullptr) {
    if (X_get_user(e.name) == u) {
      AVL_remove(&x_BUFFERS.vtree, e.name);
      X_heap_free(u->hp);
      u->hp = nullptr;
    } else {
      X_heap_reduce(u->hp);
      char* value = X_heap_strdup(u->hp, "");
      u->var.value = value != nullptr ? value : empty_text;
      u->var.next = nullptr;
      u->view = nullptr;
      u->fixed = kOrdinary;
      u->cookie = 0;
    }
  }
  shmdt(e.shm);
  e = X_SHM{};
}

// Lays a fresh record named `name` over the window. The record comes from
// the main arena and so outlives a function call that drops an argument
// variable of the same name: the table can always tell whether it is live.
X_USER* bind_variable(const char* name, char* window, uint16_t length) {
  if (X_USER* old = X_get_user(name)) {
    AVL_remove(&x_BUFFERS.vtree, name);
    X_heap_free(old->hp);
    old->hp = nullptr;
  }
  if (X_put_value(name, "", 0, 0) != 0) return nullptr;
  X_USER* u = X_get_user(name);
  if (u != nullptr) X_bind_window(u, window, length);
  return u;
}

void shmat_command(const char* text) {
  LineBuffer name, key, size, offset, length, status;
  const char* p = text;
  p += X_arg_string(p, name.data(), kLineSize);
  p += X_arg_string(p, key.data(), kLineSize);
  p += X_arg_string(p, size.data(), kLineSize);
  p += X_arg_string(p, offset.data(), kLineSize);
  p += X_arg_string(p, length.data(), kLineSize);
  X_arg_string(p, status.data(), kLineSize);

  // Everything is checked before an existing binding of the name goes.
  const char* var = name.data();
  if (var[0] == '\0') return refuse(status.data(), "## Cannot assign SHM Variable...");
  // A cut name could never be found again to detach it.
  if (std::strlen(var) >= static_cast<size_t>(kShmNameSize))
    return refuse(status.data(), "## SHM Variable name too long: %s", var);
  const X_USER* existing = X_get_user(var);
  if (existing != nullptr && existing->fixed == kReadOnly)
    return refuse(status.data(), "## Cannot assign SHM Variable...");
  int32_t segment_size = X_atoi(size.data());
  int32_t start = X_atoi(offset.data());
  uint16_t window_length = static_cast<uint16_t>(X_atoi(length.data()));
  if (start < 0 || int64_t{start} + window_length > segment_size) {
    return refuse(status.data(), "## SHM window outside the segment: offset %d length %u size %d",
                  static_cast<int>(start), static_cast<unsigned>(window_length),
                  static_cast<int>(segment_size));
  }

  if (X_SHM* old = find_entry(var)) release(*old);
  X_SHM* e = free_entry();
  if (e == nullptr) return refuse(status.data(), "## Reached MAX SHM list value");
  int id = shmget(static_cast<key_t>(X_atoi(key.data())), static_cast<size_t>(segment_size),
                  IPC_CREAT | 0777);
  if (id == -1) return refuse(status.data(), "## Cannot get SHM...");
  void* addr = shmat(id, nullptr, 0);
  if (addr == reinterpret_cast<void*>(-1)) return refuse(status.data(), "## Cannot attach SHM...");
  X_USER* u = bind_variable(var, static_cast<char*>(addr) + start, window_length);
  if (u == nullptr) {
    shmdt(addr);
    return refuse(status.data(), "## Cannot assign SHM Variable...");
  }
  e->shm = addr;
  e->user = u;
  std::snprintf(e->name, sizeof e->name, "%s", var);
  set_status(status.data(), true);
}

}  // namespace

int X_shmat(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (std::strncmp(line, "<@shmat>", 8) != 0) return -1;
  X_trace("X_shmat: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text;
  X_transline(X_command_args(line), text.data(), kLineSize, compile);
  X_debug("%s // %s \n", line, text.data());
  shmat_command(text.data());
  return 0;
}

int X_shmdt(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (std::strncmp(line, "<@shmdt>", 8) != 0) return -1;
  X_trace("X_shmdt: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text, name, status;
  X_transline(X_command_args(line), text.data(), kLineSize, compile);
  X_debug("%s // %s \n", line, text.data());
  const char* p = text.data();
  p += X_arg_string(p, name.data(), kLineSize);
  X_arg_string(p, status.data(), kLineSize);
  if (X_SHM* e = find_entry(name.data())) release(*e);
  set_status(status.data(), true);
  return 0;
}
