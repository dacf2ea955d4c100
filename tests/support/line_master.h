// A small Modbus master at address 1 for tests that talk to a SerialPort
// directly: every wait goes through SerialPort::wait_for_input, so that on the
// simulated port a FakeClock moves instead of anyone sleeping.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "serial/serial_port.h"

namespace r7::test {

// Clears the input, writes `message` and collects the reply: empty when
// nothing came within `timeout_ms`, otherwise ended by 5 ms of silence.
std::string exchange_on(SerialPort& port, std::string_view message, std::uint32_t timeout_ms = 250);
std::string bytes(std::initializer_list<int> values);

class LineMaster {
 public:
  explicit LineMaster(SerialPort& port) : port_(port) {}

  struct Reply {
    bool answered = false;  // a reply with a good CRC came back
    int exception = 0;
    int value = 0;  // the register read (signed) or the value echoed
  };
  // One register read, tried up to `tries` times while nothing comes back.
  Reply read(int reg, int tries = 1) { return run(3, reg, 1, tries); }
  Reply write(int reg, int value) { return run(6, reg, value, 1); }
  // A read that must be answered (throws otherwise).
  int read_value(int reg, int tries = 40);

 private:
  Reply run(int function, int reg, int value, int tries);
  SerialPort& port_;
};

}  // namespace r7::test
