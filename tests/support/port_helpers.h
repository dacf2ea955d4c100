// Helpers for tests that drive a SerialPort directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/run_error.h"
#include "seams/serial_port.h"

namespace r7::test {

// Clears the input, writes `message` and collects the reply: empty when nothing
// came within `timeout_ms`, otherwise ended by 5 ms of silence (all waits in
// SerialPort::wait_for_input: on the simulated port a FakeClock moves).
inline std::string exchange_on(SerialPort& port, std::string_view message,
                               std::uint32_t timeout_ms = 250) {
  port.clear_input();
  port.write(message);
  std::string reply;
  for (bool more = port.wait_for_input(timeout_ms); more; more = port.wait_for_input(5)) {
    while (port.bytes_waiting() > 0)
      reply += static_cast<char>(port.read_byte());
  }
  return reply;
}

// The number of the RunError that `f` throws, 0 when it throws none.
inline int run_error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace r7::test
