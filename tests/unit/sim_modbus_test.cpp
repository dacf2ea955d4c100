// The simulated controller as a Modbus RTU slave: identity, setup registers,
// exceptions, the return to defaults, the store command and download mode.
#include <gtest/gtest.h>

#include <memory>

#include "modbus/modbus.h"
#include "modbus/registers.h"
#include "sim/catalog.h"
#include "sim/simulation.h"
#include "support/line_master.h"

namespace r7::sim {
namespace {

using test::bytes;
using test::exchange_on;
using test::LineMaster;

class SimModbus : public ::testing::Test {
 protected:
  explicit SimModbus(ControllerConfig config = default_config(kModel6180))
      : sim(std::move(config)), port(sim.port_factory().create_port()), m(*port) {
    port->open();
  }
  Controller& controller() { return sim.controller(); }
  FakeClock& clock() { return *sim.fake_clock(); }
  std::string request(int command, int reg, int value, int address = 1) {
    Modbus mb;
    return mb.build_modbus_request(command, address, reg, {static_cast<float>(value), kEndMarker});
  }
  // Milliseconds of fake time until register 1300 answers again.
  std::uint64_t silence_ms() {
    const std::uint64_t start = clock().total_ms();
    EXPECT_NO_THROW(m.read_value(reg::kDefaultsFlag, 100));
    return clock().total_ms() - start;
  }

  Simulation sim;
  std::unique_ptr<SerialPort> port;
  LineMaster m;
};

TEST_F(SimModbus, IdentityRegistersOfBothModels) {
  EXPECT_EQ(m.read_value(0), 6180);
  EXPECT_EQ(m.read_value(1), 21);
  EXPECT_EQ(m.read_value(2), 30517);
  EXPECT_EQ(m.read_value(3), 2);
  EXPECT_EQ(m.read_value(4), 1850);
  EXPECT_EQ(m.read_value(1300), 1);  // the demonstration setup is a configured one

  Simulation small(kModel6170);
  auto p = small.port_factory().create_port();
  p->open();
  LineMaster m2(*p);
  EXPECT_EQ(m2.read_value(0), 6170);
  EXPECT_LT(m2.read_value(4), 2000);
  EXPECT_THROW(Simulation(6190), std::invalid_argument);
}

TEST_F(SimModbus, ReadsSeveralRegistersInOneReply) {
  const std::string reply = exchange_on(*port, request(3, 0, 5));
  Modbus mb;
  const std::string text = mb.decode_modbus_reply(0, reply);
  EXPECT_EQ(reply.size(), 15U);
  EXPECT_EQ(mb.reply_values[1], 6180.0F);
  EXPECT_EQ(mb.reply_values[2], 21.0F);
  EXPECT_EQ(mb.reply_values[5], 1850.0F);
  EXPECT_EQ(text.substr(0, 7), "1 3 10 ");
}

TEST_F(SimModbus, ExceptionsForMissingRegistersReadOnlyRegistersAndBadValues) {
  EXPECT_EQ(m.read(5).exception, 2);     // never held
  EXPECT_EQ(m.read(118).exception, 2);   // listed in 6180.cds, not held
  EXPECT_EQ(m.read(4036).exception, 2);  // between the step registers and 4060
  EXPECT_EQ(m.write(0, 6170).exception, 2);
  EXPECT_EQ(m.write(3, 9).exception, 2);
  EXPECT_EQ(m.write(100, 2).exception, 3);  // display units 0..1
  EXPECT_EQ(m.write(1300, 2).exception, 3);
  EXPECT_EQ(m.write(9999, 1).exception, 2);
  EXPECT_EQ(m.read_value(0), 6180);
  // A read across a missing register fails as a whole; a count of 0 is a bad value.
  EXPECT_EQ(static_cast<unsigned char>(exchange_on(*port, request(3, 110, 10))[2]), 2);
  EXPECT_EQ(static_cast<unsigned char>(exchange_on(*port, request(3, 100, 0))[2]), 3);
  // Function 4 is not served.
  const std::string reply = exchange_on(*port, request(4, 0, 1));
  ASSERT_EQ(reply.size(), 5U);
  EXPECT_EQ(static_cast<unsigned char>(reply[1]), 0x84);
  EXPECT_EQ(static_cast<unsigned char>(reply[2]), 1);
}

TEST_F(SimModbus, IgnoresOtherAddressesBadCrcsAndNoise) {
  EXPECT_EQ(exchange_on(*port, request(3, 0, 1, 2)), "");
  std::string damaged = request(3, 0, 1);
  damaged.back() = static_cast<char>(damaged.back() ^ 1);
  EXPECT_EQ(exchange_on(*port, damaged), "");
  EXPECT_EQ(exchange_on(*port, bytes({0xFF, 0x30, 0x00, 0x2F})), "");  // a bootloader frame
  EXPECT_EQ(exchange_on(*port, bytes({0x00})), "");                    // the online probe
  EXPECT_EQ(m.read_value(0), 6180);  // after the line has been quiet

  // The other address, configured.
  ControllerConfig c = default_config(kModel6180);
  c.address = 17;
  Simulation other(c);
  auto p = other.port_factory().create_port();
  p->open();
  LineMaster m17(*p, 17);
  EXPECT_EQ(m17.read_value(0), 6180);
  LineMaster m1(*p, 1);
  EXPECT_FALSE(m1.read(0).answered);
}

TEST_F(SimModbus, AFrameInPiecesIsTakenWhole) {
  const std::string r = request(3, 0, 1);
  port->write(r.substr(0, 3));
  clock().advance(1);
  const std::string reply = exchange_on(*port, r.substr(3));
  Modbus mb;
  mb.decode_modbus_reply(0, reply);
  EXPECT_EQ(mb.reply_values[1], 6180.0F);
}

TEST_F(SimModbus, WritesAreEchoedAndKept) {
  const std::string req = request(6, 102, 4);
  EXPECT_EQ(exchange_on(*port, req), req);
  EXPECT_EQ(m.read_value(102), 4);
  EXPECT_EQ(controller().snapshot().registers.at(102), 4);
  EXPECT_EQ(m.write(306, -5).value, -5);  // negative values travel as two's complement
  EXPECT_EQ(m.read_value(306), -5);
}

TEST_F(SimModbus, DefaultsCommandSilencesTheControllerThenItReadsZero) {
  ASSERT_NE(m.read_value(100), 0);
  const std::string req = request(6, 1602, 800);
  EXPECT_EQ(exchange_on(*port, req), req);
  EXPECT_FALSE(m.read(1300).answered);
  const std::uint64_t silent = silence_ms();
  EXPECT_GE(silent, 2000U);
  EXPECT_LE(silent, 9000U);  // 13 polls of 3 x 250 ms see it back
  EXPECT_EQ(m.read_value(1300), 0);
  for (const ParameterRegister& r : parameter_registers(kModel6180)) {
    if (r.held) {
      EXPECT_EQ(m.read_value(r.number), r.default_value) << r.number;
    }
  }
  EXPECT_EQ(controller().profiles(), default_profiles());
  EXPECT_EQ(m.read_value(3), 2);  // identity stays
  EXPECT_EQ(m.write(1602, 801).exception, 3);

  // A write makes it configured again; writing 1 to 1300 too.
  EXPECT_EQ(m.write(1300, 1).exception, 0);
  EXPECT_EQ(m.read_value(1300), 1);
  m.write(1300, 0);
  m.write(100, 1);
  EXPECT_EQ(m.read_value(1300), 1);
}

TEST_F(SimModbus, StoringTheSetupSilencesOnlyWhenSomethingChanged) {
  m.write(101, 3);
  EXPECT_TRUE(m.write(25, 0).answered);
  EXPECT_FALSE(m.read(0).answered);
  const std::uint64_t silent = silence_ms();
  EXPECT_LT(silent, 13000U);
  EXPECT_GT(silent, 1000U);
  EXPECT_TRUE(m.write(25, 0).answered);
  EXPECT_TRUE(m.read(0).answered);  // nothing new to store
  EXPECT_EQ(m.read_value(101), 3);
}

TEST_F(SimModbus, DownloadModeRegister) {
  EXPECT_EQ(m.write(1950, 1941).value, 1941);
  EXPECT_EQ(m.write(1950, 1234).exception, 3);
  EXPECT_EQ(controller().mode(), Mode::Application);
  EXPECT_EQ(m.write(1950, 1515).value, 1515);
  EXPECT_EQ(controller().mode(), Mode::Bootloader);
  // The bootloader answers within the pause the download allows (about 5 s).
  FakeClock& c = clock();
  const std::uint64_t start = c.total_ms();
  std::string answer;
  while (answer.empty() && c.total_ms() - start < 5000) {
    answer = exchange_on(*port, bytes({0x00}), {500, 5, 1});
  }
  EXPECT_EQ(answer, bytes({0x01}));
  EXPECT_GE(c.total_ms() - start, 1000U);  // it restarts first
  EXPECT_FALSE(m.read(0, 3).answered);     // Modbus is gone
}

class SimModbusRefusals : public SimModbus {
 protected:
  static ControllerConfig config() {
    ControllerConfig c = default_config(kModel6180);
    add_fault(c.faults, "refuse:100");
    add_fault(c.faults, "refuse:4002:3");
    return c;
  }
  SimModbusRefusals() : SimModbus(config()) {}
};

TEST_F(SimModbusRefusals, RefusedWritesGetTheirCodeAndChangeNothing) {
  const int before = m.read_value(100);
  EXPECT_EQ(m.write(100, before == 0 ? 1 : 0).exception, 2);
  EXPECT_EQ(m.read_value(100), before);
  EXPECT_EQ(m.write(4002, 1).exception, 3);
  EXPECT_EQ(controller().profiles().size(), demo_profiles(kModel6180).size());
  EXPECT_EQ(m.write(101, 2).exception, 0);
}

class SimModbusAtOneRate : public SimModbus {
 protected:
  static ControllerConfig config() {
    ControllerConfig c = default_config(kModel6180);
    c.modbus_baud = 19200;
    return c;
  }
  SimModbusAtOneRate() : SimModbus(config()) {}
};

TEST_F(SimModbusAtOneRate, AnswersOnlyAtItsBaudRate) {
  port->set_settings("9600,N,8,1");
  EXPECT_FALSE(m.read(0).answered);
  port->set_settings("19200,N,8,1");
  EXPECT_EQ(m.read_value(0), 6180);
}

TEST(SimConfig, FaultAndChunkSpecs) {
  Faults f;
  add_fault(f, "drop:0.25");
  add_fault(f, "crc:1");
  add_fault(f, "garbage");
  add_fault(f, "late:300");
  add_fault(f, "refuse:1602");
  add_fault(f, "refuse:25:3");
  add_fault(f, "hangup:7");
  EXPECT_DOUBLE_EQ(f.drop, 0.25);
  EXPECT_DOUBLE_EQ(f.crc, 1.0);
  EXPECT_DOUBLE_EQ(f.garbage, 1.0);
  EXPECT_EQ(f.late_ms, 300U);
  EXPECT_EQ(f.refuse.at(1602), 2);
  EXPECT_EQ(f.refuse.at(25), 3);
  EXPECT_EQ(f.hangup_after, 7);
  for (const char* bad : {"drop", "drop:1.5", "drop:x", "late:-1", "refuse:70000", "refuse:5:4",
                          "hangup:0", "noise:1", "crc:", "garbage:2"}) {
    EXPECT_THROW(add_fault(f, bad), std::invalid_argument) << bad;
  }
  LineModel line;
  set_chunking(line, "62:16");
  EXPECT_EQ(line.chunk_bytes, 62);
  EXPECT_EQ(line.chunk_ms, 16U);
  EXPECT_THROW(set_chunking(line, "62"), std::invalid_argument);
  EXPECT_THROW(set_chunking(line, "0:16"), std::invalid_argument);
  EXPECT_EQ(baud_of("38400,n,8,1"), 38400);
  EXPECT_EQ(baud_of("fast,n,8,1"), 0);
}

}  // namespace
}  // namespace r7::sim
