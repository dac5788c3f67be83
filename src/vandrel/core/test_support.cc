#include "vandrel/core/test_support.h"

#include "vandrel/core/interpreter_reset.h"
#include "vandrel/core/patterns.h"
#include "vandrel/core/variable_store.h"

void X_test_begin() {
  X_patt_cache_reset();
  X_store_init();
}

void X_test_end() { X_reset_interpreter(); }
