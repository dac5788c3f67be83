#include "base/ticker.h"

#include <cerrno>

namespace {
constexpr int64_t kNsPerSec = 1000000000;
}

Ticker::Ticker(int64_t interval_ns) : interval_ns_(interval_ns) {
  clock_gettime(CLOCK_MONOTONIC, &deadline_);
  advance();
}

void Ticker::advance() {
  deadline_.tv_sec += static_cast<time_t>(interval_ns_ / kNsPerSec);
  deadline_.tv_nsec += static_cast<long>(interval_ns_ % kNsPerSec);
  if (deadline_.tv_nsec >= kNsPerSec) {
    deadline_.tv_nsec -= kNsPerSec;
    ++deadline_.tv_sec;
  }
}

void Ticker::wait() {
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline_, nullptr) == EINTR) {
  }
  advance();
}
