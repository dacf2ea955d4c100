#include "modbus/modbus.h"

#include <cmath>
#include <cstdint>

namespace r7 {

namespace {

// Registers a read reply may carry: the CRC word takes the entry after the
// last register value, and reply_values ends at entry 50.
constexpr int kMaxReadRegisters = 49;
// A command-16 byte count (2 per value) must fit one byte.
constexpr std::size_t kMaxWriteValues = 127;

unsigned byte_at(std::string_view s, std::size_t k) {  // k counted from 1
  return static_cast<unsigned char>(s[k - 1]);
}

unsigned word_at(std::string_view s, std::size_t k) {
  return byte_at(s, k) * 256 + byte_at(s, k + 1);
}

int signed_word(unsigned w) {
  return w > 32767 ? static_cast<int>(w) - 65536 : static_cast<int>(w);
}

void append_word(std::string& frame, long value) {
  if (value < 0) value += 65536;
  frame += static_cast<char>((value / 256) & 0xFF);
  frame += static_cast<char>(value % 256);
}

// Values go to the nearest whole number, halves to the even one.
long whole(double v) {
  return static_cast<long>(std::nearbyint(v));
}

}  // namespace

void Modbus::modbus_crc16(std::string_view message) {
  unsigned crc = 0xFFFF;
  for (char c : message) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xA001U : crc >> 1;
    }
  }
  crc_lo = static_cast<int>(crc & 0xFF);
  crc_hi = static_cast<int>(crc >> 8);
}

std::string Modbus::build_modbus_request(int command, int address, double register_no,
                                         const std::vector<float>& data) {
  if (command != 3 && command != 4 && command != 6 && command != 8 && command != 16) {
    return kBadCommand;
  }
  if (address < 0 || address > 247) return kBadAddress;
  const long reg = whole(register_no);
  if (!(register_no >= 0 && register_no <= 65535) || reg > 65535) return kBadRegister;

  std::vector<long> values;
  for (float v : data) {
    if (v == kEndMarker) break;
    const long w = whole(v);
    if (!(v >= -32768.0F && v <= 32767.0F) || w < -32768 || w > 32767) return kBadDataValue;
    values.push_back(w);
  }
  if (command == 16 && values.size() > kMaxWriteValues) return kBadDataValue;

  std::string frame;
  frame += static_cast<char>(address);
  frame += static_cast<char>(command);
  if (command != 8) append_word(frame, reg);
  if (command == 16) {
    frame += '\0';
    frame += static_cast<char>(values.size());
    frame += static_cast<char>(2 * values.size());
  }
  for (long v : values)
    append_word(frame, v);
  modbus_crc16(frame);
  frame += static_cast<char>(crc_lo);
  frame += static_cast<char>(crc_hi);
  return frame;
}

std::string Modbus::decode_modbus_reply(int /*mode*/, std::string_view reply) {
  if (reply.size() < 5) {
    reply_values[1] = kWrongLength;
    return std::string(reply);
  }
  for (int i = 0; i <= 33; ++i)
    reply_values[i] = kNoValue;

  auto num = [](long v) { return std::to_string(v) + " "; };
  std::string text = num(byte_at(reply, 1)) + num(byte_at(reply, 2));

  modbus_crc16(reply.substr(0, reply.size() - 2));
  if (static_cast<unsigned>(crc_lo) != byte_at(reply, reply.size() - 1) ||
      static_cast<unsigned>(crc_hi) != byte_at(reply, reply.size())) {
    reply_values[1] = kBadCrc;
    return text;
  }

  const unsigned function = byte_at(reply, 2);
  if (function >= 128) {
    const int e = static_cast<int>(byte_at(reply, 3));
    reply_values[1] = kExceptionBase - static_cast<float>(e);
    return text + num(-32000 - e) + num(word_at(reply, 4));
  }

  switch (function) {
    case 3:
    case 4: {
      const unsigned count = byte_at(reply, 3);
      text += num(count);
      // Mended: an odd byte count has no second byte for its last word, and
      // more than 49 registers do not fit reply_values; both are wrong lengths.
      if (reply.size() != count + 5 || count % 2 != 0 || count / 2 > kMaxReadRegisters) {
        reply_values[1] = kWrongLength;
        return text;
      }
      int entry = 1;
      for (std::size_t k = 4; k + 1 <= reply.size(); k += 2, ++entry) {
        const unsigned w = word_at(reply, k);
        const bool crc_word = k + 1 == reply.size();
        reply_values[entry] = static_cast<float>(signed_word(w));
        text += crc_word ? num(w) : num(signed_word(w));
      }
      return text;
    }
    case 6:
    case 16:
      if (reply.size() != 8) {
        reply_values[1] = kWrongLength;
        return text;
      }
      text += num(word_at(reply, 3));
      text += function == 6 ? num(signed_word(word_at(reply, 5))) : num(word_at(reply, 5));
      text += num(word_at(reply, 7));
      return text;
    case 8:
      if (reply.size() != 6) {
        reply_values[1] = kWrongLength;
        return text;
      }
      return text + num(word_at(reply, 3)) + num(word_at(reply, 5));
    default:
      return text;
  }
}

std::string with_modbus_crc(std::string frame) {
  Modbus m;
  m.modbus_crc16(frame);
  frame += static_cast<char>(m.crc_lo);
  frame += static_cast<char>(m.crc_hi);
  return frame;
}

std::size_t modbus_reply_length(std::string_view received) {
  if (received.size() < 2) return 0;
  const unsigned function = static_cast<unsigned char>(received[1]);
  if (function >= 128) return 5;
  switch (function) {
    case 3:
    case 4:
      if (received.size() < 3) return 0;
      return static_cast<std::size_t>(static_cast<unsigned char>(received[2])) + 5;
    case 6:
    case 16:
      return 8;
    case 8:
      return 6;
    default:
      return 0;
  }
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
