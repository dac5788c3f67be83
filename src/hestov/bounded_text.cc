#include "hestov/bounded_text.h"

#include <cstring>

namespace hestov {

void copy_text(char* dst, size_t size, const char* src, size_t len) {
  if (size == 0) return;
  size_t n = strnlen(src, len);
  if (n > size - 1) n = size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}

void copy_text(char* dst, size_t size, const char* src) {
  copy_text(dst, size, src, strlen(src));
}

void append_text(char* dst, size_t size, const char* src, size_t len) {
  size_t used = strnlen(dst, size);
  if (used < size) copy_text(dst + used, size - used, src, len);
}

bool read_line(FILE* in, char* buf, size_t size) {
  size_t n = 0;
  int c;
  bool any = false;
  while ((c = getc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (n + 1 < size) buf[n++] = static_cast<char>(c);
  }
  if (size > 0) buf[n] = '\0';
  return any;
}

namespace {
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
}  // namespace

char* trim(char* text) {
  while (is_blank(*text)) ++text;
  size_t n = strlen(text);
  while (n > 0 && is_blank(text[n - 1])) text[--n] = '\0';
  return text;
}

}  // namespace hestov
