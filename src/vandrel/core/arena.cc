#include "vandrel/core/arena.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vandrel/core/errors.h"
#include "vandrel/core/trace.h"

namespace {

int next_region_id = 1;

// A zero-filled block with `data` bytes after its header, 32-byte aligned;
// nullptr when the system has no memory left.
heapblock* new_block(size_t data) {
  size_t bytes = sizeof(heapblock) + data;
  bytes = (bytes + kHeapAlign - 1) / kHeapAlign * kHeapAlign;  // aligned_alloc wants a multiple
  void* raw = std::aligned_alloc(kHeapAlign, bytes);
  if (raw == nullptr) return nullptr;
  std::memset(raw, 0, bytes);
  return static_cast<heapblock*>(raw);
}

// Pushes `mb` at the front of `*list`.
void push_front(heapblock** list, heapblock* mb) {
  mb->m_serial = *list == nullptr ? 1 : (*list)->m_serial + 1;
  mb->m_next = *list;
  *list = mb;
}

void free_list(heapblock* mb) {
  while (mb != nullptr) {
    heapblock* next = mb->m_next;
    std::free(mb);
    mb = next;
  }
}

void* no_memory() {
  ERRMSG("X_heap: NO MEMORY...");
  return nullptr;
}

// Carves `size` bytes (1..256) out of `mb` when they fit.
void* take_from(X_heap* hp, heapblock* mb, int size) {
  if (mb->m_used + size > kHeapSmallData) return nullptr;
  char* p = heap_data(mb) + mb->m_used;
  mb->m_used = static_cast<int16_t>(mb->m_used + size);
  rmalign(mb);
  std::memset(p, 0, static_cast<size_t>(size));
  if (Trace) {
    X_trace("X_heap_info hp: %d  mb: %d  m_used: %d ", hp->id, mb->m_serial, mb->m_used);
  }
  return p;
}

}  // namespace

X_heap* X_heap_new() {
  auto* hp = static_cast<X_heap*>(std::calloc(1, sizeof(X_heap)));
  if (hp == nullptr) return static_cast<X_heap*>(no_memory());
  heapblock* mb = new_block(kHeapSmallData);
  if (mb == nullptr) {
    std::free(hp);
    return static_cast<X_heap*>(no_memory());
  }
  push_front(&hp->smallreq, mb);
  hp->id = next_region_id++;
  if (Trace) X_trace("X_heap_new: hp: %d  mb: %d  m_used: %d ", hp->id, mb->m_serial, mb->m_used);
  return hp;
}

void* X_heap_alloc(X_heap* hp, int size) {
  if (hp == nullptr) return nullptr;
  if (Trace) X_trace("X_heap_alloc: hp: %d  size: %d ", hp->id, size);
  if (size < 1) {
    if (Trace) X_trace("WARNING: heap_alloc( size= %d ) \n", size);
    // One byte rather than none: the result then owns a slot of its own and
    // can never be the end of a full block.
    size = 1;
  }
  if (size > kHeapSmallData) {
    heapblock* mb = new_block(static_cast<size_t>(size));
    if (mb == nullptr) return no_memory();
    // Only informational for big blocks; sizes beyond 16 bits are capped.
    mb->m_used = static_cast<int16_t>(size > INT16_MAX ? INT16_MAX : size);
    push_front(&hp->bigreq, mb);
    return heap_data(mb);
  }
  for (heapblock* mb = hp->smallreq; mb != nullptr; mb = mb->m_next) {
    if (void* p = take_from(hp, mb, size)) return p;
  }
  heapblock* mb = new_block(kHeapSmallData);
  if (mb == nullptr) return no_memory();
  push_front(&hp->smallreq, mb);
  return take_from(hp, mb, size);
}

char* X_heap_strdup(X_heap* hp, const char* text) {
  if (text == nullptr) text = "";
  return X_heap_strndup(hp, text, std::strlen(text));
}

char* X_heap_strndup(X_heap* hp, const char* text, size_t len) {
  if (text == nullptr) text = "";
  len = strnlen(text, len);
  if (len >= static_cast<size_t>(INT_MAX)) return static_cast<char*>(no_memory());
  auto* copy = static_cast<char*>(X_heap_alloc(hp, static_cast<int>(len) + 1));
  if (copy != nullptr) std::memcpy(copy, text, len);  // the terminator is already zero
  return copy;
}

void X_heap_reduce(X_heap* hp) {
  if (hp == nullptr) return;
  if (Trace) X_trace("X_heap_reduce: %d ", hp->id);
  for (heapblock* mb = hp->smallreq; mb != nullptr; mb = mb->m_next) mb->m_used = 0;
  free_list(hp->bigreq);
  hp->bigreq = nullptr;
}

char* X_heap_restart_with(X_heap* hp, const char* text) {
  if (hp == nullptr) return nullptr;
  if (text == nullptr) text = "";
  size_t len = std::strlen(text);
  heapblock* big = hp->bigreq;
  // A big block's m_used is its requested size, or less when capped: never
  // more than it holds.
  size_t room = big != nullptr ? static_cast<size_t>(big->m_used) : 0;
  bool reuse = !Trace && big != nullptr && big->m_next == nullptr &&
               len + 1 > static_cast<size_t>(kHeapSmallData) && len + 1 <= room &&
               room / 4 <= len + 1;
  if (!reuse) {
    // A variable's value is most often a short text replacing another: it
    // goes to the start of the newest small block, where the allocation
    // after a reduce would put it.
    if (!Trace && big == nullptr && len + 1 <= static_cast<size_t>(kHeapSmallData)) {
      for (heapblock* mb = hp->smallreq; mb != nullptr; mb = mb->m_next) mb->m_used = 0;
      heapblock* first = hp->smallreq;
      char* copy = heap_data(first);
      std::memmove(copy, text, len);
      copy[len] = '\0';
      first->m_used = static_cast<int16_t>(len + 1);
      rmalign(first);
      return copy;
    }
    X_heap_reduce(hp);
    return X_heap_strndup(hp, text, len);
  }
  for (heapblock* mb = hp->smallreq; mb != nullptr; mb = mb->m_next) mb->m_used = 0;
  char* copy = heap_data(big);
  std::memmove(copy, text, len);
  copy[len] = '\0';
  return copy;
}

void X_heap_free(X_heap* hp) {
  if (hp == nullptr) return;
  if (Trace) X_trace("X_heap_free: %d ", hp->id);
  free_list(hp->smallreq);
  free_list(hp->bigreq);
  std::free(hp);
}

void rmalign(heapblock* mb) {
  if (Trace) X_trace("rmalign: mb: %d  m_used: %d ", mb->m_serial, mb->m_used);
  auto next_free = reinterpret_cast<uintptr_t>(heap_data(mb) + mb->m_used);
  uintptr_t pad = (kHeapAlign - next_free % kHeapAlign) % kHeapAlign;
  mb->m_used = static_cast<int16_t>(mb->m_used + pad);
  if (Trace) X_trace("rmalign ==> mb: %d  m_used: %d ", mb->m_serial, mb->m_used);
}
