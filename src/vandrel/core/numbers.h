// Reading numbers from page texts.
#ifndef VANDREL_CORE_NUMBERS_H_
#define VANDREL_CORE_NUMBERS_H_

#include <cstdint>

// Reads a number as atoi does: optional white space, an optional sign, then
// the leading decimal digits; 0 when there are none. Out-of-range values
// give what the C library's atoi gives here (the low 32 bits of the value
// clamped to 64 bits), without its undefined behaviour.
inline int32_t X_atoi(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  uint64_t value = 0;
  // Eighteen digits cannot reach the clamp: most numbers end on the way.
  for (int digits = 0; digits < 18 && *text >= '0' && *text <= '9'; ++digits, ++text)
    value = value * 10 + static_cast<unsigned>(*text - '0');
  bool clamped = false;
  for (; *text >= '0' && *text <= '9'; ++text) {
    unsigned digit = static_cast<unsigned>(*text - '0');
    if (!clamped && value > (UINT64_C(1) << 63) / 10) clamped = true;
    if (!clamped) value = value * 10 + digit;
    if (!clamped && value > (negative ? (UINT64_C(1) << 63) : INT64_MAX)) clamped = true;
  }
  if (clamped) value = negative ? (UINT64_C(1) << 63) : INT64_MAX;
  uint64_t bits = negative ? 0 - value : value;
  return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

#endif  // VANDREL_CORE_NUMBERS_H_
