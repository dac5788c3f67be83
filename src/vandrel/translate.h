// The line translator: every text line and command argument passes through
// here on its way to the output or into a command's buffer.
#ifndef VANDREL_TRANSLATE_H_
#define VANDREL_TRANSLATE_H_

#include <cstddef>

// Output length limit for values (-1: none).
extern int X_value_limit;

// Translates `line` and writes it to the output (dest == nullptr) or copies
// it NUL-terminated into `dest` (at most dest_size bytes). With `compile` 0
// the line is taken unchanged. A line that is only a newline produces nothing
// while empty lines are ignored. Returns 0.
int X_transline(const char* line, char* dest, size_t dest_size, int compile);

// Outputs or copies one value (nullptr is the empty text), applying the
// output length limit.
void transvalue(const char* value, char* dest, size_t dest_size);

#endif  // VANDREL_TRANSLATE_H_
