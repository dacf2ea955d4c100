// The clock seam: a free-running 32-bit millisecond count (it wraps to 0 after
// 4294967295), a sleep, and the local wall time for log lines and file headers.
#pragma once

#include <cstdint>

namespace r7 {

// Broken-down local time, as printed in log lines and file headers.
struct LocalTime {
  int year = 1970;  // four digits
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int utc_offset_minutes = 0;  // local time minus UTC: +60 for CET, -300 for EST
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Millisecond tick count; wraps from 4294967295 to 0.
  virtual std::uint32_t tick_ms() = 0;
  // Give up the processor for about `ms` milliseconds (a fake clock just moves on).
  virtual void sleep_ms(std::uint32_t ms) = 0;
  virtual LocalTime local_time() = 0;
};

}  // namespace r7
