// Ending the process tree below this process. The tree is found by an
// outside lister under the service home: bin/chldPID.sh (prints the
// descendants, one process id per line) or, when that is missing, bin/ptree
// (prints ancestors, the process itself, then its descendants in tree order).
// With neither present nothing is killed.
//
// Everything here is async-signal-safe, because the SIGTERM handler runs it.
#ifndef KORBAD_PROCESS_TREE_H_
#define KORBAD_PROCESS_TREE_H_

#include <sys/types.h>

#include <cstddef>

inline constexpr int kPidsPerPass = 256;
inline constexpr size_t kListerLineMax = 399;

enum class ListerKind {
  kDescendants,  // chldPID.sh: every line is a descendant
  kPtree,        // ptree: lines up to and including self's are ancestors
};

// Reads lines from fd without stdio. A line longer than kListerLineMax keeps
// its head; the tail is skipped, so it cannot be mistaken for a line that
// starts with a process id.
class FdLineReader {
 public:
  explicit FdLineReader(int fd) : fd_(fd) {}
  // Returns false at end of input or on a read error.
  bool next(char (&line)[kListerLineMax + 1], size_t* len);

 private:
  int fd_;
  char buf_[4096];
  size_t pos_ = 0;
  size_t end_ = 0;
};

// Gathers up to max process ids from lister output on fd: the leading
// integer of each line, skipping values below 2, self and the lister itself.
// Returns how many were gathered.
int gather_pids(int fd, ListerKind kind, pid_t self, pid_t lister, pid_t* out, int max);

// Kills (SIGKILL) every descendant of the calling process that the lister
// reports, in passes of at most kPidsPerPass. chldPID.sh output is killed in
// the order read (parents first), ptree output in reverse (deepest first).
// Returns how many kill signals were sent.
int kill_chld();

#endif  // KORBAD_PROCESS_TREE_H_
