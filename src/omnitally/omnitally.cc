#include "omnitally/omnitally.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/leading_int.h"

const char* shm_key_text(const char* given) {
  if (given != nullptr) return given;
  const char* env = std::getenv("SHMKEY");
  return env != nullptr ? env : kDefaultKey;
}

int32_t shm_key(const char* text) {
  uint64_t bits = static_cast<uint64_t>(leading_int64(text));
  return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

AttachStatus shm_attach(const char* key_text, size_t size, void** base) {
  *base = nullptr;
  key_t key = shm_key(key_text);
  if (key == IPC_PRIVATE) return AttachStatus::kCannotGet;
  int id = shmget(key, size, IPC_CREAT | 0777);
  if (id < 0) return AttachStatus::kCannotGet;
  void* at = shmat(id, nullptr, 0);
  if (at == reinterpret_cast<void*>(-1)) return AttachStatus::kCannotAttach;
  *base = at;
  return AttachStatus::kOk;
}

void* shm_attach_or_exit(const char* key_text, size_t size) {
  void* base = nullptr;
  switch (shm_attach(key_text, size, &base)) {
    case AttachStatus::kOk:
      return base;
    case AttachStatus::kCannotGet:
      std::fputs("### Cannot get SHM...\n", stdout);
      break;
    case AttachStatus::kCannotAttach:
      std::fputs("### Cannot attach SHM...\n", stdout);
      break;
  }
  std::fflush(stdout);
  std::exit(-2);
}

int session_slot_id(long id) {
  return id >= 1 && id <= kSessionSlots ? static_cast<int>(id) : 1;
}

void session_group(const char* name, char field[kGroupSize]) {
  size_t n = strnlen(name, kGroupMax);
  std::memset(field, 0, kGroupSize);
  std::memcpy(field, name, n);
}

int32_t shm_load(const int32_t* word) {
  return std::atomic_ref<const int32_t>(*word).load(std::memory_order_relaxed);
}

void shm_store(int32_t* word, int32_t value) {
  std::atomic_ref<int32_t>(*word).store(value, std::memory_order_relaxed);
}

void session_take(SessionSTAT* s, const char group_field[kGroupSize]) {
  std::memcpy(s->group, group_field, kGroupSize);
  shm_store(&s->alive, 1);
  shm_store(&s->ops, 0);
  shm_store(&s->reads, 0);
  shm_store(&s->writes, 0);
}

namespace {

// +1 with 32-bit wrap-around, done in unsigned arithmetic.
void bump(int32_t* word) {
  uint32_t v = static_cast<uint32_t>(shm_load(word)) + 1u;
  shm_store(word, static_cast<int32_t>(v));
}

}  // namespace

void session_count(SessionSTAT* s, bool write, const char group_field[kGroupSize]) {
  bump(write ? &s->writes : &s->reads);
  bump(&s->ops);
  std::memcpy(s->group, group_field, kGroupSize);
  shm_store(&s->alive, 1);
}

void printable_group(const char* field, size_t max, char out[kGroupSize]) {
  size_t n = strnlen(field, max < kGroupMax ? max : kGroupMax);
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(field[i]);
    out[i] = c < 0x20 || c == 0x7f ? '?' : field[i];
  }
  out[n] = '\0';
}
