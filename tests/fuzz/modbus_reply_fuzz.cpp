// decode_modbus_reply and modbus_reply_length on any bytes a line can deliver:
// no crash, no read past the reply, and the outcome always in band.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "modbus/modbus.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  r7::Modbus modbus;
  modbus.reply_values.fill(12345.0F);
  const std::string text = modbus.decode_modbus_reply(0, reply);

  if (reply.size() < 5) {
    // Too short: handed back unchanged, status "wrong length", nothing else touched.
    check(text == reply);
    check(modbus.reply_values[1] == r7::kWrongLength);
    check(modbus.reply_values[0] == 12345.0F && modbus.reply_values[2] == 12345.0F);
  } else {
    // Blank-separated decimal numbers, each followed by one blank.
    check(!text.empty() && text.back() == ' ');
    for (char c : text)
      check((c >= '0' && c <= '9') || c == '-' || c == ' ');
    check(text.find("  ") == std::string::npos);
    for (float v : modbus.reply_values)
      check(std::isfinite(v));
    for (std::size_t i = 0; i <= 33; ++i) {
      check(modbus.reply_values[i] >= -32768.0F && modbus.reply_values[i] <= 32767.0F);
    }
  }

  // The expected length is 0 (unknown yet) or a whole frame of 5 to 260 bytes.
  const std::size_t expected = r7::modbus_reply_length(reply);
  check(expected == 0 || (expected >= 5 && expected <= 260));
  return 0;
}
