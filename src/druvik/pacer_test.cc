#include "druvik/pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Time moves only when the pacer sleeps or the test says so.
class FakeClock : public PaceClock {
 public:
  int64_t now = 1000;
  std::vector<int64_t> sleeps;  // the deadlines slept until

  int64_t now_seconds() override { return now; }
  bool sleep_until(int64_t second) override {
    sleeps.push_back(second);
    now = std::max(now, second);
    return true;
  }
};

std::vector<int64_t> sleeps_for(int64_t limit, int64_t step, int64_t last) {
  FakeClock clock;
  Pacer pacer(limit, &clock);
  pacer.start();
  for (int64_t total = 0; total <= last; total += step) pacer.pace(total);
  return clock.sleeps;
}

TEST(PacerTest, OneSecondPerLimitOfIos) {
  EXPECT_EQ(sleeps_for(10, 1, 35), (std::vector<int64_t>{1001, 1002, 1003}));
  // An rw chain of 3 against a limit of 20 lands on a multiple only at 60,
  // yet must wait after every 20.
  EXPECT_EQ(sleeps_for(20, 3, 60), (std::vector<int64_t>{1001, 1002, 1003}));
}

TEST(PacerTest, LateRunAndLoopRestart) {
  FakeClock clock;
  Pacer pacer(10, &clock);
  pacer.start();
  clock.now = 1005;  // the first 10 I/Os took five seconds: no wait, a new second
  pacer.pace(10);
  EXPECT_TRUE(clock.sleeps.empty());
  pacer.pace(20);
  pacer.restart();  // the count went back to 0 at a wrap: no second wait
  for (int64_t total = 0; total < 10; ++total) pacer.pace(total);
  pacer.pace(10);
  EXPECT_EQ(clock.sleeps, (std::vector<int64_t>{1006, 1007}));
}

}  // namespace
