// Line buffers for the page reader and the block commands. Blocks nest as
// deeply as a page nests them, so their 8 KiB line buffers come from a
// reusable pool instead of the stack: deep nesting cannot overflow the stack,
// and after warm-up no block allocates.
#ifndef VANDREL_CORE_LINE_BUFFER_H_
#define VANDREL_CORE_LINE_BUFFER_H_

#include <cstddef>

// A page line holds at most 8191 bytes and its terminating NUL.
constexpr int kLineSize = 8192;

class LineBuffer {
 public:
  LineBuffer();
  ~LineBuffer();
  LineBuffer(const LineBuffer&) = delete;
  LineBuffer& operator=(const LineBuffer&) = delete;

  char* data() { return data_; }
  static constexpr size_t size() { return kLineSize; }

 private:
  char* data_;
};

#endif  // VANDREL_CORE_LINE_BUFFER_H_
