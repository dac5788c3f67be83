// Page files: loading into the page cache, reading line by line, and running
// a page file.
#ifndef VANDREL_STATEMENTS_PAGE_READER_H_
#define VANDREL_STATEMENTS_PAGE_READER_H_

#include <sys/stat.h>

#include <cstddef>

constexpr int kPagePathSize = 256;
// Page files are nested at most this deep (levels 0 to 10).
constexpr int kMaxPageLevel = 10;

// A loaded page file. Loaded files stay cached until the process ends.
struct X_FILE {
  char* text;                  // whole file, NUL-terminated
  long offset;                 // read position
  long size;                   // bytes
  struct stat stat;            // status at load: device, inode, size, mtime are compared
  char path[kPagePathSize];    // the path it was loaded by (cut to 255 bytes)
  X_FILE* next;
};

// Directory of the page being run, relative to X_ROOT ("." for the root).
extern const char* DIR;

// Reads one line of `file`'s text into `buffer`: at most size-1 bytes, up to
// and including the newline. NUL bytes of the page are read as blanks.
// Returns the byte count, 0 at the end of the text.
int X_fgets(char* buffer, int size, X_FILE* file);

// Runs the page file `path` with the compile flag `compile`. -1 when refused
// by the nesting limit, else 0. A page that cannot be examined or opened is a
// fatal error.
int X_printfile(const char* path, int compile);

// Substitutes `args`, takes its first argument as a path and runs that page.
int X_trans_printfile(const char* args, int compile);

#endif  // VANDREL_STATEMENTS_PAGE_READER_H_
