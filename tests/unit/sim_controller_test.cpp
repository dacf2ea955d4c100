// The simulated controller on its line: the Modbus slave (identity, exceptions
// and refusals, the return to defaults, the store command, download mode), its
// bootloader and the download application (checksums, the 38400-baud rule,
// erase, the flash image, the power cycle that brings the new software).
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "modbus/modbus.h"
#include "sim/catalog.h"
#include "sim/simulation.h"
#include "support/line_master.h"
#include "support/sim_printers.h"

namespace r7::sim {
namespace {

using test::bytes;

std::string request(int function, int reg, int value, int address = 1) {
  const std::array<long, 1> values{value};
  return build_modbus_request(function, address, reg, values).value();
}
// A bootloader frame: FF cmd n data, then the low byte of the sum of them all.
std::string frame(int cmd, const std::string& data) {
  std::string f{'\xFF', static_cast<char>(cmd), static_cast<char>(data.size())};
  f += data;
  unsigned sum = 0;
  for (char c : f)
    sum += static_cast<unsigned char>(c);
  return f + static_cast<char>(sum & 0xFF);
}
std::string ack(int cmd) {
  return bytes({0xFF, cmd});
}
std::string nak(int cmd) {
  return bytes({0xFF, cmd | 0x80});
}
std::string start_frame(int last = 4) {
  return frame(0x31, bytes({0, 8, 0, last}));
}

class SimController : public ::testing::Test {
 protected:
  SimController() { port->open(); }
  Controller& controller() { return sim.controller(); }
  FakeClock& clock() { return *sim.fake_clock(); }
  std::string send(const std::string& message, std::uint32_t timeout_ms = 2000) {
    return test::exchange_on(*port, message, timeout_ms);
  }
  // Fake milliseconds until the controller answers again.
  std::uint64_t silence_ms() {
    const std::uint64_t start = clock().total_ms();
    EXPECT_NO_THROW(m.read_value(0, 100));
    return clock().total_ms() - start;
  }
  void enter_bootloader() {
    ASSERT_EQ(m.write(1950, 1941).value, 1941);
    ASSERT_EQ(m.write(1950, 1414).value, 1414);
    clock().sleep_ms(5000);
  }
  // Loads a one-record download application and starts it.
  void start_download_app() {
    enter_bootloader();
    ASSERT_EQ(send(frame(0x20, bytes({0x08, 0x00, 0xAA}))), ack(0x20));
    ASSERT_EQ(send(frame(0x30, "")), ack(0x30));
    ASSERT_EQ(send(start_frame()), ack(0x31));
    port->set_settings("38400,n,8,1");
  }
  void erase() { ASSERT_EQ(send(frame(0x10, ""), 30000), ack(0x10)); }

  Simulation sim{kModel6180};
  std::unique_ptr<SerialPort> port = sim.port_factory().create_port();
  test::LineMaster m{*port};
};

// ---- Modbus ----

TEST_F(SimController, AnswersWholeFramesAtItsAddressOnly) {
  // Registers 0..4: 6180, serial number 21 30517, software 2, revision 1850.
  EXPECT_EQ(send(request(3, 0, 5)),
            with_modbus_crc(bytes({1, 3, 10, 0x18, 0x24, 0, 21, 0x77, 0x35, 0, 2, 0x07, 0x3A})));
  EXPECT_EQ(send(request(3, 0, 1, 2), 250), "");
  std::string damaged = request(3, 0, 1);
  damaged.back() = static_cast<char>(damaged.back() ^ 1);
  EXPECT_EQ(send(damaged, 250), "");
  const std::string whole = request(3, 0, 1);  // in two pieces
  port->write(whole.substr(0, 3));
  clock().advance(1);
  EXPECT_EQ(send(whole.substr(3)), with_modbus_crc(bytes({1, 3, 2, 0x18, 0x24})));
}

TEST_F(SimController, ExceptionsForMissingRegistersBadValuesAndUnknownFunctions) {
  for (int reg : {5, 118, 4036, 9999})  // never held, in 6180.cds only, between 4035 and 4060
    EXPECT_EQ(m.read(reg).exception, 2) << reg;
  EXPECT_EQ(m.write(0, 6170).exception, 2);  // read only
  EXPECT_EQ(m.write(9999, 1).exception, 2);
  for (const auto& [reg, value] :
       std::vector<std::pair<int, int>>{{100, 2}, {1300, 2}, {1602, 801}, {1950, 1234}})
    EXPECT_EQ(m.write(reg, value).exception, 3) << reg;
  // A read across a missing register fails whole; a count of 0 is a bad value.
  EXPECT_EQ(send(request(3, 110, 10)).substr(0, 3), bytes({1, 0x83, 2}));
  EXPECT_EQ(send(request(3, 100, 0)).substr(0, 3), bytes({1, 0x83, 3}));
  EXPECT_EQ(send(request(4, 0, 1)), with_modbus_crc(bytes({1, 0x84, 1})));
}

TEST_F(SimController, RefusedWritesGetTheirCodeAndChangeNothing) {
  add_fault(controller().faults(), "refuse:100");
  add_fault(controller().faults(), "refuse:4002:3");
  const int before = m.read_value(100);
  EXPECT_EQ(m.write(100, 1 - before).exception, 2);
  EXPECT_EQ(m.read_value(100), before);
  EXPECT_EQ(m.write(4002, 1).exception, 3);
  EXPECT_EQ(controller().profiles(), demo_profiles(kModel6180));
  EXPECT_EQ(send(request(6, 306, -5)), request(6, 306, -5));  // others are echoed
  EXPECT_EQ(m.read_value(306), -5);
}

TEST_F(SimController, DefaultsCommandSilencesTheControllerThenItReadsZero) {
  EXPECT_EQ(m.read_value(1300), 1);  // the demonstration setup is a configured one
  EXPECT_EQ(m.write(1602, 800).value, 800);
  const std::uint64_t silent = silence_ms();
  EXPECT_GE(silent, 2000U);
  EXPECT_LE(silent, 9000U);  // 13 polls of 3 x 250 ms see it back
  EXPECT_EQ(m.read_value(1300), 0);
  for (const ParameterRegister& r : parameter_registers(kModel6180))
    if (r.held) {
      EXPECT_EQ(m.read_value(r.number), r.default_value) << r.number;
    }
  EXPECT_EQ(controller().profiles(), default_profiles());
  EXPECT_EQ(m.read_value(3), 2);  // the identity stays
  // Any setup write makes it configured again; 1300 itself takes 0 and 1.
  EXPECT_EQ(m.write(100, 1).exception, 0);
  EXPECT_EQ(m.read_value(1300), 1);
  EXPECT_EQ(m.write(1300, 0).exception, 0);
  EXPECT_EQ(m.read_value(1300), 0);
}

TEST_F(SimController, StoringTheSetupSilencesOnlyWhenSomethingChanged) {
  m.write(101, 3);
  EXPECT_TRUE(m.write(25, 0).answered);
  EXPECT_GT(silence_ms(), 1000U);
  EXPECT_TRUE(m.write(25, 0).answered);
  EXPECT_TRUE(m.read(0).answered);
}

// ---- the bootloader and the download application ----

TEST_F(SimController, BootloaderProbeChecksumsAndRecordsIntoRam) {
  EXPECT_EQ(send(bytes({0}), 500), "");  // not while the application runs
  EXPECT_EQ(m.write(1950, 1941).value, 1941);
  EXPECT_EQ(send(bytes({0}), 500), "");
  EXPECT_EQ(m.write(1950, 1515).value, 1515);
  EXPECT_EQ(send(bytes({0}), 500), "");  // restarting
  clock().sleep_ms(4000);                // within the pause a download allows
  for (const char* settings : {"38400,n,8,1", "9600,N,8,1"}) {  // any baud rate
    port->set_settings(settings);
    EXPECT_EQ(send(bytes({0}), 500), bytes({1}));
  }
  std::string bad = frame(0x20, bytes({0x08, 0x00, 0xAA, 0xBB}));
  bad.back() = static_cast<char>(bad.back() + 1);
  EXPECT_EQ(send(bad), nak(0x20));
  EXPECT_TRUE(controller().application_image().empty());
  EXPECT_EQ(send(frame(0x20, bytes({0x08, 0x00, 0xAA, 0xBB}))), ack(0x20));
  EXPECT_EQ(send(frame(0x21, bytes({0x01, 0x00, 0x00, 0x52}))), ack(0x21));
  EXPECT_EQ(controller().application_image().read(0x0800, 2), bytes({0xAA, 0xBB}));
  EXPECT_EQ(controller().application_image().read(0x010000, 1), bytes({0x52}));
  EXPECT_EQ(send(frame(0x21, bytes({0x01}))), nak(0x21));  // too short for an address
  EXPECT_EQ(send(frame(0x55, "")), nak(0x55));
  EXPECT_FALSE(m.read(0).answered);  // Modbus is gone
}

TEST_F(SimController, DownloadApplicationStartsOnlyWhenCompleteAtItsAddressAndHears38400) {
  enter_bootloader();
  EXPECT_EQ(send(start_frame()), nak(0x31));  // nothing loaded
  EXPECT_EQ(send(frame(0x20, bytes({0x08, 0x00, 0xAA}))), ack(0x20));
  EXPECT_EQ(send(start_frame()), nak(0x31));  // not reported complete
  EXPECT_EQ(send(frame(0x30, "")), ack(0x30));
  EXPECT_EQ(send(start_frame(5)), nak(0x31));
  EXPECT_EQ(send(start_frame()), ack(0x31));
  EXPECT_EQ(send(bytes({0}), 500), "");  // still at 9600 baud
  EXPECT_EQ(send(frame(0x30, "")), "");
  port->set_settings("38400,n,8,1");
  EXPECT_EQ(send(bytes({0}), 500), bytes({1}));
}

TEST_F(SimController, EraseThenRecordsProgramTheFlashAndTheNewSoftwareRuns) {
  start_download_app();
  // The field at 010000: model tag 52374142, software 0007.
  const std::string field = frame(0x21, bytes({1, 0, 0, 0x52, 0x37, 0x41, 0x42, 0x00, 0x07}));
  EXPECT_EQ(send(field), nak(0x21));  // not erased yet
  const std::uint64_t before = clock().total_ms();
  erase();
  EXPECT_GE(clock().total_ms() - before, 2000U);  // the erase takes seconds
  EXPECT_EQ(send(field), ack(0x21));
  EXPECT_EQ(send(field), ack(0x21));  // the same data again, as after a lost reply
  EXPECT_EQ(send(frame(0x21, bytes({1, 0, 5, 0x0F}))), nak(0x21));  // 07 -> 0F sets bits
  EXPECT_EQ(send(frame(0x30, "")), ack(0x30));
  EXPECT_EQ(controller().flash().read(0x010000, 7), bytes({0x52, 0x37, 0x41, 0x42, 0, 7, 0xFF}));
  // The next Modbus request finds the controller powered up on software 7.
  port->set_settings("9600,N,8,1");
  EXPECT_EQ(m.read_value(3, 1), 7);
}

// A power cycle before the erase (0), after it (1), or after a completed image
// without its software-number field (2).
class SimPowerCycle : public SimController, public ::testing::WithParamInterface<int> {};

TEST_P(SimPowerCycle, OnlyIntactFirmwareRunsAfterwards) {
  start_download_app();
  if (GetParam() >= 1) erase();
  if (GetParam() == 2) {
    ASSERT_EQ(send(frame(0x21, bytes({0x00, 0x80, 0x00, 0x12}))), ack(0x21));
    ASSERT_EQ(send(frame(0x30, "")), ack(0x30));
  }
  controller().power_cycle();
  port->set_settings("9600,N,8,1");
  if (GetParam() == 0) {
    EXPECT_EQ(m.read_value(3, 20), 2);
  } else {
    EXPECT_FALSE(m.read(0, 20).answered);
    EXPECT_EQ(send(bytes({0}), 500), bytes({1}));  // the bootloader
    EXPECT_TRUE(controller().application_image().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Stages, SimPowerCycle, ::testing::Values(0, 1, 2));

TEST(SimConfig, BadFaultAndChunkSpecsAreRefused) {
  Faults f;
  for (const char* bad : {"drop", "drop:1.5", "drop:x", "late:-1", "refuse:70000", "refuse:5:4",
                          "hangup:0", "noise:1", "crc:", "garbage:2"}) {
    EXPECT_THROW(add_fault(f, bad), std::invalid_argument) << bad;
  }
  LineModel line;
  EXPECT_THROW(set_chunking(line, "62"), std::invalid_argument);
  EXPECT_THROW(set_chunking(line, "0:16"), std::invalid_argument);
}

}  // namespace
}  // namespace r7::sim
