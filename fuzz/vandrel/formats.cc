// Vandrel's page-supplied printf formats: format_int and format_value into a
// buffer the input sizes, then the value functions a page names,
// "$(int:FORMAT:NUMBER)" and "$(printf:FORMAT:VARIABLE)", in a run of the
// interpreter. A format is the page author's text, so whatever it holds must
// neither reach past the buffer nor hand printf a conversion it has no
// argument for.
//
// Input: byte 0 sizes the buffer; then the format, a newline, and the value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vandrel/core/variable_store.h"
#include "vandrel/harness.h"
#include "vandrel/values/printf_format.h"
#include "vandrel/values/substitution.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

constexpr size_t kMaxOut = 256;

// The buffer holds a terminated text within out_size when the format was
// taken, and is untouched when it was refused.
void check_out(bool taken, const char* out, size_t out_size) {
  if (taken) {
    check(strnlen(out, out_size) < out_size);
  } else {
    for (size_t i = 0; i < kMaxOut; ++i) check(out[i] == 'X');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz_init();
  size_t out_size = 1 + data[0] % kMaxOut;
  std::string text = fuzz_text(data + 1, size - 1, 1024);
  size_t nl = text.find('\n');
  std::string format = text.substr(0, nl);
  std::string value = nl == std::string::npos ? "" : text.substr(nl + 1);

  char out[kMaxOut];
  memset(out, 'X', sizeof out);
  int n = static_cast<int>(strtol(value.c_str(), nullptr, 0));
  check_out(format_int(format.c_str(), n, out, out_size), out, out_size);
  memset(out, 'X', sizeof out);
  check_out(format_value(format.c_str(), value.c_str(), out, out_size), out, out_size);

  fuzz_run([&] {
    char shown[512];
    std::string ref = "int:" + format + ":" + value;
    X_transvalue(ref.c_str(), shown, sizeof shown);
    check(strnlen(shown, sizeof shown) < sizeof shown);

    X_put_value("v", value.c_str(), 0, 0);
    ref = "printf:" + format + ":v";
    X_transvalue(ref.c_str(), shown, sizeof shown);
    check(strnlen(shown, sizeof shown) < sizeof shown);
  });
  return 0;
}
