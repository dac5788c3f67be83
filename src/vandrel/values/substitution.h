// The line translator: every text line and command argument passes through
// here on its way to the output or into a command's buffer, and its "$(...)"
// value references are replaced.
#ifndef VANDREL_VALUES_SUBSTITUTION_H_
#define VANDREL_VALUES_SUBSTITUTION_H_

#include <cstddef>

class ValueSink;

// A reference's text holds at most this many bytes, before and after its
// inner references are replaced.
constexpr size_t kMaxReference = 4095;

// Output length limit for values (-1: none); set while "cut:" evaluates.
extern int X_value_limit;

// Translates `line` and writes it to the output (dest == nullptr) or copies
// it NUL-terminated into `dest` (at most dest_size bytes; the rest is cut).
// With `compile` 0 the line is taken unchanged. A line that is only a newline
// produces nothing while empty lines are ignored. Returns 0.
int X_transline(const char* line, char* dest, size_t dest_size, int compile);

// X_transline to the output of the `len` bytes at `text`, which need no
// terminator: a line used where it stands in the page.
void X_transline_text(const char* text, size_t len, int compile);

// Evaluates one reference text (without "$(" and ")") and outputs or copies
// its value. Returns 0.
int X_transvalue(const char* ref, char* dest, size_t dest_size);

// Evaluates one reference text into `sink`.
void X_transvalue_into(const char* ref, ValueSink& sink);

// Outputs or copies one value (nullptr is the empty text), applying the
// output length limit.
void transvalue(const char* value, char* dest, size_t dest_size);

// Case conversion in place, byte by byte.
void uppercase(char* text);
void lowercase(char* text);

// Microseconds since the previous call; 0 on the first.
long GetDDT();

#endif  // VANDREL_VALUES_SUBSTITUTION_H_
