// Modbus RTU frames: request framing, the CRC, reply decoding. Pure functions
// over bytes; RegisterClient moves them over the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/expected.h"

namespace r7 {

// Controller addresses offered by the windows and the command line.
inline constexpr int kFirstAddress = 1;
inline constexpr int kLastAddress = 247;

inline constexpr int kReadHoldingRegisters = 3;
inline constexpr int kReadInputRegisters = 4;
inline constexpr int kWriteSingleRegister = 6;
inline constexpr int kDiagnostics = 8;
inline constexpr int kWriteMultipleRegisters = 16;

// Registers one read may ask for: the byte count (2 per register) fits a byte
// and the reply stays within 256 bytes.
inline constexpr int kMaxReadRegisters = 49;

// Why a request could not be framed (the text a caller may show).
inline constexpr const char* kBadCommand = "Bad COMMAND TYPE selected.";
inline constexpr const char* kBadAddress = "Bad ADDRESS entered.";
inline constexpr const char* kBadRegister = "Bad REGISTER entered.";
inline constexpr const char* kBadDataValue = "Bad DATA VALUE entered.";

// CRC-16/MODBUS, bit by bit: polynomial 0xA001 (0x8005 reflected), initial
// value 0xFFFF, input and output reflected, no final XOR; on the wire the low
// byte goes first. Check value of "123456789": 0x4B37.
std::uint16_t modbus_crc16(std::string_view bytes);

// `frame` followed by its CRC, low byte first.
std::string with_modbus_crc(std::string frame);

// The RTU frame for `function` (3, 4, 6, 8 or 16) at `address` (0..247) and
// `register_no` (0..65535) with `values` (each -32768..32767, sent high byte
// first; for 3 and 4 the register count, for 6 the value), or the kBad...
// text of the first argument refused. Function 16 takes at most 127 values.
Expected<std::string, std::string> build_modbus_request(int function, int address, long register_no,
                                                        std::span<const long> values);

// A reply taken apart.
struct DecodedReply {
  enum class Status {
    Values,       // a read: `values` holds the registers
    NoValue,      // a write echo, diagnostics, or a function code not used
    WrongLength,  // shorter than 5 bytes, or not the length its function code says
    BadCrc,
    Exception,  // function code with its top bit set; `exception_code`
  };
  Status status = Status::WrongLength;
  int exception_code = 0;
  std::vector<std::int16_t> values;
  // The reply as the histories show it: decimal numbers, each followed by one
  // blank (address, function code, then by function: byte count and the
  // registers, echoed register and value, ... and the CRC word); for an
  // exception -32000 - code. A reply under 5 bytes is returned as it is.
  std::string text;
};

DecodedReply decode_modbus_reply(std::string_view reply);

// The total length a reply will have, judged from its first bytes, or 0 while
// that cannot be told yet: exception replies are 5 bytes, reads 5 + byte count,
// writes (6, 16) 8, diagnostics (8) 6. For transmit's ReplyLength.
std::size_t modbus_reply_length(std::string_view received);

// Whether `reply` is a whole reply of the length its function code says,
// with a right CRC: nothing more of it is to come.
bool modbus_reply_complete(std::string_view reply);

// `text` filled with copies of fill[0] up to `width`: in front (side 0) or after
// it (side 1); any other side gives the empty text.
std::string pad_string(const std::string& text, const std::string& fill, int width, int side);

}  // namespace r7
