// Pacing to an I/O-per-second limit, in whole seconds: each time the I/O
// count passes another multiple of the limit, the run waits for the next
// second boundary of its own, unless that boundary has already gone by.
#ifndef DRUVIK_PACER_H_
#define DRUVIK_PACER_H_

#include <cstdint>

// The clock the pacer reads and sleeps on; tests replace it.
class PaceClock {
 public:
  virtual ~PaceClock() = default;
  virtual int64_t now_seconds() = 0;
  // Sleeps until the start of `second`; false when a stop signal cut it short.
  virtual bool sleep_until(int64_t second) = 0;
};

class Pacer {
 public:
  // REQUIRES: io_limit > 0.
  Pacer(int64_t io_limit, PaceClock* clock) : io_limit_(io_limit), clock_(clock) {}

  // Before the first turn: the first deadline is one second away.
  void start() { deadline_ = clock_->now_seconds() + 1; }

  // Once per turn, with the I/Os done so far. A turn of several I/Os (the rw
  // chain) may step over a multiple without landing on it; that still
  // counts, or a chain whose length does not divide the limit would run
  // unpaced. Returns false when a stop signal cut a sleep short.
  bool pace(int64_t total);

  // The count restarted from 0 (loop mode).
  void restart() { block_ = 0; }

 private:
  int64_t io_limit_;
  PaceClock* clock_;
  int64_t deadline_ = 0;
  int64_t block_ = 0;  // total / io_limit at the last check
};

#endif  // DRUVIK_PACER_H_
