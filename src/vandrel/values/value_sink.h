// Where translated text goes: the page output, or a caller's bounded buffer.
#ifndef VANDREL_VALUES_VALUE_SINK_H_
#define VANDREL_VALUES_VALUE_SINK_H_

#include <cstddef>

class ValueSink {
 public:
  // Writes to the page output (entity conversion applies).
  ValueSink() = default;
  // Copies into `buf` (at most size-1 bytes and a NUL; the rest is cut).
  // REQUIRES: size > 0.
  ValueSink(char* buf, size_t size) : buf_(buf), size_(size) { buf_[0] = '\0'; }

  // Page text between references.
  void text(const char* p, size_t n);
  // One value: the output length limit applies.
  void value(const char* p, size_t n);
  void value(const char* p);

  bool to_output() const { return buf_ == nullptr; }

 private:
  char* buf_ = nullptr;
  size_t size_ = 0;
  size_t len_ = 0;
};

#endif  // VANDREL_VALUES_VALUE_SINK_H_
