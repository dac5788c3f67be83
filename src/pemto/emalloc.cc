#include "pemto/emalloc.h"

#include <cstdlib>
#include <cstring>

#include "pemto/counters/alloc_fault.h"

namespace {

[[noreturn]] void fail(OutOfMemoryFn out_of_memory) {
  out_of_memory();
  abort();  // not reached: the handler ends the program
}

}  // namespace

void* emalloc(size_t size, OutOfMemoryFn out_of_memory) {
  void* p = pemto_allocation_fails() ? nullptr : calloc(1, size ? size : 1);
  if (!p) fail(out_of_memory);
  return p;
}

void* erealloc(void* old, size_t size, OutOfMemoryFn out_of_memory) {
  void* p = pemto_allocation_fails() ? nullptr : realloc(old, size ? size : 1);
  if (!p) fail(out_of_memory);
  return p;
}

char* estrdup(const char* s, OutOfMemoryFn out_of_memory) {
  size_t n = strlen(s) + 1;
  char* copy = static_cast<char*>(emalloc(n, out_of_memory));
  memcpy(copy, s, n);
  return copy;
}
