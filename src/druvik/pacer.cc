#include "druvik/pacer.h"

bool Pacer::pace(int64_t total) {
  int64_t block = total / io_limit_;
  if (block == block_) return true;
  block_ = block;
  int64_t now = clock_->now_seconds();
  if (now > deadline_) {
    deadline_ = now + 1;
    return true;
  }
  if (!clock_->sleep_until(deadline_)) return false;
  ++deadline_;
  return true;
}
