#include "base/ticker.h"

#include <gtest/gtest.h>

namespace {

double seconds(const timespec& ts) {
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return seconds(ts);
}

void busy_for(double s) {
  for (double until = now() + s; now() < until;) {
  }
}

TEST(TickerTest, WorkBetweenTicksDoesNotDrift) {
  // 6 ticks of 50 ms with 40 ms of work after each: about 0.34 s in all,
  // where sleeping a whole interval after the work would take 6 x 90 ms.
  double start = now();
  Ticker ticker(50 * 1000 * 1000);
  double first = seconds(ticker.deadline());
  for (int k = 0; k < 6; ++k) {
    double deadline = seconds(ticker.deadline());
    EXPECT_NEAR(deadline, first + 0.05 * k, 1e-6);
    ticker.wait();
    EXPECT_GE(now(), deadline) << "tick " << k << " came early";
    busy_for(0.04);
  }
  EXPECT_LT(now() - start, 0.47);
}

TEST(TickerTest, PassedDeadlinesDoNotSleep) {
  Ticker ticker(30 * 1000 * 1000);
  busy_for(0.1);  // three deadlines or more go by
  double before = now();
  int passed = 0;
  for (; seconds(ticker.deadline()) < now(); ++passed) ticker.wait();
  EXPECT_GE(passed, 3);
  EXPECT_LT(now() - before, 0.05);
  double next = seconds(ticker.deadline());
  ticker.wait();
  EXPECT_GE(now(), next);
}

}  // namespace
