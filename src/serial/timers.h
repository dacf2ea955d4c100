// Millisecond countdown timers over the Clock seam (the module MSTIMER1).
#pragma once

#include <cstdint>
#include <vector>

#include "errors/clock.h"

namespace r7 {

// The highest reading of the 32-bit millisecond count; the next tick is 0.
inline constexpr double kTickCountMax = 4294967295.0;

// Milliseconds from `start` to `now` on the wrapping count: now - start, or
// (4294967295 - start) + now when the count wrapped in between.
double ticks_between(double start, double now);

class Timers {
 public:
  explicit Timers(Clock& clock);

  // One reading of the 32-bit millisecond clock.
  double tick_count();
  // Takes the lowest free entry (the table grows by one when all are in use).
  int start_timer(float timeout_ms);
  // Counts the time since the last check off the entry; true (and the entry
  // freed) once nothing remains. A clock wrap between two checks counts
  // (4294967295 - start) + now. An entry that was never handed out counts as
  // expired.
  bool timer_expired(int number);
  void stop_timer(int number);
  // Gives a running timer `ms` more milliseconds (room for bytes still on the
  // wire); no effect on a free entry.
  void extend_timer(int number, double ms);
  // Waits until the clock has advanced by at least `ms`, across a wrap of the
  // counter; yields the processor in slices of at most 1 ms instead of spinning.
  void wait_ms(double ms);

  // Inspection for tests.
  std::size_t size() const { return in_use_.size(); }
  bool in_use(int number) const;
  // Milliseconds left at the last check of the entry (0 for a free one).
  double remaining(int number) const;

 private:
  bool valid(int number) const {
    return number >= 0 && static_cast<std::size_t>(number) < in_use_.size();
  }

  Clock& clock_;
  std::vector<double> start_;
  std::vector<double> remaining_;
  std::vector<std::int16_t> in_use_;  // -1 in use, 0 free
};

}  // namespace r7
