// The real clock: std::chrono::steady_clock for ticks, the system's local
// time for log lines and file headers.
#pragma once

#include <chrono>

#include "seams/clock.h"

namespace r7 {

class SystemClock final : public Clock {
 public:
  std::uint32_t tick_ms() override;
  void sleep_ms(std::uint32_t ms) override;
  LocalTime local_time() override;

 private:
  std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
};

}  // namespace r7
