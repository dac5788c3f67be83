// Argument splitting: how every command takes its substituted argument text
// apart. Results are byte counts of input consumed; outputs are always
// NUL-terminated and never written beyond `out_size` bytes (an argument that
// does not fit is cut, but still consumed whole).
#ifndef VANDREL_CORE_ARGUMENT_SPLIT_H_
#define VANDREL_CORE_ARGUMENT_SPLIT_H_

#include <cstddef>

// Takes one argument from `in`: a blank-separated word, or a text enclosed in
// "..", '..', ^..^, `..`, ~..~, {..} or [..]. A backslash before the closing
// delimiter (or blank) makes it an ordinary character and is dropped.
// Returns the index just past the closing delimiter, or for a word the index
// of the blank that ended it (or of the end); 0 when nothing was taken.
// REQUIRES: out_size > 0.
int X_arg_string(const char* in, char* out, size_t out_size);

// Takes one word delimited by any character of `sep` (leading separators are
// skipped). With `sep` null or empty this is X_arg_string. Returns the index
// where copying stopped, or 0 when nothing was copied and the text ended.
int X_arg_string_sep(const char* in, char* out, size_t out_size, const char* sep);

// Skips blanks and takes one blank-terminated word; result as for a word of
// X_arg_string.
int X_take_string(const char* in, char* out, size_t out_size);

#endif  // VANDREL_CORE_ARGUMENT_SPLIT_H_
