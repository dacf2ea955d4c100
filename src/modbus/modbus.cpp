#include "modbus/modbus.h"

namespace r7 {

namespace {

constexpr std::size_t kMaxWriteValues = 127;  // a function-16 byte count must fit one byte
constexpr std::size_t kMinReplyLength = 5;
constexpr int kExceptionBase = -32000;

unsigned byte_at(std::string_view s, std::size_t k) {  // k counted from 1
  return static_cast<unsigned char>(s[k - 1]);
}

unsigned word_at(std::string_view s, std::size_t k) {
  return byte_at(s, k) * 256 + byte_at(s, k + 1);
}

std::int16_t signed_word(unsigned w) {
  return static_cast<std::int16_t>(w > 32767 ? static_cast<int>(w) - 65536 : static_cast<int>(w));
}

void append_word(std::string& frame, long value) {
  if (value < 0) value += 65536;
  frame += static_cast<char>((value / 256) & 0xFF);
  frame += static_cast<char>(value % 256);
}

std::string num(long v) {
  return std::to_string(v) + " ";
}

bool known_function(int function) {
  return function == kReadHoldingRegisters || function == kReadInputRegisters ||
         function == kWriteSingleRegister || function == kDiagnostics ||
         function == kWriteMultipleRegisters;
}

// The registers of a read reply (function 3 or 4) whose CRC is right.
void decode_read(std::string_view reply, DecodedReply& d) {
  const unsigned count = byte_at(reply, 3);
  d.text += num(count);
  // An odd byte count has no second byte for its last word; more than 49
  // registers are more than any read asks for. Both are wrong lengths.
  if (reply.size() != count + 5 || count % 2 != 0 ||
      count / 2 > static_cast<unsigned>(kMaxReadRegisters)) {
    d.status = DecodedReply::Status::WrongLength;
    return;
  }
  d.status = DecodedReply::Status::Values;
  for (std::size_t k = 4; k + 1 <= reply.size(); k += 2) {
    const unsigned w = word_at(reply, k);
    const bool crc_word = k + 1 == reply.size();
    if (!crc_word) d.values.push_back(signed_word(w));
    d.text += crc_word ? num(w) : num(signed_word(w));
  }
}

// The words of an echo or diagnostics reply, `length` bytes long.
void decode_words(std::string_view reply, std::size_t length, bool signed_value, DecodedReply& d) {
  if (reply.size() != length) {
    d.status = DecodedReply::Status::WrongLength;
    return;
  }
  d.status = DecodedReply::Status::NoValue;
  for (std::size_t k = 3; k + 1 <= reply.size(); k += 2) {
    const unsigned w = word_at(reply, k);
    d.text += k == 5 && signed_value ? num(signed_word(w)) : num(w);
  }
}

}  // namespace

std::uint16_t modbus_crc16(std::string_view bytes) {
  unsigned crc = 0xFFFF;
  for (char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xA001U : crc >> 1;
    }
  }
  return static_cast<std::uint16_t>(crc);
}

std::string with_modbus_crc(std::string frame) {
  const std::uint16_t crc = modbus_crc16(frame);
  frame += static_cast<char>(crc & 0xFF);
  frame += static_cast<char>(crc >> 8);
  return frame;
}

Expected<std::string, std::string> build_modbus_request(int function, int address, long register_no,
                                                        std::span<const long> values) {
  if (!known_function(function)) return unexpected(std::string(kBadCommand));
  if (address < 0 || address > 247) return unexpected(std::string(kBadAddress));
  if (register_no < 0 || register_no > 65535) return unexpected(std::string(kBadRegister));
  for (long v : values) {
    if (v < -32768 || v > 32767) return unexpected(std::string(kBadDataValue));
  }
  if (function == kWriteMultipleRegisters && values.size() > kMaxWriteValues) {
    return unexpected(std::string(kBadDataValue));
  }
  std::string frame;
  frame += static_cast<char>(address);
  frame += static_cast<char>(function);
  if (function != kDiagnostics) append_word(frame, register_no);
  if (function == kWriteMultipleRegisters) {
    frame += '\0';
    frame += static_cast<char>(values.size());
    frame += static_cast<char>(2 * values.size());
  }
  for (long v : values)
    append_word(frame, v);
  return with_modbus_crc(std::move(frame));
}

DecodedReply decode_modbus_reply(std::string_view reply) {
  DecodedReply d;
  if (reply.size() < kMinReplyLength) {
    d.text = std::string(reply);
    return d;
  }
  d.text = num(byte_at(reply, 1)) + num(byte_at(reply, 2));
  const std::uint16_t crc = modbus_crc16(reply.substr(0, reply.size() - 2));
  if ((crc & 0xFF) != byte_at(reply, reply.size() - 1) ||
      (crc >> 8) != byte_at(reply, reply.size())) {
    d.status = DecodedReply::Status::BadCrc;
    return d;
  }
  const unsigned function = byte_at(reply, 2);
  if (function >= 128) {
    d.status = DecodedReply::Status::Exception;
    d.exception_code = static_cast<int>(byte_at(reply, 3));
    d.text += num(kExceptionBase - d.exception_code) + num(word_at(reply, 4));
    return d;
  }
  switch (function) {
    case kReadHoldingRegisters:
    case kReadInputRegisters:
      decode_read(reply, d);
      break;
    case kWriteSingleRegister:
      decode_words(reply, 8, true, d);
      break;
    case kWriteMultipleRegisters:
      decode_words(reply, 8, false, d);
      break;
    case kDiagnostics:
      decode_words(reply, 6, false, d);
      break;
    default:
      d.status = DecodedReply::Status::NoValue;
      break;
  }
  return d;
}

std::size_t modbus_reply_length(std::string_view received) {
  if (received.size() < 2) return 0;
  const unsigned function = static_cast<unsigned char>(received[1]);
  if (function >= 128) return 5;
  switch (function) {
    case kReadHoldingRegisters:
    case kReadInputRegisters:
      if (received.size() < 3) return 0;
      return static_cast<std::size_t>(static_cast<unsigned char>(received[2])) + 5;
    case kWriteSingleRegister:
    case kWriteMultipleRegisters:
      return 8;
    case kDiagnostics:
      return 6;
    default:
      return 0;
  }
}

bool modbus_reply_complete(std::string_view reply) {
  if (reply.size() < kMinReplyLength || reply.size() != modbus_reply_length(reply)) return false;
  const std::uint16_t crc = modbus_crc16(reply.substr(0, reply.size() - 2));
  return (crc & 0xFF) == byte_at(reply, reply.size() - 1) &&
         (crc >> 8) == byte_at(reply, reply.size());
}

std::string pad_string(const std::string& text, const std::string& fill, int width, int side) {
  const int count = width - static_cast<int>(text.size());
  const std::string padding =
      count > 0 && !fill.empty() ? std::string(static_cast<std::size_t>(count), fill[0]) : "";
  if (side == 0) return padding + text;
  if (side == 1) return text + padding;
  return {};
}

}  // namespace r7
