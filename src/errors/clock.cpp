#include "errors/clock.h"

#include <thread>

namespace r7 {

std::uint32_t SystemClock::tick_ms() {
  const auto elapsed = std::chrono::steady_clock::now() - origin_;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  return static_cast<std::uint32_t>(ms);  // wraps like the platform's 32-bit count
}

void SystemClock::sleep_ms(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

LocalTime SystemClock::local_time() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace r7
