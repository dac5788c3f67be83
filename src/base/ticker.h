// Interval deadlines for the reporters: the k-th deadline is start + k x
// interval, so time spent copying and printing never accumulates into drift.
// On the monotonic clock (the default), a change of the wall clock does not
// disturb the sampling either.
#ifndef BASE_TICKER_H_
#define BASE_TICKER_H_

#include <cstdint>
#include <ctime>

// The clock a Ticker reads and sleeps on; tests replace it.
class TickClock {
 public:
  virtual ~TickClock() = default;
  virtual timespec now() = 0;
  // Returns once `deadline` has come, at once when it already has (a
  // deadline equal to now has come): a reporter that fell behind catches up
  // without sleeping. Signals that return do not cut the sleep short.
  virtual void sleep_until(const timespec& deadline) = 0;
};

// CLOCK_MONOTONIC. One for the whole program; it is never destroyed before
// the tickers that use it.
TickClock* monotonic_tick_clock();

class Ticker {
 public:
  // The first deadline is now + interval. The clock must outlive the ticker.
  explicit Ticker(int64_t interval_ns, TickClock* clock = monotonic_tick_clock());

  // Sleeps until the current deadline (not at all when it has passed), then
  // moves the deadline on by one interval.
  void wait();

  const timespec& deadline() const { return deadline_; }

 private:
  void advance();

  int64_t interval_ns_;
  TickClock* clock_;
  timespec deadline_;
};

#endif  // BASE_TICKER_H_
