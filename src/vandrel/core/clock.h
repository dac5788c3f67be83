// The one clock the interpreter reads: the log stamps, "today", "X_DT",
// "X_UDT", "X_DDT" and the dates parsed from today all take the time from
// here, so that a test can choose the time they see instead of racing the
// real one.
#ifndef VANDREL_CORE_CLOCK_H_
#define VANDREL_CORE_CLOCK_H_

#include <cstdint>

// A moment of the wall clock.
struct ClockTime {
  int64_t seconds;       // since the epoch
  int32_t microseconds;  // into that second, 0 to 999999
};

// What a replacement clock provides; the program keeps the real one.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual ClockTime now() = 0;
};

// The time on the clock in use.
ClockTime X_now();

// Makes `clock` the clock in use until the next call; nullptr puts the real
// clock back. The clock must outlive its use.
void X_set_clock(Clock* clock);

#endif  // VANDREL_CORE_CLOCK_H_
