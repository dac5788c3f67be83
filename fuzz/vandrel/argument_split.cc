// Argument splitting, as a command takes its argument text apart: the whole
// text word by word with X_arg_string, then with a separator set (the
// input's first line) and with X_take_string, each into a buffer whose size
// the input chooses, so cut arguments are explored too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vandrel/core/argument_split.h"

namespace {

// Takes the text apart with `take`; every step must consume and stay inside.
template <typename Take>
void split(const std::string& text, size_t out_size, Take take) {
  std::vector<char> out(out_size);
  const char* at = text.c_str();
  const char* end = at + text.size();
  while (at < end) {
    int used = take(at, out.data(), out.size());
    if (used <= 0) break;
    if (used > end - at || std::memchr(out.data(), 0, out.size()) == nullptr) __builtin_trap();
    at += used;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t out_size = 1 + data[0] % 64;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text.resize(std::strlen(text.c_str()));
  std::string sep;
  size_t nl = text.find('\n');
  if (nl != std::string::npos) sep = text.substr(0, nl);

  split(text, out_size, [](const char* in, char* out, size_t n) { return X_arg_string(in, out, n); });
  split(text, out_size, [&](const char* in, char* out, size_t n) {
    return X_arg_string_sep(in, out, n, sep.c_str());
  });
  split(text, out_size, [](const char* in, char* out, size_t n) { return X_take_string(in, out, n); });
  return 0;
}
