// The table of named open streams shared by <@xfile> and the named file and
// pipe commands.
#ifndef VANDREL_CORE_OPEN_STREAMS_H_
#define VANDREL_CORE_OPEN_STREAMS_H_

#include <cstdio>

constexpr int kMaxOpenStreams = 32;
constexpr int kMaxStreamName = 127;

enum class StreamKind { kFree, kFile, kPipe };

struct x_OPEN {
  FILE* fp;
  StreamKind kind;                  // closed with fclose or pclose accordingly
  char name[kMaxStreamName + 1];
};

extern x_OPEN x_open_table[kMaxOpenStreams];

// The slot holding the stream named `name`, or nullptr.
x_OPEN* X_find_open(const char* name);

// The first free slot, or nullptr when all are in use.
x_OPEN* X_free_open();

#endif  // VANDREL_CORE_OPEN_STREAMS_H_
