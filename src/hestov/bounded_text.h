// Small text helpers that never write past the buffer they are given.
#ifndef HESTOV_BOUNDED_TEXT_H_
#define HESTOV_BOUNDED_TEXT_H_

#include <cstddef>
#include <cstdio>

namespace hestov {

// Copies at most `len` bytes of `src` (stopping early at a NUL) into `dst` and
// terminates it, cutting the text to fit `size`. Does nothing when size is 0.
void copy_text(char* dst, size_t size, const char* src, size_t len);
void copy_text(char* dst, size_t size, const char* src);

// Appends at most `len` bytes of `src` to the text in `dst`, cut to fit `size`.
void append_text(char* dst, size_t size, const char* src, size_t len);

// Reads one line of `in` into `buf` without its line end. A longer line is cut
// to fit and its rest is skipped, so the rest never poses as a line of its own.
// Returns false at the end of the stream.
bool read_line(FILE* in, char* buf, size_t size);

// Removes blanks (spaces, tabs, CR, LF) from both ends of `text` in place and
// returns its first kept character.
char* trim(char* text);

}  // namespace hestov

#endif  // HESTOV_BOUNDED_TEXT_H_
