// The pattern compiler and matcher: the input's first line is a pattern
// (or a "||"/"&&" pattern expression), the rest the text it is matched
// against, directly, through the cache and as an expression. Each pattern
// is also matched against itself and the empty text, and the collation order
// compares the two texts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "vandrel/core/patterns.h"
#include "vandrel/harness.h"

namespace {

// Long inputs only repeat what short ones reach, and slowly.
constexpr size_t kMaxInput = 1024;

void check_result(int r) {
  if (r != 0 && r != -1) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input = fuzz_text(data, size, kMaxInput);
  size_t nl = input.find('\n');
  std::string pattern = input.substr(0, nl);
  std::string text = nl == std::string::npos ? "" : input.substr(nl + 1);
  fuzz_run([&] {
    PATT_LIST* compiled = vek_LOADpatt(pattern.c_str());
    check_result(vek_EXEpatt(compiled, text.c_str()));
    check_result(vek_EXEpatt(compiled, pattern.c_str()));
    check_result(vek_EXEpatt(compiled, ""));
    if (compiled) check_result(vek_ORpatt(compiled, text.empty() ? 0 : text[0]));
    vek_FREEpatt(compiled);
    check_result(X_CMPexec(pattern.c_str(), text.c_str()));
    check_result(X_CMPexec(pattern.c_str(), text.c_str()));  // now from the cache
    check_result(X_CMPpatt(pattern.c_str(), text.c_str()));
    vp_SYMcmp(pattern.c_str(), text.c_str(), static_cast<int>(text.size()) + 1);
  });
  return 0;
}
