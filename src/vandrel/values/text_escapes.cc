#include "vandrel/values/text_escapes.h"

#include <cctype>
#include <cstring>

namespace {

// The digits of an escape are not checked: any byte counts as one.
int hex_value(unsigned char c) { return c < 'A' ? c - '0' : (c & 0xDF) - 'A' + 10; }

}  // namespace

void unescape_url(char* text) {
  char* out = text;
  for (char* in = text; *in; ++in) {
    if (in[0] == '%' && in[1] && in[2]) {
      *out++ = static_cast<char>(16 * hex_value(in[1]) + hex_value(in[2]));
      in += 2;
    } else {
      *out++ = *in;
    }
  }
  *out = '\0';
}

void escape_url(const char* text, char* out, size_t out_size) {
  static const char kHex[] = "0123456789abcdef";
  size_t len = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    bool plain = std::isalnum(*p) && *p < 128;
    size_t need = plain ? 1 : 3;
    if (len + need >= out_size) break;
    if (plain) {
      out[len++] = static_cast<char>(*p);
    } else {
      out[len++] = '%';
      out[len++] = kHex[*p >> 4];
      out[len++] = kHex[*p & 15];
    }
  }
  if (out_size > 0) out[len] = '\0';
}

void escape_shell_cmd(char* text, size_t size) {
  static const char kMeta[] = "&;`'\"|*?~<>^()[]{}$\\";
  size_t len = std::strlen(text);
  for (size_t i = 0; i < len; ++i) {
    if (!std::strchr(kMeta, text[i])) continue;
    if (len + 2 > size) {  // no room for one more backslash: cut here
      text[i] = '\0';
      return;
    }
    std::memmove(text + i + 1, text + i, len - i + 1);
    text[i] = '\\';
    ++len;
    ++i;
  }
}
