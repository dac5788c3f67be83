#include "base/ticker.h"

#include <cerrno>

namespace {

constexpr int64_t kNsPerSec = 1000000000;

class MonotonicTickClock : public TickClock {
 public:
  timespec now() override {
    timespec ts = {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
  }
  void sleep_until(const timespec& deadline) override {
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
  }
};

}  // namespace

TickClock* monotonic_tick_clock() {
  static MonotonicTickClock clock;
  return &clock;
}

Ticker::Ticker(int64_t interval_ns, TickClock* clock)
    : interval_ns_(interval_ns), clock_(clock), deadline_(clock->now()) {
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
  clock_->sleep_until(deadline_);
  advance();
}
