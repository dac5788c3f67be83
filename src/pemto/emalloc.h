// Allocation for the event parser and the counter-set groups, for which
// running out of memory ends the program. Each caller says how it reports
// that, since the parser speaks through its error handler and the groups
// write to standard error. Allocations are guarded by the fault injection of
// counters/alloc_fault.h, so tests reach those paths.
#pragma once

#include <cstddef>

// Reports that memory ran out and ends the program.
using OutOfMemoryFn = void (*)();

// Zero-filled memory for size bytes (one when size is 0).
// REQUIRES: out_of_memory does not return.
void* emalloc(size_t size, OutOfMemoryFn out_of_memory);
// realloc of old (one byte when size is 0).
void* erealloc(void* old, size_t size, OutOfMemoryFn out_of_memory);
// A copy of s.
char* estrdup(const char* s, OutOfMemoryFn out_of_memory);
