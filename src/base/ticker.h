// Interval deadlines for the reporters: the k-th deadline is start + k x
// interval on the monotonic clock, so time spent copying and printing never
// accumulates into drift, and a change of the wall clock does not disturb
// the sampling.
#ifndef BASE_TICKER_H_
#define BASE_TICKER_H_

#include <cstdint>
#include <ctime>

class Ticker {
 public:
  // The first deadline is now + interval.
  explicit Ticker(int64_t interval_ns);

  // Sleeps until the current deadline (not at all when it has passed), then
  // moves the deadline on by one interval. Signals that return do not cut
  // the sleep short.
  void wait();

  const timespec& deadline() const { return deadline_; }

 private:
  void advance();

  int64_t interval_ns_;
  timespec deadline_;
};

#endif  // BASE_TICKER_H_
