// A clock whose time moves only when someone moves it: tests, and the
// simulated line, which advances it by the time bytes take on the wire.
#pragma once

#include <cstdint>

#include "seams/clock.h"

namespace r7::sim {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::uint32_t start_ms = 0) : now_(start_ms) {}

  std::uint32_t tick_ms() override { return now_; }
  // Sleeping moves time on at once.
  void sleep_ms(std::uint32_t ms) override { advance(ms); }
  LocalTime local_time() override { return wall_; }

  // Moves time on by `ms`; the 32-bit count wraps like the real one.
  void advance(std::uint32_t ms) {
    now_ += ms;
    total_ms_ += ms;
  }
  void set_tick(std::uint32_t ms) { now_ = ms; }
  void set_local_time(const LocalTime& t) { wall_ = t; }
  // Milliseconds moved on since construction (does not wrap).
  std::uint64_t total_ms() const { return total_ms_; }

 private:
  std::uint32_t now_;
  std::uint64_t total_ms_ = 0;
  LocalTime wall_{2025, 3, 3, 14, 5, 9, 60};  // CET
};

}  // namespace r7::sim
