// Modbus RTU request framing, CRC and reply decoding (the module Module1).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace r7 {

// End marker of a data list handed to build_modbus_request.
inline constexpr float kEndMarker = -30000.0F;

// Status codes left in reply_values[1].
inline constexpr float kNoValue = 31000.0F;
inline constexpr float kWrongLength = -32100.0F;
inline constexpr float kBadCrc = -32200.0F;
inline constexpr float kExceptionBase = -32000.0F;  // -32000 - exception code

// Result texts of refused arguments.
inline constexpr const char* kBadCommand = "Bad COMMAND TYPE selected.";
inline constexpr const char* kBadAddress = "Bad ADDRESS entered.";
inline constexpr const char* kBadRegister = "Bad REGISTER entered.";
inline constexpr const char* kBadDataValue = "Bad DATA VALUE entered.";

class Modbus {
 public:
  // CRC-16/MODBUS, bit by bit: polynomial 0xA001 (0x8005 reflected), initial
  // value 0xFFFF, input and output reflected, no final XOR; on the wire the low
  // byte goes first. Check value of "123456789": 0x4B37.
  void modbus_crc16(std::string_view message);

  // The RTU frame for `command` (3, 4, 6, 8 or 16) at `address` (0..247) and
  // `register_no` (0..65535). `data` holds the values in order; it ends at its
  // first kEndMarker or at its end. On a refused argument the result is one of
  // the kBad... texts instead of a frame.
  std::string build_modbus_request(int command, int address, double register_no,
                                   const std::vector<float>& data);

  // Decodes a reply (mode 0): returns its text (decimal numbers, each followed
  // by one blank) and fills reply_values, with the status in entry 1.
  std::string decode_modbus_reply(int mode, std::string_view reply);

  int crc_lo = 0;
  int crc_hi = 0;
  std::array<float, 51> reply_values{};
};

// `frame` followed by its CRC, low byte first.
std::string with_modbus_crc(std::string frame);

// The total length a reply will have, judged from its first bytes, or 0 while
// that cannot be told yet: exception replies are 5 bytes, reads 5 + byte count,
// writes (6, 16) 8, diagnostics (8) 6. For transmit's ReplyLength.
std::size_t modbus_reply_length(std::string_view received);

// `text` filled with copies of fill[0] up to `width`: in front (side 0) or after
// it (side 1); any other side gives the empty text.
std::string pad_string(const std::string& text, const std::string& fill, int width, int side);

}  // namespace r7
