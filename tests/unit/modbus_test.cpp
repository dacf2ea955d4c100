#include "modbus/modbus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace r7 {
namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b)
    s += static_cast<char>(v);
  return s;
}

unsigned crc_word(const std::string& frame) {
  return static_cast<unsigned char>(frame[frame.size() - 2]) * 256U +
         static_cast<unsigned char>(frame.back());
}

TEST(ModbusCrc, CatalogueCheckValueAndKnownFrame) {
  Modbus m;
  m.modbus_crc16("123456789");
  EXPECT_EQ(m.crc_hi * 256 + m.crc_lo, 0x4B37);
  EXPECT_EQ(m.build_modbus_request(3, 1, 0, {1, kEndMarker}),
            bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
}

TEST(ModbusRequest, ArgumentsAreTestedInOrder) {
  Modbus m;
  EXPECT_EQ(m.build_modbus_request(5, 1, 0, {1}), kBadCommand);
  EXPECT_EQ(m.build_modbus_request(5, 300, -1, {99999}), kBadCommand);
  EXPECT_EQ(m.build_modbus_request(16, 248, 0, {1}), kBadAddress);
  EXPECT_EQ(m.build_modbus_request(3, -1, 0, {1}), kBadAddress);
  EXPECT_EQ(m.build_modbus_request(3, 1, 65536, {99999}), kBadRegister);
  EXPECT_EQ(m.build_modbus_request(3, 1, -1, {1}), kBadRegister);
  EXPECT_EQ(m.build_modbus_request(6, 1, 0, {32768}), kBadDataValue);
  EXPECT_EQ(m.build_modbus_request(6, 1, 0, {-32769}), kBadDataValue);
  EXPECT_EQ(m.build_modbus_request(3, 247, 65535, {1}).size(), 8U);
}

TEST(ModbusRequest, ValuesGoHighByteFirstNegativesAsTwosComplement) {
  Modbus m;
  const std::string minus_one = m.build_modbus_request(6, 1, 1950, {-1, kEndMarker});
  EXPECT_EQ(minus_one.substr(0, 6), bytes({0x01, 0x06, 0x07, 0x9E, 0xFF, 0xFF}));
  const std::string lowest = m.build_modbus_request(6, 1, 1950, {-32768});
  EXPECT_EQ(lowest.substr(4, 2), bytes({0x80, 0x00}));
  const std::string rounded = m.build_modbus_request(6, 1, 10, {2.6F, kEndMarker});
  EXPECT_EQ(rounded.substr(4, 2), bytes({0x00, 0x03}));
}

TEST(ModbusRequest, FrameLayoutsOfEveryFunctionCode) {
  Modbus m;
  EXPECT_EQ(m.build_modbus_request(8, 1, 0, {0, kEndMarker}),
            with_modbus_crc(bytes({0x01, 0x08, 0x00, 0x00})));
  EXPECT_EQ(m.build_modbus_request(3, 1, 0, {kEndMarker, 5}),
            with_modbus_crc(bytes({0x01, 0x03, 0, 0})));
  EXPECT_EQ(m.build_modbus_request(4, 2, 0x1234, {2}),
            with_modbus_crc(bytes({0x02, 0x04, 0x12, 0x34, 0x00, 0x02})));
  EXPECT_EQ(m.build_modbus_request(16, 1, 4000, {1, 2, kEndMarker}),
            with_modbus_crc(bytes({0x01, 0x10, 0x0F, 0xA0, 0x00, 0x02, 0x04, 0, 1, 0, 2})));
}

TEST(ModbusRequest, WriteMultipleIsRefusedBeyondOneByteOfByteCount) {
  Modbus m;
  EXPECT_EQ(m.build_modbus_request(16, 1, 0, std::vector<float>(127, 1)).size(), 9U + 254U);
  EXPECT_EQ(m.build_modbus_request(16, 1, 0, std::vector<float>(128, 1)), kBadDataValue);
}

TEST(ModbusDecode, ReadOfOneRegister) {
  Modbus m;
  const std::string reply = with_modbus_crc(bytes({1, 3, 2, 0x04, 0xD2}));
  EXPECT_EQ(m.decode_modbus_reply(0, reply), "1 3 2 1234 " + std::to_string(crc_word(reply)) + " ");
  EXPECT_EQ(m.reply_values[1], 1234.0F);
  EXPECT_EQ(m.reply_values[2], static_cast<float>(static_cast<int>(crc_word(reply)) -
                                                  (crc_word(reply) > 32767 ? 65536 : 0)));
  EXPECT_EQ(m.reply_values[3], kNoValue);
}

TEST(ModbusDecode, RegisterValuesAreSignedTheCrcWordIsNot) {
  Modbus m;
  const std::string reply = with_modbus_crc(bytes({1, 3, 2, 0xFF, 0xFF}));
  const std::string text = m.decode_modbus_reply(0, reply);
  EXPECT_EQ(text, "1 3 2 -1 " + std::to_string(crc_word(reply)) + " ");
  EXPECT_EQ(m.reply_values[1], -1.0F);
}

TEST(ModbusDecode, WriteEchoAndException) {
  Modbus m;
  const std::string echo = with_modbus_crc(bytes({1, 6, 0x07, 0x9E, 0x07, 0x95}));
  EXPECT_EQ(m.decode_modbus_reply(0, echo),
            "1 6 1950 1941 " + std::to_string(crc_word(echo)) + " ");
  EXPECT_EQ(m.reply_values[1], kNoValue);
  const std::string negative = with_modbus_crc(bytes({1, 6, 0x07, 0x9E, 0x83, 0x5E}));
  EXPECT_EQ(m.decode_modbus_reply(0, negative).substr(0, 15), "1 6 1950 -31906");

  const std::string exception = with_modbus_crc(bytes({1, 0x83, 2}));
  EXPECT_EQ(m.decode_modbus_reply(0, exception),
            "1 131 -32002 " + std::to_string(crc_word(exception)) + " ");
  EXPECT_EQ(m.reply_values[1], -32002.0F);
}

TEST(ModbusDecode, ShortRepliesOnlyTouchTheStatus) {
  Modbus m;
  m.reply_values.fill(7);
  EXPECT_EQ(m.decode_modbus_reply(0, ""), "");
  EXPECT_EQ(m.reply_values[1], kWrongLength);
  EXPECT_EQ(m.reply_values[0], 7.0F);
  EXPECT_EQ(m.reply_values[2], 7.0F);
  EXPECT_EQ(m.decode_modbus_reply(0, bytes({1, 3, 2, 0})), bytes({1, 3, 2, 0}));
}

TEST(ModbusDecode, WrongLengthsBadCrcAndUnknownCodes) {
  Modbus m;
  EXPECT_EQ(m.decode_modbus_reply(0, with_modbus_crc(bytes({1, 3, 4, 0, 1}))), "1 3 4 ");
  EXPECT_EQ(m.reply_values[1], kWrongLength);

  std::string damaged = with_modbus_crc(bytes({1, 3, 2, 0x04, 0xD2}));
  damaged[3] = 0x05;
  EXPECT_EQ(m.decode_modbus_reply(0, damaged), "1 3 ");
  EXPECT_EQ(m.reply_values[1], kBadCrc);

  EXPECT_EQ(m.decode_modbus_reply(0, with_modbus_crc(bytes({1, 5, 0, 1, 0xFF, 0}))), "1 5 ");
  EXPECT_EQ(m.reply_values[1], kNoValue);

  EXPECT_EQ(m.decode_modbus_reply(0, with_modbus_crc(bytes({1, 6, 0, 1, 0}))), "1 6 ");
  EXPECT_EQ(m.reply_values[1], kWrongLength);
}

TEST(ModbusDecode, OddByteCountsAndOversizedReadsAreRefused) {
  Modbus m;
  EXPECT_EQ(m.decode_modbus_reply(0, with_modbus_crc(bytes({1, 3, 3, 0, 1, 2}))), "1 3 3 ");
  EXPECT_EQ(m.reply_values[1], kWrongLength);

  std::string read49 = bytes({1, 3, 98});
  std::string read50 = bytes({1, 3, 100});
  for (int i = 0; i < 98; ++i)
    read49 += static_cast<char>(i);
  for (int i = 0; i < 100; ++i)
    read50 += static_cast<char>(i);
  m.decode_modbus_reply(0, with_modbus_crc(read49));
  EXPECT_EQ(m.reply_values[1], 1.0F);  // 0x00 0x01
  EXPECT_EQ(m.reply_values[49], static_cast<float>(96 * 256 + 97));
  m.decode_modbus_reply(0, with_modbus_crc(read50));
  EXPECT_EQ(m.reply_values[1], kWrongLength);
}

TEST(ModbusReplyLength, TellsTheLengthOnceTheHeaderHasArrived) {
  EXPECT_EQ(modbus_reply_length(""), 0U);
  EXPECT_EQ(modbus_reply_length(bytes({1})), 0U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 3})), 0U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 3, 2})), 7U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 6})), 8U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 0x83})), 5U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 8})), 6U);
}

TEST(PadString, FillsOnEitherSide) {
  EXPECT_EQ(pad_string("3F", "0", 4, 0), "003F");
  EXPECT_EQ(pad_string("3F", "0", 4, 1), "3F00");
  EXPECT_EQ(pad_string("3F", "0", 2, 0), "3F");
  EXPECT_EQ(pad_string("3F", "0", 4, 2), "");
}

}  // namespace
}  // namespace r7
