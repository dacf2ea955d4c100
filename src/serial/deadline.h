// A countdown over the Clock seam's 32-bit millisecond count, which wraps to 0
// after 4294967295.
#pragma once

#include "seams/clock.h"

namespace r7 {

// The highest reading of the 32-bit millisecond count; the next tick is 0.
inline constexpr double kTickCountMax = 4294967295.0;

// Milliseconds from `start` to `now` on the wrapping count: now - start, or
// (4294967295 - start) + now when the count wrapped in between.
double ticks_between(double start, double now);

class Deadline {
 public:
  // Runs out `ms` milliseconds from now (at once for 0, a negative or NaN).
  Deadline(Clock& clock, double ms);

  // Counts the time since the last check off what remains; true once nothing
  // does. A wrap of the count between two checks is counted across the wrap.
  bool expired();
  // Milliseconds left at the last check.
  double remaining() const { return remaining_; }
  // Gives the deadline `ms` more milliseconds (room for bytes still on the wire).
  void extend(double ms) { remaining_ += ms; }

 private:
  Clock& clock_;
  double last_;
  double remaining_;
};

}  // namespace r7
