#include "line_buffer.h"

#include <memory>
#include <vector>

namespace {

// Buffers returned by finished blocks, ready for the next one.
std::vector<std::unique_ptr<char[]>>& free_buffers() {
  static std::vector<std::unique_ptr<char[]>> pool;
  return pool;
}

}  // namespace

LineBuffer::LineBuffer() {
  auto& pool = free_buffers();
  if (pool.empty()) {
    data_ = new char[kLineSize];
  } else {
    data_ = pool.back().release();
    pool.pop_back();
  }
  data_[0] = '\0';
}

LineBuffer::~LineBuffer() { free_buffers().emplace_back(data_); }
