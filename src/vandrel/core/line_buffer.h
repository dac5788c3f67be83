// Line buffers for the page reader and the block commands. Blocks nest as
// deeply as a page nests them, so their 8 KiB line buffers come from a
// reusable pool instead of the stack: deep nesting cannot overflow the stack,
// and after warm-up no block allocates.
#ifndef VANDREL_CORE_LINE_BUFFER_H_
#define VANDREL_CORE_LINE_BUFFER_H_

#include <cstddef>

// A page line holds at most 8191 bytes and its terminating NUL.
constexpr int kLineSize = 8192;

namespace line_buffer_pool {
// Buffers returned by finished blocks, ready for the next one. A free
// buffer's first bytes hold the link to the next free buffer.
inline char* free_list = nullptr;
char* fresh();
}  // namespace line_buffer_pool

// In line: a page line takes several, so taking one costs a pointer swap.
class LineBuffer {
 public:
  LineBuffer() {
    char*& free = line_buffer_pool::free_list;
    if (free) {
      data_ = free;
      free = *reinterpret_cast<char**>(data_);
    } else {
      data_ = line_buffer_pool::fresh();
    }
    data_[0] = '\0';
  }
  ~LineBuffer() {
    *reinterpret_cast<char**>(data_) = line_buffer_pool::free_list;
    line_buffer_pool::free_list = data_;
  }
  LineBuffer(const LineBuffer&) = delete;
  LineBuffer& operator=(const LineBuffer&) = delete;

  char* data() { return data_; }
  static constexpr size_t size() { return kLineSize; }

 private:
  char* data_;
};

#endif  // VANDREL_CORE_LINE_BUFFER_H_
