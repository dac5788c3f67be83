// Line search in tool output, and the value forms that tool output uses.
#ifndef HESTOV_FINDSTR_H_
#define HESTOV_FINDSTR_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace hestov {

// Longest line findstr looks at; the rest of a longer line is skipped.
inline constexpr size_t kFindLineMax = 127;

// Reads `in` line by line until a line contains `key1` or, when key2 is not
// nullptr, `key2` (key1 wins when a line holds both). Copies the text right
// after the key, without the line end, into `value` (cut to `value_size`).
// Returns 1 or 2 for the key found, 0 at the end of the stream (value empty).
// The stream is left just past the matching line, so a following search
// continues from there.
int findstr(FILE* in, const char* key1, const char* key2, char* value, size_t value_size);

// The hexadecimal number at the start of `text` (after blanks, with an
// optional "0x"); 0 when there is none. Saturates instead of wrapping.
uint64_t hex_value(const char* text);

// Copies the text between the first pair of single quotes in `text` into
// `out`; empty when there is no such pair.
void quoted_text(const char* text, char* out, size_t out_size);

}  // namespace hestov

#endif  // HESTOV_FINDSTR_H_
