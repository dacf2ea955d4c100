#include "serial/deadline.h"

#include <cmath>

namespace r7 {

double ticks_between(double start, double now) {
  return now >= start ? now - start : (kTickCountMax - start) + now;
}

Deadline::Deadline(Clock& clock, double ms)
    : clock_(clock),
      last_(static_cast<double>(clock.tick_ms())),
      remaining_(std::isnan(ms) || ms < 0 ? 0.0 : ms) {}

bool Deadline::expired() {
  const auto now = static_cast<double>(clock_.tick_ms());
  remaining_ -= ticks_between(last_, now);
  last_ = now;
  if (remaining_ > 0.0) return false;
  remaining_ = 0.0;
  return true;
}

}  // namespace r7
