#include "omnitally/client_slot.h"

#include <cstring>

#include "base/leading_int.h"

namespace {

bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Moves `i` past blanks, then returns the length of the word found there.
size_t next_word(const char* text, size_t len, size_t* i) {
  while (*i < len && is_blank(text[*i])) ++*i;
  size_t start = *i;
  while (*i < len && !is_blank(text[*i])) ++*i;
  return *i - start;
}

}  // namespace

SlotParse parse_client_slot(const char* slot, ClientSlotFields* out) {
  size_t len = strnlen(slot, kClientSlotSize);
  if (len <= 9) return SlotParse::kEmpty;

  ClientSlotFields f;
  std::memset(&f, 0, sizeof f);
  size_t i = 0;
  size_t n = next_word(slot, len, &i);
  if (n == 0) return SlotParse::kMalformed;
  std::memcpy(f.group, slot + i - n, n < kGroupMax ? n : kGroupMax);

  int32_t values[kClientCounters + 1];
  for (int32_t& v : values) {
    n = next_word(slot, len, &i);
    if (n == 0) return SlotParse::kMalformed;
    v = leading_int32(slot + i - n, n);
  }
  std::memcpy(f.counters, values, sizeof f.counters);
  f.check = values[kClientCounters];
  *out = f;
  return SlotParse::kOk;
}
