#include "base/leading_int.h"

namespace {

bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int64_t leading_int64(const char* text, size_t len) {
  size_t i = 0;
  while (i < len && is_blank(text[i])) ++i;
  bool negative = false;
  if (i < len && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < len && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    // Accumulate toward the sign so INT64_MIN itself is reachable.
    if (negative) {
      if (value < (INT64_MIN + digit) / 10) return INT64_MIN;
      value = value * 10 - digit;
    } else {
      if (value > (INT64_MAX - digit) / 10) return INT64_MAX;
      value = value * 10 + digit;
    }
  }
  return value;
}

int64_t leading_int64(const char* text) {
  return leading_int64(text, SIZE_MAX);
}

int32_t leading_int32(const char* text, size_t len) {
  int64_t v = leading_int64(text, len);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t leading_int32(const char* text) {
  return leading_int32(text, SIZE_MAX);
}
