// The page output: standard output, or the stream of a <@file>/<@xfile>
// block while one runs, with Latin-1 entity conversion.
//
// Standard output is written in large pieces: its buffer goes out when it is
// full, when the run ends, before the interpreter waits or lets another
// process write to the same reader (X_output_flush, called by the commands
// that do), and a few milliseconds after its oldest text at the latest
// (X_output_due), so that a slow page still reaches its reader as it goes.
// The reader gets the same bytes in the same order as with a write per line.
#ifndef VANDREL_CORE_OUTPUT_H_
#define VANDREL_CORE_OUTPUT_H_

#include <cstddef>
#include <cstdio>

// Entity conversion of output bytes (1 on).
extern int HTML;
// Flush the output after every text line and every value when FlushLines is
// on too (1 on); a <@file> block switches it off while it runs.
extern int DO_fflush;
// A write per text line and value instead of a buffered page output (1 on,
// the option flush_lines; 0 by default).
extern int FlushLines;
// A text line that is only a newline produces no output (1 on).
extern int IgnoreEmpty;

// True while text may go to standard output as part of the page. The request
// entry keeps it: always in a shell run, after the header block in a CGI
// request, never in a HEAD request.
bool X_body_open();
void X_set_body_open(bool open);

// The current output stream: the redirection when set, else stdout.
FILE* X_output();
// True when text written to `stream` may reach the reader of standard output
// or a process that writes to it: anything but a regular file other than
// standard output's own.
bool X_reaches_output_reader(FILE* stream);

// Redirects the output to `stream` (nullptr: standard output again) and
// returns the previous redirection. A stream that reaches standard output's
// reader gets the output only after standard output is written out.
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

// Gives standard output the page buffer; called once, before anything is
// written to standard output.
void X_output_init();

// True while standard output holds text not yet written.
bool X_output_pending();

// Writes out what standard output holds: called before the interpreter waits
// (a sleep, a read, a database statement) or another process may write to
// the same reader (a shell command, a pipe, a child).
void X_output_flush();

// Between two page lines: writes standard output out once its oldest text has
// waited kOutputDelayMs, or at most one step of the coarse clock more. Reads
// a clock only while text waits.
constexpr long kOutputDelayMs = 4;
void X_output_due();

#endif  // VANDREL_CORE_OUTPUT_H_
