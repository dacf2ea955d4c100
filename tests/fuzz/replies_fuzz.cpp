// What a line can deliver as a reply: Modbus replies (decoding, length,
// completeness) and the bootloader's acknowledgement and probe answers. No
// crash, no read past the reply, results that agree with each other.
#include <cstddef>
#include <cstdint>
#include <string>

#include "flash/bootloader.h"
#include "fuzz/check.h"
#include "modbus/modbus.h"

namespace {

void modbus(const std::string& reply) {
  const r7::DecodedReply d = r7::decode_modbus_reply(reply);
  using Status = r7::DecodedReply::Status;
  if (reply.size() < 5) {
    check(d.text == reply && d.status == Status::WrongLength);
  } else {
    // Blank-separated decimal numbers, each followed by one blank.
    check(!d.text.empty() && d.text.back() == ' ');
    for (char c : d.text)
      check((c >= '0' && c <= '9') || c == '-' || c == ' ');
    check(d.text.find("  ") == std::string::npos);
  }
  // Values only from a whole read reply: two bytes each, five around them.
  check(d.values.empty() ||
        (d.status == Status::Values && reply.size() == 2 * d.values.size() + 5));
  check(d.values.size() <= static_cast<std::size_t>(r7::kMaxReadRegisters));
  // The expected length is 0 (unknown yet) or a whole frame of 5 to 260 bytes;
  // a reply complete at once decodes without a length or CRC fault.
  const std::size_t expected = r7::modbus_reply_length(reply);
  check(expected == 0 || (expected >= 5 && expected <= 260));
  if (r7::modbus_reply_complete(reply)) {
    check(reply.size() == expected && d.status != Status::BadCrc);
  }
}

void bootloader(const std::string& reply) {
  const auto first = reply.empty() ? 0 : static_cast<unsigned char>(reply[0]);
  for (std::uint8_t command : {r7::kCmdErase, r7::kCmdRecordS1, r7::kCmdDownloadCompleted}) {
    const bool ack = r7::is_acknowledgement(reply, command);
    check(ack == (reply == std::string("\xFF", 1) + static_cast<char>(command)));
  }
  const r7::OnlineState state = r7::online_state(reply);
  check((state == r7::OnlineState::NoResponse) == reply.empty());
  check((state == r7::OnlineState::Online) == (!reply.empty() && first == 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  modbus(reply);
  bootloader(reply);
  return 0;
}
