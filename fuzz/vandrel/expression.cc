// The "expr:" evaluator on the input as its text: every result is one of the
// documented ones, and an evaluation keeps no state, so a second one agrees.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "vandrel/harness.h"
#include "vandrel/values/expr_parser.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = fuzz_text(data, size, kMaxInput);
  int v_int = 0, again_int = 0;
  float v_float = 0, again_float = 0;
  int r = EXPR_parser(text.c_str(), &v_int, &v_float);
  if (r != kExprInteger && r != kExprFloating && r != kExprSyntaxError &&
      r != kExprArithmeticError && r != kExprTooDeep)
    __builtin_trap();
  int again = EXPR_parser(text.c_str(), &again_int, &again_float);
  if (again != r || again_int != v_int || std::memcmp(&again_float, &v_float, sizeof v_float) != 0)
    __builtin_trap();
  EXPR_parser(text.c_str(), nullptr, nullptr);
  return 0;
}
