#include "vandrel/values/printf_format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace {

constexpr char kIntConversions[] = "diouxXc";
constexpr char kFloatConversions[] = "fFeEgG";
constexpr char kTextConversions[] = "s";

// No value is shown in more than a line's bytes, so a wider field or a
// longer precision could only make printf pad (or, for a precision,
// allocate) what the output cuts anyway: "%2147483647d" takes seconds and
// "%.2147483647f" gigabytes.
constexpr long kMaxField = 8192;

// Moves `p` past a width or precision; false when it is over kMaxField.
bool skip_field(const char*& p) {
  long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > kMaxField) return false;
  }
  return true;
}

// True when `format` holds exactly one conversion and its letter is in
// `allowed`. Flags, a width and a precision (digits only, at most
// kMaxField) are accepted.
bool single_conversion(const char* format, const char* allowed) {
  int conversions = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    p += std::strspn(p, "-+ #0");
    if (!skip_field(p)) return false;
    if (*p == '.') {
      ++p;
      if (!skip_field(p)) return false;
    }
    if (*p == '\0' || !std::strchr(allowed, *p)) return false;
    ++conversions;
  }
  return conversions == 1;
}

}  // namespace

bool format_int(const char* format, int n, char* out, size_t out_size) {
  if (!single_conversion(format, kIntConversions)) return false;
  std::snprintf(out, out_size, format, n);
  return true;
}

bool format_value(const char* format, const char* value, char* out, size_t out_size) {
  if (std::strchr(format, 's')) {
    if (!single_conversion(format, kTextConversions)) return false;
    std::snprintf(out, out_size, format, value);
    return true;
  }
  if (std::strpbrk(format, "feg")) {
    if (!single_conversion(format, kFloatConversions)) return false;
    float number = 0;
    std::sscanf(value, "%f", &number);
    std::snprintf(out, out_size, format, static_cast<double>(number));
    return true;
  }
  return format_int(format, std::atoi(value), out, out_size);
}
