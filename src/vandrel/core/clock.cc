#include "vandrel/core/clock.h"

#include <ctime>

namespace {

class RealClock final : public Clock {
 public:
  ClockTime now() override {
    std::timespec t{};
    if (clock_gettime(CLOCK_REALTIME, &t) != 0) return ClockTime{0, 0};
    return ClockTime{static_cast<int64_t>(t.tv_sec), static_cast<int32_t>(t.tv_nsec / 1000)};
  }
};

// Constant-initialised, so that a log line written before main finds the clock.
constinit RealClock real_clock;
constinit Clock* clock_in_use = &real_clock;

}  // namespace

ClockTime X_now() { return clock_in_use->now(); }

void X_set_clock(Clock* clock) { clock_in_use = clock != nullptr ? clock : &real_clock; }
