// The text escapes of URLs and shell commands: what "txt2url:", "url2txt:"
// and "sh:" make of a value, and how form fields and cookies are decoded and
// encoded.
#ifndef VANDREL_VALUES_TEXT_ESCAPES_H_
#define VANDREL_VALUES_TEXT_ESCAPES_H_

#include <cstddef>

// Decodes "%" escapes in place.
void unescape_url(char* text);
// Writes the URL-encoded form of `text` into `out` (every byte but letters
// and digits as "%xx"); cut at a whole escape when out_size is too small.
void escape_url(const char* text, char* out, size_t out_size);
// Puts a backslash before every shell metacharacter, in place; `size` is the
// buffer's capacity (twice the text and one byte always suffice). Cut at a
// whole character when the buffer is too small.
void escape_shell_cmd(char* text, size_t size);

#endif  // VANDREL_VALUES_TEXT_ESCAPES_H_
