// A small master for tests that talk to a SerialPort directly (the simulated
// controller, a pty): one exchange writes a message and collects the reply,
// with every wait going through SerialPort::wait_for_input, so that on the
// simulated port a FakeClock moves instead of anyone sleeping.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "serial/serial_port.h"

namespace r7::test {

struct ExchangeTiming {
  std::uint32_t timeout_ms = 250;  // for the first byte
  std::uint32_t gap_ms = 5;        // silence that ends the reply
  std::size_t expected = 0;        // a reply of this many bytes ends at once (0: unknown)
};

// Clears the input, writes `message`, collects the reply (empty when none).
std::string exchange_on(SerialPort& port, std::string_view message, ExchangeTiming timing = {});

std::string bytes(std::initializer_list<int> values);
std::string hex(std::string_view bytes);  // "01 03 02 18 24 ..."

// Modbus RTU through exchange_on(): requests framed and replies decoded here with
// the Modbus class, retried up to `tries` times when nothing came back.
class LineMaster {
 public:
  explicit LineMaster(SerialPort& port, int address = 1) : port_(port), address_(address) {}

  struct Reply {
    bool answered = false;  // a reply with a good CRC came back
    int exception = 0;      // exception code of an exception reply
    int value = 0;          // the register read (signed) or the value echoed
    std::string raw;
  };
  Reply read(int reg, int tries = 1);
  Reply write(int reg, int value, int tries = 1);
  // Reads until an answer comes (at most `tries` × 250 ms); throws when none.
  int read_value(int reg, int tries = 40);
  void set_address(int address) { address_ = address; }

 private:
  Reply run(int command, int reg, int value, int tries);
  SerialPort& port_;
  int address_;
};

}  // namespace r7::test
