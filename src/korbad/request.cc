#include "korbad/request.h"

#include <cstring>

bool check_char(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && strchr(".,:*/-_", c) != nullptr;
}

void sanitise_request(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    if (!check_char(static_cast<unsigned char>(*p))) *p = ' ';
  }
}

void parse_request(const char* text, ParsedRequest* out) {
  const char* p = text;
  while (*p == ' ') ++p;
  size_t n = 0;
  while (p[n] != '\0' && p[n] != ' ' && n < kWordMax) ++n;
  out->args = p + n;

  const char* slash = static_cast<const char*>(memrchr(p, '/', n));
  const char* word = slash != nullptr ? slash + 1 : p;
  size_t len = n - static_cast<size_t>(word - p);
  memcpy(out->word, word, len);
  out->word[len] = '\0';
}
