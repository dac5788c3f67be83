// Cookies: the input is "flags NAME\nVALUE\nHTTP_COOKIE". The value of NAME
// is read from the cookie text, the Set-Cookie line of NAME and VALUE is made
// (a session cookie when the flags' low bit is set), and the lists
// X_ServerCOOKIES and X_SessionCOOKIES, both NAME, are sent as the request
// entry sends them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "vandrel/core/variable_store.h"
#include "vandrel/harness.h"
#include "vandrel/services/cookies.h"

namespace {

constexpr size_t kMaxInput = 20000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  bool session = data[0] & 1;
  std::string input = fuzz_text(data + 1, size - 1, kMaxInput);
  size_t nl1 = input.find('\n');
  std::string name = input.substr(0, nl1);
  std::string value, cookies;
  if (nl1 != std::string::npos) {
    size_t nl2 = input.find('\n', nl1 + 1);
    value = input.substr(nl1 + 1, nl2 == std::string::npos ? std::string::npos : nl2 - nl1 - 1);
    if (nl2 != std::string::npos) cookies = input.substr(nl2 + 1);
  }
  fuzz_run([&] {
    std::string read = X_cookie_value(cookies.c_str(), name.c_str());
    if (read.size() > kMaxCookieValue) __builtin_trap();
    std::string header = X_cookie_header(name.c_str(), value.c_str(), session);
    if (name.size() <= static_cast<size_t>(kMaxCookieName) && header.size() >= kCookieHeaderSize)
      __builtin_trap();
    if (!name.empty()) {
      X_put_value("X_ServerCOOKIES", name.c_str(), 0, 0);
      X_put_value("X_SessionCOOKIES", name.c_str(), 0, 0);
      X_put_value(name.c_str(), value.c_str(), 0, 0);
      X_set_cookies();
    }
  });
  return 0;
}
