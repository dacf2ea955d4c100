#include "os/system_clock.h"

#include <ctime>
#include <thread>

#include "os/os.h"

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
  return os::local_time(std::time(nullptr));
}

}  // namespace r7
