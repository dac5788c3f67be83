// Debug and trace logs, switched on by marker files in X_HOME. Both calls are
// a single level test while their log is off; callers test Trace or Debug
// themselves before computing expensive arguments.
#ifndef VANDREL_CORE_TRACE_H_
#define VANDREL_CORE_TRACE_H_

#include <cstdio>

struct heapalloc;

// 0 off; 1 on; 2 on with a flush after every line.
extern int Debug;
// 0 off; 1 inline into the page; 2 trace file; 3 trace file with arena figures.
extern int Trace;

// Writes one stamped line to the debug log when Debug is on. Call it as
// X_debug.
void X_debug_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True while the debug level is decided and no debug log is open: a debug
// call while Debug is 0 then has nothing to do, not even a log to close.
extern bool X_debug_idle;

#define X_debug(...) (X_debug_idle && Debug == 0 ? void() : X_debug_line(__VA_ARGS__))

// Writes one stamped line to the trace output when Trace is on; -1 while
// X_HOME is not known yet, 0 otherwise. Call it as X_trace.
int X_trace_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True once the trace level has been read from X_HOME's marker files.
extern bool X_trace_decided;

// Trace calls sit on every path of the interpreter: while the trace is off
// each is a test at its call site, without a call or its arguments.
#define X_trace(...) (X_trace_decided && Trace == 0 ? 0 : X_trace_line(__VA_ARGS__))

// The arena whose figures the detailed trace prints after each line. The
// pointer it holds is read at every line, so its owner may replace the arena
// behind it; until one is named (nullptr) the figures are those of no arena.
void X_trace_arena(heapalloc* const* arena);

// Writes the stamp "%5d.%06d [%6d] " to `stream`.
void PrintTM(FILE* stream);

#endif  // VANDREL_CORE_TRACE_H_
