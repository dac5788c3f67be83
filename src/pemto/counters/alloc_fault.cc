#include "pemto/counters/alloc_fault.h"

#include <atomic>

namespace {
// Counts down to the allocation that fails; 0 means disarmed.
std::atomic<int> countdown{0};
}  // namespace

void pemto_fail_allocation_after(int n) {
  countdown.store(n > 0 ? n : 0);
}

bool pemto_allocation_fails() {
  int left = countdown.load();
  while (left > 0) {
    if (countdown.compare_exchange_weak(left, left - 1)) return left == 1;
  }
  return false;
}

int pemto_allocations_left() {
  return countdown.load();
}
