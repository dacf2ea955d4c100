// Modbus frames for tests: a read of `count` registers at address 1 from
// register 0, and its reply holding 1, 2, 3, ...
#pragma once

#include <string>

#include "modbus/modbus.h"

namespace r7::test {

inline std::string read_request(int count) {
  Modbus m;
  return m.build_modbus_request(3, 1, 0, {static_cast<float>(count)});
}

inline std::string read_reply(int count) {
  std::string body = {1, 3, static_cast<char>(2 * count)};
  for (int i = 1; i <= count; ++i)
    body += {0, static_cast<char>(i)};
  return with_modbus_crc(body);
}

}  // namespace r7::test
