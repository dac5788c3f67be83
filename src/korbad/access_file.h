// The access file: which commands exist, what each runs, and which client
// addresses may use them. Read afresh for every request.
//
//   access  ADDRESS         consecutive lines form one run; the run grants
//   access  ADDRESS           the commands that follow it to any of its
//   command NAME  PATH        addresses, up to the next "access" line
//
// "command" lines before the first "access" line are open to every client.
// Lines starting with "#", lines of at most 4 characters and lines with
// other keywords are ignored.
#ifndef KORBAD_ACCESS_FILE_H_
#define KORBAD_ACCESS_FILE_H_

#include <cstddef>
#include <cstdio>
#include <string_view>

inline constexpr size_t kAccessLineMax = 511;  // line end included
inline constexpr size_t kNameMax = 39;
inline constexpr size_t kPathMax = 103;

// Reads the next line into line (NUL-terminated, line end kept if it fits).
// Only the first kAccessLineMax characters of a longer line are kept; the
// rest is skipped, so the tail of a long line can never pose as a line of its
// own. Returns the kept length, or -1 at end of file.
long read_access_line(FILE* f, char (&line)[kAccessLineMax + 1]);

struct AccessLine {
  std::string_view keyword;
  std::string_view name;
  std::string_view path;
};

// Splits a line into up to three white-space separated words. Returns false
// for lines that are ignored outright (comments, lines of at most 4 chars).
bool split_access_line(std::string_view line, AccessLine* out);

// Receives, in file order, the name of every command the client may use.
struct ListSink {
  void (*listed)(void* context, std::string_view name);
  void* context;
};

enum class AccessVerdict { kListed, kFound, kNoAccess };

// Walks the access file for client. In list mode (list != nullptr) every
// granted command goes to list and the result is kListed. Otherwise the
// first granted command named word is kFound and its program is copied to
// path. A "command" line without a name and a program, or with one longer
// than its limit or holding a NUL byte, declares nothing (it still ends an
// access run): running such a half line would hand the client's first
// argument to the shell as the program.
AccessVerdict check_access(FILE* access, std::string_view client, std::string_view word,
                           const ListSink* list, char (&path)[kPathMax + 1]);

#endif  // KORBAD_ACCESS_FILE_H_
