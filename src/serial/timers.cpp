#include "serial/timers.h"

#include <cmath>

namespace r7 {

namespace {
constexpr std::int16_t kInUse = -1;
constexpr std::int16_t kFree = 0;
}  // namespace

double ticks_between(double start, double now) {
  return now >= start ? now - start : (kTickCountMax - start) + now;
}

Timers::Timers(Clock& clock) : clock_(clock) {}

double Timers::tick_count() {
  return static_cast<double>(clock_.tick_ms());
}

int Timers::start_timer(float timeout_ms) {
  std::size_t n = 0;
  while (n < in_use_.size() && in_use_[n] == kInUse)
    ++n;
  if (n == in_use_.size()) {
    start_.push_back(0.0);
    remaining_.push_back(0.0);
    in_use_.push_back(kFree);
  }
  start_[n] = tick_count();
  // A time-out that is not a number would never run out.
  remaining_[n] = std::isnan(timeout_ms) ? 0.0 : static_cast<double>(timeout_ms);
  in_use_[n] = kInUse;
  return static_cast<int>(n);
}

bool Timers::timer_expired(int number) {
  if (!valid(number)) return true;
  const auto n = static_cast<std::size_t>(number);
  const double now = tick_count();
  remaining_[n] -= ticks_between(start_[n], now);
  if (remaining_[n] <= 0.0) {
    remaining_[n] = 0.0;
    in_use_[n] = kFree;
    return true;
  }
  start_[n] = now;
  return false;
}

void Timers::stop_timer(int number) {
  if (!valid(number)) return;
  const auto n = static_cast<std::size_t>(number);
  remaining_[n] = 0.0;
  in_use_[n] = kFree;
}

void Timers::extend_timer(int number, double ms) {
  if (!valid(number) || in_use_[static_cast<std::size_t>(number)] != kInUse) return;
  remaining_[static_cast<std::size_t>(number)] += ms;
}

void Timers::wait_ms(double ms) {
  // Whether or not the end of the wait lies beyond the end of the counter,
  // ticks_between measures the same way timer_expired does, so a wait across
  // the wrap ends when the count reaches ms - (4294967295 - start).
  const double start = tick_count();
  while (ticks_between(start, tick_count()) < ms)
    clock_.sleep_ms(1);
}

bool Timers::in_use(int number) const {
  return valid(number) && in_use_[static_cast<std::size_t>(number)] == kInUse;
}

double Timers::remaining(int number) const {
  return valid(number) ? remaining_[static_cast<std::size_t>(number)] : 0.0;
}

}  // namespace r7
