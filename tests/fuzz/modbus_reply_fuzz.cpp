// decode_modbus_reply and modbus_reply_length on any bytes a line can deliver:
// no crash, no read past the reply, and a text that always fits the status.
#include <cstddef>
#include <cstdint>
#include <string>

#include "modbus/modbus.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  const r7::DecodedReply d = r7::decode_modbus_reply(reply);
  using Status = r7::DecodedReply::Status;
  if (reply.size() < 5) {
    // Too short: handed back unchanged, a wrong length.
    check(d.text == reply && d.status == Status::WrongLength);
  } else {
    // Blank-separated decimal numbers, each followed by one blank.
    check(!d.text.empty() && d.text.back() == ' ');
    for (char c : d.text)
      check((c >= '0' && c <= '9') || c == '-' || c == ' ');
    check(d.text.find("  ") == std::string::npos);
    // Values only from a whole read reply: two bytes each, five bytes around them.
    check(d.values.empty() ||
          (d.status == Status::Values && reply.size() == 2 * d.values.size() + 5));
    check(d.values.size() <= static_cast<std::size_t>(r7::kMaxReadRegisters));
    check((d.status == Status::Exception) ==
          (d.exception_code != 0 ||
           (static_cast<unsigned char>(reply[1]) >= 128 && d.status == Status::Exception)));
  }
  // The expected length is 0 (unknown yet) or a whole frame of 5 to 260 bytes.
  const std::size_t expected = r7::modbus_reply_length(reply);
  check(expected == 0 || (expected >= 5 && expected <= 260));
  return 0;
}
