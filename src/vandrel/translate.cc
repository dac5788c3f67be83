#include "translate.h"

#include <cstring>

#include "output.h"

int X_value_limit = -1;

void transvalue(const char* value, char* dest, size_t dest_size) {
  if (!value) value = "";
  size_t len = std::strlen(value);
  if (X_value_limit > 0 && static_cast<size_t>(X_value_limit) < len) len = X_value_limit;
  if (dest) {
    if (dest_size == 0) return;
    if (len >= dest_size) len = dest_size - 1;
    std::memcpy(dest, value, len);
    dest[len] = '\0';
    return;
  }
  X_write(value, len);
  X_fflush(X_output());
}

int X_transline(const char* line, char* dest, size_t dest_size, int compile) {
  if (dest && dest_size > 0) dest[0] = '\0';
  if (IgnoreEmpty && line[0] == '\n') return 0;
  // Value references are not replaced yet: every line is taken as it stands,
  // whatever the compile flag says.
  (void)compile;
  transvalue(line, dest, dest_size);
  return 0;
}
