#include "support/line_master.h"

#include <stdexcept>

#include "modbus/modbus.h"

namespace r7::test {

std::string exchange_on(SerialPort& port, std::string_view message, std::uint32_t timeout_ms) {
  port.clear_input();
  port.write(message);
  std::string reply;
  // Bounded: every pass takes the bytes waiting or ends.
  for (bool more = port.wait_for_input(timeout_ms); more; more = port.wait_for_input(5)) {
    while (port.bytes_waiting() > 0)
      reply += static_cast<char>(port.read_byte());
  }
  return reply;
}

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s += static_cast<char>(v);
  return s;
}

LineMaster::Reply LineMaster::run(int function, int reg, int value, int tries) {
  const std::array<long, 1> values{value};
  const std::string request = build_modbus_request(function, 1, reg, values).value();
  const std::size_t size = function == 3 ? 7 : 8;  // the value is in the two bytes before the CRC
  Reply r;
  for (int t = 0; t < tries && !r.answered; ++t) {
    const std::string raw = exchange_on(port_, request);
    r.answered = (raw.size() == 5 || raw.size() == size) &&
                 with_modbus_crc(raw.substr(0, raw.size() - 2)) == raw;
    if (!r.answered) continue;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(raw[i]); };
    if (raw.size() == 5) r.exception = byte(2);
    if (raw.size() == size)
      r.value = static_cast<std::int16_t>(byte(size - 4) * 256 + byte(size - 3));
  }
  return r;
}

int LineMaster::read_value(int reg, int tries) {
  const Reply r = read(reg, tries);
  if (r.answered && r.exception == 0) return r.value;
  throw std::runtime_error("no value read from register " + std::to_string(reg));
}

}  // namespace r7::test
