#include "base/ticker.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr int64_t kNsPerSec = 1000000000;

double seconds(const timespec& ts) {
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Time moves only when the ticker sleeps or the test works. It starts just
// short of a whole second, so the first deadlines carry into the next one.
class FakeClock : public TickClock {
 public:
  int64_t now_ns = 1000 * kNsPerSec + 980 * 1000 * 1000;

  timespec now() override {
    return {static_cast<time_t>(now_ns / kNsPerSec), static_cast<long>(now_ns % kNsPerSec)};
  }
  void sleep_until(const timespec& deadline) override {
    now_ns = std::max(now_ns, static_cast<int64_t>(deadline.tv_sec) * kNsPerSec + deadline.tv_nsec);
  }

  double now_s() { return seconds(now()); }
  void busy_for(double s) { now_ns += static_cast<int64_t>(s * 1e9); }
};

TEST(TickerTest, WorkBetweenTicksDoesNotDrift) {
  // 6 ticks of 50 ms with 40 ms of work after each: about 0.34 s in all,
  // where sleeping a whole interval after the work would take 6 x 90 ms.
  FakeClock clock;
  double start = clock.now_s();
  Ticker ticker(50 * 1000 * 1000, &clock);
  double first = seconds(ticker.deadline());
  for (int k = 0; k < 6; ++k) {
    double deadline = seconds(ticker.deadline());
    EXPECT_NEAR(deadline, first + 0.05 * k, 1e-6);
    EXPECT_LT(ticker.deadline().tv_nsec, kNsPerSec)
        << "not normalised: clock_nanosleep would refuse it";
    ticker.wait();
    EXPECT_GE(clock.now_s(), deadline) << "tick " << k << " came early";
    clock.busy_for(0.04);
  }
  EXPECT_LT(clock.now_s() - start, 0.47);
}

TEST(TickerTest, PassedDeadlinesDoNotSleep) {
  FakeClock clock;
  Ticker ticker(30 * 1000 * 1000, &clock);
  clock.busy_for(0.1);  // three deadlines or more go by
  double before = clock.now_s();
  int passed = 0;
  for (; seconds(ticker.deadline()) < clock.now_s(); ++passed) ticker.wait();
  EXPECT_GE(passed, 3);
  EXPECT_LT(clock.now_s() - before, 0.05);
  double next = seconds(ticker.deadline());
  ticker.wait();
  EXPECT_GE(clock.now_s(), next);
}

TEST(TickerTest, MonotonicClockSleepsUntilTheDeadline) {
  Ticker ticker(20 * 1000 * 1000);
  timespec deadline = ticker.deadline();
  ticker.wait();
  timespec now = monotonic_tick_clock()->now();
  EXPECT_GE(seconds(now), seconds(deadline));
}

}  // namespace
