#include "support/line_master.h"

#include <cstdio>
#include <stdexcept>

#include "modbus/modbus.h"

namespace r7::test {

std::string exchange_on(SerialPort& port, std::string_view message, ExchangeTiming timing) {
  port.clear_input();
  port.write(message);
  std::string reply;
  if (!port.wait_for_input(timing.timeout_ms)) return reply;
  // Bounded: every pass either takes a byte or ends.
  for (;;) {
    while (port.bytes_waiting() > 0)
      reply += static_cast<char>(port.read_byte());
    if (timing.expected != 0 && reply.size() >= timing.expected) break;
    if (!port.wait_for_input(timing.gap_ms)) break;
  }
  return reply;
}

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s += static_cast<char>(v);
  return s;
}

std::string hex(std::string_view b) {
  std::string s;
  char buf[4];
  for (char c : b) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
    if (!s.empty()) s += ' ';
    s += buf;
  }
  return s;
}

LineMaster::Reply LineMaster::run(int command, int reg, int value, int tries) {
  Modbus m;
  const std::string request =
      m.build_modbus_request(command, address_, reg, {static_cast<float>(value), kEndMarker});
  Reply r;
  for (int t = 0; t < tries && !r.answered; ++t) {
    r.raw = exchange_on(port_, request);
    if (r.raw.empty()) continue;
    m.decode_modbus_reply(0, r.raw);
    const float status = m.reply_values[1];
    if (status == kBadCrc || status == kWrongLength) continue;
    r.answered = true;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(r.raw[i]); };
    if ((byte(1) & 0x80U) != 0) {
      r.exception = byte(2);
    } else {
      const std::size_t at = command == 3 ? 3 : 4;
      const int w = byte(at) * 256 + byte(at + 1);
      r.value = w > 32767 ? w - 65536 : w;
    }
  }
  return r;
}

LineMaster::Reply LineMaster::read(int reg, int tries) {
  return run(3, reg, 1, tries);
}

LineMaster::Reply LineMaster::write(int reg, int value, int tries) {
  return run(6, reg, value, tries);
}

int LineMaster::read_value(int reg, int tries) {
  const Reply r = read(reg, tries);
  if (!r.answered) throw std::runtime_error("no answer reading register " + std::to_string(reg));
  if (r.exception != 0) {
    throw std::runtime_error("exception " + std::to_string(r.exception) + " reading register " +
                             std::to_string(reg));
  }
  return r.value;
}

}  // namespace r7::test
