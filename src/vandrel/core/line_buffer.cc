#include "vandrel/core/line_buffer.h"

namespace {

// Buffers returned by finished blocks, ready for the next one. A free
// buffer's first bytes hold the link to the next free buffer.
char* free_list = nullptr;

}  // namespace

LineBuffer::LineBuffer() {
  if (free_list) {
    data_ = free_list;
    free_list = *reinterpret_cast<char**>(data_);
  } else {
    data_ = new char[kLineSize];
  }
  data_[0] = '\0';
}

LineBuffer::~LineBuffer() {
  *reinterpret_cast<char**>(data_) = free_list;
  free_list = data_;
}
