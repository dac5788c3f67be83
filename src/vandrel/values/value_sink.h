// Where translated text goes: the page output, or a caller's bounded buffer.
#ifndef VANDREL_VALUES_VALUE_SINK_H_
#define VANDREL_VALUES_VALUE_SINK_H_

#include <cstddef>

class ValueSink {
 public:
  // Writes to the page output (entity conversion applies). The pieces of a
  // line are gathered and written together, at the latest when the sink ends.
  ValueSink() = default;
  // Copies into `buf` (at most size-1 bytes and a NUL; the rest is cut).
  // REQUIRES: size > 0.
  ValueSink(char* buf, size_t size) : buf_(buf), size_(size) { buf_[0] = '\0'; }
  ~ValueSink() { flush(); }
  ValueSink(const ValueSink&) = delete;
  ValueSink& operator=(const ValueSink&) = delete;

  // Page text between references.
  void text(const char* p, size_t n);
  // One value: the output length limit applies.
  void value(const char* p, size_t n);
  void value(const char* p);

  // Writes the gathered pieces to the page output. Called before anything
  // else may write there (a value function may run page lines), so that the
  // bytes keep their order.
  void flush();

  bool to_output() const { return buf_ == nullptr; }

 private:
  char* buf_ = nullptr;
  size_t size_ = 0;
  size_t len_ = 0;
  // A line's pieces on their way to the output: one write instead of one
  // per piece.
  static constexpr size_t kGatherSize = 512;
  size_t gathered_ = 0;
  char gather_[kGatherSize];
};

#endif  // VANDREL_VALUES_VALUE_SINK_H_
