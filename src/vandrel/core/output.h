// The page output: standard output, or the stream of a <@file>/<@xfile>
// block while one runs, with Latin-1 entity conversion and per-line flushing.
#ifndef VANDREL_CORE_OUTPUT_H_
#define VANDREL_CORE_OUTPUT_H_

#include <cstddef>
#include <cstdio>

// Entity conversion of output bytes (1 on).
extern int HTML;
// Flush the output after every text line and every value (1 on).
extern int DO_fflush;
// A text line that is only a newline produces no output (1 on).
extern int IgnoreEmpty;

// True while text may go to standard output as part of the page. The request
// entry keeps it: always in a shell run, after the header block in a CGI
// request, never in a HEAD request.
bool X_body_open();
void X_set_body_open(bool open);

// The current output stream: the redirection when set, else stdout.
FILE* X_output();
// Redirects the output to `stream` (nullptr: standard output again) and
// returns the previous redirection.
FILE* X_redirect(FILE* stream);

// The entity text for `byte`, or a one-byte text holding the byte itself.
const char* HTML_string(unsigned char byte);

// Writes one byte to the output, converted when conversion is on.
void X_putchar(unsigned char byte);

// Writes `len` bytes to the output, converted when conversion is on; runs
// without convertible bytes are written in one piece.
void X_write(const char* text, size_t len);

// Flushes `stream` when per-line flushing is on.
void X_fflush(FILE* stream);

#endif  // VANDREL_CORE_OUTPUT_H_
