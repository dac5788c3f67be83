#include "vandrel/core/argument_split.h"

#include <cstring>

namespace {

constexpr char kBlank = ' ';

// Bounded writer: keeps taking characters after the buffer is full so that
// callers still consume the whole argument.
class Output {
 public:
  Output(char* out, size_t size) : out_(out), size_(size) {}
  ~Output() {
    if (size_ > 0) out_[len_] = '\0';
  }
  void put(char c) {
    if (len_ + 1 < size_) out_[len_++] = c;
  }

 private:
  char* out_;
  size_t size_;
  size_t len_ = 0;
};

// The character that closes an argument opened by `c`, or 0 for a plain word.
char closer_of(char c) {
  switch (c) {
    case '"':
    case '\'':
    case '^':
    case '`':
    case '~':
      return c;
    case '{':
      return '}';
    case '[':
      return ']';
    default:
      return 0;
  }
}

int skip_blanks(const char* in) {
  int i = 0;
  while (in[i] == kBlank) ++i;
  return i;
}

// Copies from in[i] up to `end` (or the end of the text); a backslash
// directly before `end` is dropped and `end` copied. Returns where it stopped.
int copy_until(const char* in, int i, char end, Output& out) {
  while (in[i] != '\0' && in[i] != end) {
    if (in[i] == '\\' && in[i + 1] == end) ++i;
    out.put(in[i++]);
  }
  return i;
}

}  // namespace

int X_arg_string(const char* in, char* out, size_t out_size) {
  Output o(out, out_size);
  int i = skip_blanks(in);
  if (in[i] == '\0') return 0;
  char close = closer_of(in[i]);
  if (close == 0) return copy_until(in, i, kBlank, o);  // a word: never empty here
  i = copy_until(in, i + 1, close, o);
  return in[i] == close ? i + 1 : i;
}

int X_arg_string_sep(const char* in, char* out, size_t out_size, const char* sep) {
  if (sep == nullptr || *sep == '\0') return X_arg_string(in, out, out_size);
  Output o(out, out_size);
  auto is_sep = [sep](char c) { return c != '\0' && std::strchr(sep, c) != nullptr; };
  int i = 0;
  while (is_sep(in[i])) ++i;
  int start = i;
  while (in[i] != '\0' && !is_sep(in[i])) o.put(in[i++]);
  return i == start ? 0 : i;
}

int X_take_string(const char* in, char* out, size_t out_size) {
  Output o(out, out_size);
  int i = skip_blanks(in);
  int start = i;
  while (in[i] != '\0' && in[i] != kBlank) o.put(in[i++]);
  return i == start ? 0 : i;
}
