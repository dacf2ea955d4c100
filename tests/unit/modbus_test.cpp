#include "modbus/modbus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/register_client.h"
#include "support/comms_fixture.h"
#include "support/modbus_frames.h"

namespace r7 {
namespace {

using test::bytes;

unsigned crc_word(const std::string& frame) {
  return static_cast<unsigned char>(frame[frame.size() - 2]) * 256U +
         static_cast<unsigned char>(frame.back());
}

std::string frame_of(int function, int address, long reg, std::vector<long> values) {
  const auto r = build_modbus_request(function, address, reg, values);
  return r ? r.value() : r.error();
}

TEST(ModbusCrc, CatalogueCheckValueAndKnownFrame) {
  EXPECT_EQ(modbus_crc16("123456789"), 0x4B37);
  EXPECT_EQ(test::read_request(1), bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
}

TEST(ModbusRequest, RefusalsInOrderAndFrameLayouts) {
  struct Case {
    int function, address;
    long reg;
    std::vector<long> values;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {5, 300, -1, {99999}, kBadCommand},
      {16, 248, 0, {1}, kBadAddress},
      {3, -1, 0, {1}, kBadAddress},
      {3, 1, 65536, {99999}, kBadRegister},
      {3, 1, -1, {1}, kBadRegister},
      {6, 1, 0, {32768}, kBadDataValue},
      {6, 1, 0, {-32769}, kBadDataValue},
      {6, 1, 1950, {-1}, with_modbus_crc(bytes({1, 6, 0x07, 0x9E, 0xFF, 0xFF}))},
      {6, 1, 1950, {-32768}, with_modbus_crc(bytes({1, 6, 0x07, 0x9E, 0x80, 0x00}))},
      // -30000 is a value like any other.
      {6, 1, 10, {-30000}, with_modbus_crc(bytes({1, 6, 0, 10, 0x8A, 0xD0}))},
      {8, 1, 0, {0}, with_modbus_crc(bytes({0x01, 0x08, 0x00, 0x00}))},
      {3, 1, 0, {}, with_modbus_crc(bytes({0x01, 0x03, 0, 0}))},
      {4, 2, 0x1234, {2}, with_modbus_crc(bytes({0x02, 0x04, 0x12, 0x34, 0x00, 0x02}))},
      {16,
       1,
       4000,
       {1, 2},
       with_modbus_crc(bytes({0x01, 0x10, 0x0F, 0xA0, 0x00, 0x02, 0x04, 0, 1, 0, 2}))},
      {16, 1, 0, std::vector<long>(128, 1), kBadDataValue},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(frame_of(c.function, c.address, c.reg, c.values), c.expected)
        << c.function << " " << c.address << " " << c.reg;
  }
  EXPECT_EQ(frame_of(16, 1, 0, std::vector<long>(127, 1)).size(), 9U + 254U);
  EXPECT_EQ(frame_of(3, 247, 65535, {1}).size(), 8U);
}

TEST(ModbusDecode, TextsValuesAndStatuses) {
  using S = DecodedReply::Status;
  struct Case {
    std::string reply;
    S status;
    std::string text_start;
    std::vector<std::int16_t> values;
  };
  std::string damaged = with_modbus_crc(bytes({1, 3, 2, 0x04, 0xD2}));
  damaged[3] = 0x05;
  const std::vector<Case> cases = {
      {with_modbus_crc(bytes({1, 3, 2, 0x04, 0xD2})), S::Values, "1 3 2 1234 ", {1234}},
      {with_modbus_crc(bytes({1, 3, 2, 0xFF, 0xFF})), S::Values, "1 3 2 -1 ", {-1}},
      {with_modbus_crc(bytes({1, 3, 4, 0x80, 0x00, 0x7F, 0xFF})),
       S::Values,
       "1 3 4 -32768 32767 ",
       {-32768, 32767}},
      {with_modbus_crc(bytes({1, 3, 4, 0x82, 0x9C, 0x8A, 0xD0})),
       S::Values,
       "1 3 4 -32100 -30000 ",
       {-32100, -30000}},
      {with_modbus_crc(bytes({1, 6, 0x07, 0x9E, 0x07, 0x95})), S::NoValue, "1 6 1950 1941 ", {}},
      {with_modbus_crc(bytes({1, 6, 0x07, 0x9E, 0x83, 0x5E})), S::NoValue, "1 6 1950 -31906 ", {}},
      {with_modbus_crc(bytes({1, 0x83, 2})), S::Exception, "1 131 -32002 ", {}},
      {with_modbus_crc(bytes({1, 0x80, 1})), S::Exception, "1 128 -32001 ", {}},
      {"", S::WrongLength, "", {}},
      {bytes({1, 3, 2, 0}), S::WrongLength, bytes({1, 3, 2, 0}), {}},
      {with_modbus_crc(bytes({1, 3, 4, 0, 1})), S::WrongLength, "1 3 4 ", {}},
      {with_modbus_crc(bytes({1, 3, 3, 0, 1, 2})), S::WrongLength, "1 3 3 ", {}},
      {damaged, S::BadCrc, "1 3 ", {}},
      {with_modbus_crc(bytes({1, 5, 0, 1, 0xFF, 0})), S::NoValue, "1 5 ", {}},
      {with_modbus_crc(bytes({1, 6, 0, 1, 0})), S::WrongLength, "1 6 ", {}},
  };
  for (const Case& c : cases) {
    const DecodedReply d = decode_modbus_reply(c.reply);
    EXPECT_EQ(d.status, c.status) << c.text_start;
    EXPECT_EQ(d.text.substr(0, c.text_start.size()), c.text_start);
    EXPECT_EQ(d.values, c.values) << c.text_start;
  }
  // The CRC word closes the text, unsigned.
  const std::string exception = with_modbus_crc(bytes({1, 0x83, 2}));
  EXPECT_EQ(decode_modbus_reply(exception).text,
            "1 131 -32002 " + std::to_string(crc_word(exception)) + " ");
  EXPECT_EQ(decode_modbus_reply(exception).exception_code, 2);
  // Reads of more than 49 registers are refused.
  const std::string read49 = with_modbus_crc(bytes({1, 3, 98}) + std::string(98, '\x01'));
  EXPECT_EQ(decode_modbus_reply(read49).values.size(), 49U);
  const std::string read50 = with_modbus_crc(bytes({1, 3, 100}) + std::string(100, '\x01'));
  EXPECT_EQ(decode_modbus_reply(read50).status, S::WrongLength);
}

TEST(ModbusReplyLength, TellsTheLengthOnceTheHeaderHasArrived) {
  EXPECT_EQ(modbus_reply_length(""), 0U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 3})), 0U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 3, 2})), 7U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 6})), 8U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 0x83})), 5U);
  EXPECT_EQ(modbus_reply_length(bytes({1, 8})), 6U);
}

struct RegisterClientTest : test::CommsFixture {
  RegisterClient client{comms};
  void SetUp() override {
    ini("[COMMS CONTROLS]\nDEVICE 0 COMM PORT =2\nDEVICE 0 PORT SETTING =9600,N,8,1\n"
        "DEVICE 1 COMM PORT =2\nDEVICE 1 PORT SETTING =9600,N,8,1\n");
    comms.init_comms(read_protocol_slots(settings));
  }
  void reply(const std::string& bytes_back) { line.answer_next_write({bytes_back}); }
};

TEST_F(RegisterClientTest, RepliesThatDoNotAnswerTheRequestAreDamaged) {
  struct Case {
    std::string reply;
    RegisterFailure failure;
  };
  const std::vector<Case> reads = {
      {test::value_reply(5, 2), RegisterFailure::Damaged},                  // another address
      {test::read_reply(2), RegisterFailure::Damaged},                      // two registers for one
      {test::write_request(0, 5), RegisterFailure::Damaged},                // another function
      {with_modbus_crc(bytes({1, 4, 2, 0, 5})), RegisterFailure::Damaged},  // input registers
      {with_modbus_crc(bytes({1, 0x83, 2})), RegisterFailure::Refused},
      {"", RegisterFailure::NoReply},
  };
  for (const Case& c : reads) {
    if (!c.reply.empty()) reply(c.reply);
    const auto r = client.read_registers(1, 0, 1);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().failure, c.failure);
    EXPECT_EQ(r.error().reply, c.reply);
  }
  reply(test::write_request(110, 6));  // the echo of another value
  const auto w = client.write_register(1, 110, 5);
  ASSERT_FALSE(w);
  EXPECT_EQ(w.error().failure, RegisterFailure::Damaged);
}

TEST_F(RegisterClientTest, RepeatsOnlyWhatTheCallerNames) {
  reply(with_modbus_crc(bytes({1, 3, 2, 0, 1})).substr(0, 6));  // cut short
  EXPECT_FALSE(client.read_registers(1, 0, 1, 3, Repeat::WhenSilent));
  EXPECT_EQ(line.writes.size(), 1U);
  reply(with_modbus_crc(bytes({1, 3, 2, 0, 1})).substr(0, 6));
  reply(test::value_reply(7));
  const auto r = client.read_registers(1, 0, 1, 3, Repeat::WhenSilentOrDamaged);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->front(), 7);
}

// Modbus RTU has no transaction number: what comes after a try ended (a late
// reply, the tail of a damaged one) is let go before the next try, so it is
// never taken for that try's answer.
TEST_F(RegisterClientTest, LateRepliesAndTrailingBytesNeverAnswerTheNextTry) {
  line.answer_next_write({test::value_reply(7), 300, 0, 0});  // after the 250 ms try
  line.answer_next_write({test::value_reply(9), 100, 0, 0});
  auto r = client.read_registers(1, 0, 1, 2);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->front(), 9);

  std::string damaged = test::value_reply(7);
  damaged.back() = static_cast<char>(damaged.back() ^ 1);
  line.answer_next_write({damaged, 5, 0, 0});
  line.arrive(bytes({1, 3}), 30);  // more of the damaged frame
  line.answer_next_write({test::value_reply(9), 30, 0, 0});
  r = client.read_registers(1, 0, 1, 2, Repeat::WhenSilentOrDamaged);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->front(), 9);
}

// A port that cannot be opened is no silent controller; a refused write is
// an answer and is not sent again.
TEST_F(RegisterClientTest, APortThatCannotOpenIsAPortFailureAndARefusalIsFinal) {
  reply(with_modbus_crc(bytes({1, 0x86, 2})));
  const auto w = client.write_register(1, 110, 5, 3);
  ASSERT_FALSE(w);
  EXPECT_EQ(w.error().failure, RegisterFailure::Refused);
  EXPECT_EQ(line.writes.size(), 1U);

  comms.close_all();
  line.remove_device(names.device_name(2));
  const auto r = client.read_registers(1, 0, 1);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().failure, RegisterFailure::PortFailure);
}

}  // namespace
}  // namespace r7
