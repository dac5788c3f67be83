#include "vandrel/core/interpreter_reset.h"

#include <cstdio>
#include <vector>

#include "vandrel/core/clock.h"
#include "vandrel/core/open_streams.h"
#include "vandrel/core/output.h"
#include "vandrel/core/patterns.h"
#include "vandrel/core/settings.h"
#include "vandrel/core/trace.h"
#include "vandrel/core/variable_store.h"

namespace {

void gather(avl* node, void* ctx) {
  static_cast<std::vector<X_USER*>*>(ctx)->push_back(reinterpret_cast<X_USER*>(node));
}

}  // namespace

void X_reset_interpreter() {
  // Each variable owns an arena of its own besides the main one.
  std::vector<X_USER*> all;
  AVL_walk(x_BUFFERS.vtree.root, gather, &all);
  for (X_USER* u : all) X_heap_free(u->hp);
  X_heap_free(x_BUFFERS.hp);
  x_BUFFERS = X_BUFFERS{};
  X_patt_cache_reset();

  X_redirect(nullptr);
  for (x_OPEN& slot : x_open_table) {
    if (slot.kind == StreamKind::kPipe) pclose(slot.fp);
    if (slot.kind == StreamKind::kFile) std::fclose(slot.fp);
    slot = x_OPEN{};
  }
  HTML = 1;
  DO_fflush = 1;
  FlushLines = 0;
  IgnoreEmpty = 1;
  X_set_body_open(true);

  X_HOME = nullptr;
  TMP_DIR = nullptr;
  X_ERROR = nullptr;
  X_ROOT = nullptr;
  Debug = 0;
  Trace = 0;
  X_set_clock(nullptr);
}
