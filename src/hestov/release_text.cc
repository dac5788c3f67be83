#include "hestov/release_text.h"

#include <cstring>

#include "hestov/bounded_text.h"

namespace hestov {

namespace {
constexpr size_t kReleaseLineMax = 256;
}  // namespace

void release_text(FILE* in, char* out, size_t out_size) {
  copy_text(out, out_size, "");
  char line[kReleaseLineMax];
  while (read_line(in, line, sizeof line)) {
    if (strstr(line, "          ") == nullptr) continue;
    const char* s = strchr(line, 'S');
    if (s == nullptr) return;
    const char* c = strchr(s, 'C');
    if (c != nullptr) {
      // The "C" is kept: the word that ends the line is the architecture.
      copy_text(out, out_size, s, static_cast<size_t>(c - s) + 1);
    } else {
      size_t n = strlen(s);
      while (n > 0 && s[n - 1] == '\r') --n;
      copy_text(out, out_size, s, n);
    }
    return;
  }
}

namespace {

// Shell-style value of an os-release assignment: quotes removed, backslash
// escapes resolved inside double quotes.
void unquote(const char* v, char* out, size_t out_size) {
  size_t n = 0;
  auto put = [&](char ch) {
    if (n + 1 < out_size) out[n++] = ch;
  };
  char quote = 0;
  for (; *v != '\0'; ++v) {
    if (quote == 0 && (*v == '"' || *v == '\'')) {
      quote = *v;
    } else if (quote != 0 && *v == quote) {
      quote = 0;
    } else if (quote != '\'' && *v == '\\' && v[1] != '\0') {
      put(*++v);
    } else {
      put(*v);
    }
  }
  if (out_size > 0) out[n] = '\0';
}

}  // namespace

bool os_release_name(FILE* in, char* out, size_t out_size) {
  char line[kReleaseLineMax];
  char name[kReleaseLineMax] = "";
  copy_text(out, out_size, "");
  while (read_line(in, line, sizeof line)) {
    const char* text = trim(line);
    if (strncmp(text, "PRETTY_NAME=", 12) == 0) {
      unquote(text + 12, out, out_size);
      if (out_size > 0 && out[0] != '\0') return true;
    } else if (strncmp(text, "NAME=", 5) == 0) {
      unquote(text + 5, name, sizeof name);
    }
  }
  copy_text(out, out_size, name);
  return out_size > 0 && out[0] != '\0';
}

}  // namespace hestov
