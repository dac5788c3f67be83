// Region allocator for interpreter records and values.
//
// A region hands out zero-filled memory carved from 256-byte small blocks, or
// from a block of its own for requests above 256 bytes. Nothing is freed one
// by one: X_heap_reduce voids every allocation at once (keeping the small
// blocks for reuse) and X_heap_free releases the region.
#ifndef VANDREL_CORE_ARENA_H_
#define VANDREL_CORE_ARENA_H_

#include <cstddef>
#include <cstdint>

// Block header. Aligned to 32 bytes so that the data area that follows it
// starts on a 32-byte boundary of memory.
struct alignas(32) heapblock {
  heapblock* m_next;  // next block in its list
  int16_t m_used;     // bytes in use (small block) or the requested size (big block)
  int m_serial;       // 1 for the oldest block of its list, counting up; names it in trace lines
};

struct heapalloc {
  heapblock* smallreq;  // small blocks, newest first; never empty while the region exists
  heapblock* bigreq;    // big blocks, newest first
  int id;               // serial number of the region, for trace lines
};
using X_heap = heapalloc;

constexpr int kHeapSmallData = 256;  // data bytes of one small block
constexpr int kHeapAlign = 32;

// Data area of a block.
inline char* heap_data(heapblock* mb) {
  return reinterpret_cast<char*>(mb + 1);
}

// A new region with one empty small block; nullptr (after the fatal error
// "X_heap: NO MEMORY...") when memory is exhausted.
X_heap* X_heap_new();

// `size` zero-filled bytes from `hp`. Sizes below 1 are served as a minimal
// request that still occupies one aligned slot, so every result is distinct
// and lies inside its block. nullptr on exhausted memory.
void* X_heap_alloc(X_heap* hp, int size);

// Copies `text` (NUL-terminated) into `hp`; nullptr on exhausted memory.
char* X_heap_strdup(X_heap* hp, const char* text);
// Copies `len` bytes of `text` and a terminating NUL into `hp`.
char* X_heap_strndup(X_heap* hp, const char* text, size_t len);

// X_heap_reduce(hp) and then X_heap_strdup(hp, text), except that a text too
// long for a small block is copied into the region's one big block when that
// is big enough and at most four times the size: a variable given a long
// value on every row or pass then keeps its block instead of freeing it and
// allocating another. The bytes after the copy are not zeroed.
char* X_heap_restart_with(X_heap* hp, const char* text);

// Voids every allocation of `hp`: small blocks stay for reuse, big blocks are
// released. Does nothing for nullptr.
void X_heap_reduce(X_heap* hp);

// Releases `hp` and everything allocated from it. Does nothing for nullptr.
void X_heap_free(X_heap* hp);

// Advances `mb->m_used` to the next 32-byte boundary of memory.
void rmalign(heapblock* mb);

#endif  // VANDREL_CORE_ARENA_H_
