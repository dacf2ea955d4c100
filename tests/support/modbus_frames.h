// Modbus frames for tests: a read of `count` registers at address 1 from
// register 0, and its reply holding 1, 2, 3, ...
#pragma once

#include <array>
#include <string>

#include "modbus/modbus.h"

namespace r7::test {

inline std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b)
    s += static_cast<char>(v);
  return s;
}

inline std::string read_request(int count, int address = 1, int register_no = 0) {
  const std::array<long, 1> quantity{count};
  return build_modbus_request(kReadHoldingRegisters, address, register_no, quantity).value();
}

inline std::string write_request(int register_no, int value, int address = 1) {
  const std::array<long, 1> values{value};
  return build_modbus_request(kWriteSingleRegister, address, register_no, values).value();
}

// A read reply holding `values` (1, 2, ..., count when none are given).
inline std::string read_reply(int count, int address = 1) {
  std::string body = {static_cast<char>(address), 3, static_cast<char>(2 * count)};
  for (int i = 1; i <= count; ++i)
    body += {0, static_cast<char>(i)};
  return with_modbus_crc(body);
}

inline std::string value_reply(int value, int address = 1) {
  const auto w = static_cast<unsigned>(value) & 0xFFFFU;
  return with_modbus_crc(
      bytes({address, 3, 2, static_cast<int>(w >> 8), static_cast<int>(w & 0xFF)}));
}

}  // namespace r7::test
