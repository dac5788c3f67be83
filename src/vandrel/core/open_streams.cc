#include "vandrel/core/open_streams.h"

#include <cstring>

x_OPEN x_open_table[kMaxOpenStreams];

x_OPEN* X_find_open(const char* name) {
  for (x_OPEN& slot : x_open_table)
    if (slot.kind != StreamKind::kFree && std::strcmp(slot.name, name) == 0) return &slot;
  return nullptr;
}

x_OPEN* X_free_open() {
  for (x_OPEN& slot : x_open_table)
    if (slot.kind == StreamKind::kFree) return &slot;
  return nullptr;
}
