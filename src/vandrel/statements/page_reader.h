// Page files: loading into the page cache, reading line by line, and running
// a page file.
#ifndef VANDREL_STATEMENTS_PAGE_READER_H_
#define VANDREL_STATEMENTS_PAGE_READER_H_

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

constexpr int kPagePathSize = 256;
// Page files are nested at most this deep (levels 0 to 10).
constexpr int kMaxPageLevel = 10;

// What the reader learned about one line of a page's text, found by the
// offset the line starts at. The text of a loaded page never changes, so the
// facts hold for as long as the page: a loop's body is measured, cleaned and
// looked up on its first pass only.
struct LineFacts {
  long start;            // offset of the line's first byte; -1: slot unused
  int length;            // bytes up to and including the newline, or to the end
  int8_t has_nul;        // the line holds a NUL byte, which reads as a blank
  int8_t kind;           // kLineUnknown until the cleaner has looked at it
  int16_t code;          // command code, kCodeUnknown until looked up
  int16_t lead;          // blanks before a command line's "<@"
  int clean_length;      // length of the cleaned command line
};
constexpr int8_t kLineUnknown = 0;
constexpr int16_t kCodeUnknown = -32768;

// A loaded page file. Loaded files stay cached until the process ends.
struct X_FILE {
  char* text;                  // whole file, NUL-terminated
  long offset;                 // read position
  long size;                   // bytes
  struct stat stat;            // status at load: device, inode, size, mtime are compared
  char path[kPagePathSize];    // the path it was loaded by (cut to 255 bytes)
  X_FILE* next;
  LineFacts* line_facts;       // of the line the last X_fgets read, if read by them
  LineFacts* facts;            // open-addressed by start offset; made on first use
  int facts_slots;             // a power of two, or 0 while there is no table
  int facts_used;
};

// Directory of the page being run, relative to X_ROOT ("." for the root).
extern const char* DIR;

// Reads one line of `file`'s text into `buffer`: at most size-1 bytes, up to
// and including the newline. NUL bytes of the page are read as blanks.
// Returns the byte count, 0 at the end of the text.
int X_fgets(char* buffer, int size, X_FILE* file);

// The facts of the line that starts at `start` (measured now if they are
// new), or nullptr when the line is too long for a line buffer or the table
// is full: such a line is simply read the slow way every time.
LineFacts* X_line_facts(X_FILE* file, long start);

// The facts of the line the last X_fgets of `file` read, provided that
// `line` still holds exactly its bytes as read (raw) or as a cleaned
// command line leaves them (cleaned), and nothing further was read since;
// else nullptr. `*cleaned` tells which of the two it holds.
LineFacts* X_read_line_facts(X_FILE* file, const char* line, bool* cleaned);

// Runs the page file `path` with the compile flag `compile`. -1 when refused
// by the nesting limit, else 0. A page that cannot be examined or opened is a
// fatal error.
int X_printfile(const char* path, int compile);

// Substitutes `args`, takes its first argument as a path and runs that page.
int X_trans_printfile(const char* args, int compile);

#endif  // VANDREL_STATEMENTS_PAGE_READER_H_
