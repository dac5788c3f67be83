#include "leading_int.h"

#include <climits>

long leading_int(const char* text, unsigned long len) {
  unsigned long i = 0;
  while (i < len && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < len && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < len && text[i] >= '0' && text[i] <= '9'; ++i) {
    int d = text[i] - '0';
    if (value > (LONG_MAX - d) / 10) return negative ? LONG_MIN : LONG_MAX;
    value = value * 10 + d;
  }
  return negative ? -value : value;
}

long leading_int(const char* text) {
  return leading_int(text, ULONG_MAX);
}
