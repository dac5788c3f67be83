#include "hestov/findstr.h"

#include <cstring>

#include "hestov/bounded_text.h"

namespace hestov {

int findstr(FILE* in, const char* key1, const char* key2, char* value, size_t value_size) {
  char line[kFindLineMax + 1];
  while (read_line(in, line, sizeof line)) {
    int which = 0;
    const char* at = strstr(line, key1);
    size_t key_len = 0;
    if (at != nullptr) {
      which = 1;
      key_len = strlen(key1);
    } else if (key2 != nullptr && (at = strstr(line, key2)) != nullptr) {
      which = 2;
      key_len = strlen(key2);
    }
    if (which != 0) {
      copy_text(value, value_size, at + key_len);
      return which;
    }
  }
  copy_text(value, value_size, "");
  return 0;
}

namespace {
int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

uint64_t hex_value(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && hex_digit(text[2]) >= 0) text += 2;
  uint64_t v = 0;
  for (int d; (d = hex_digit(*text)) >= 0; ++text) {
    if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / 16) return UINT64_MAX;
    v = v * 16 + static_cast<uint64_t>(d);
  }
  return v;
}

void quoted_text(const char* text, char* out, size_t out_size) {
  const char* open = strchr(text, '\'');
  const char* close = open != nullptr ? strchr(open + 1, '\'') : nullptr;
  if (close == nullptr) {
    copy_text(out, out_size, "");
    return;
  }
  copy_text(out, out_size, open + 1, static_cast<size_t>(close - open - 1));
}

}  // namespace hestov
