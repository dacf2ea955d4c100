// The simulated controller on its line: the Modbus slave, the bootloader and
// the download application; and the line itself (SimulatedPort on the fake
// clock, pacing at the baud rate, USB-like chunks, each fault).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "sim/simulation.h"
#include "support/modbus_frames.h"
#include "support/port_helpers.h"
#include "support/setup_fixture.h"
#include "support/sim_printers.h"

namespace r7::sim {
namespace {

using test::bytes;
using test::exchange_on;
using test::read_request;
using test::value_reply;
using test::write_request;

const std::string kRead0 = read_request(1);  // answered with 7 bytes
const std::string kProbe = bytes({0});
const auto exception = [](int fc, int code) {
  return with_modbus_crc(bytes({1, fc | 0x80, code}));
};
const auto ack = [](int cmd) { return bytes({0xFF, cmd}); };
const auto nak = [](int cmd) { return bytes({0xFF, cmd | 0x80}); };
// A bootloader frame: FF cmd n data, then the low byte of the sum of them all.
std::string frame(int cmd, const std::string& data = "") {
  std::string f{'\xFF', static_cast<char>(cmd), static_cast<char>(data.size())};
  f += data;
  unsigned sum = 0;
  for (char c : f)
    sum += static_cast<unsigned char>(c);
  return f + static_cast<char>(sum & 0xFF);
}
const auto start_at = [](int last) { return frame(0x31, bytes({0, 8, 0, last})); };
const std::string kStart = start_at(4);

// One message and the reply it gets within 500 ms ("": none), the port first
// set to `baud` when one is given.
struct Say {
  std::string message;
  std::string reply;
  int baud = 0;
};
const auto echoed = [](int reg, int value) {
  return Say{write_request(reg, value), write_request(reg, value)};
};

class SimController : public ::testing::Test {
 protected:
  SimController() { start(); }
  // A fresh controller set up as `config`, and an open port on it. The clock
  // starts just before its 32-bit count wraps, so every test crosses the wrap.
  void start() {
    port.reset();
    sim = std::make_unique<Simulation>(config, clock);
    port = sim->port_factory().create_port();
    port->open();
  }
  Controller& controller() { return sim->controller(); }
  void converse(const std::vector<Say>& script) {
    for (std::size_t i = 0; i < script.size(); ++i) {
      const Say& s = script[i];
      if (s.baud != 0) port->set_settings(std::to_string(s.baud) + ",N,8,1");
      EXPECT_EQ(exchange_on(*port, s.message, 500), s.reply) << "message " << i;
    }
  }
  // Fake milliseconds until the controller answers a read again (a minute at most).
  std::uint64_t silence_ms() {
    const std::uint64_t start = clock.total_ms();
    while (exchange_on(*port, kRead0).empty() && clock.total_ms() < start + 60000) {
    }
    return clock.total_ms() - start;
  }
  // Writes `message`; the fake time after the write when each reply byte arrives.
  std::vector<std::uint64_t> arrivals(const std::string& message) {
    const std::uint64_t start = clock.total_ms();
    port->write(message);
    std::vector<std::uint64_t> out;
    while (port->wait_for_input(100)) {
      out.insert(out.end(), port->bytes_waiting(), clock.total_ms() - start);
      port->clear_input();
    }
    return out;
  }

  FakeClock clock{4294967290U};
  ControllerConfig config = default_config(kModel6180);
  std::unique_ptr<Simulation> sim;
  std::unique_ptr<SerialPort> port;
};
class SimLine : public SimController {};

TEST_F(SimController, AnswersWholeFramesAtItsAddressWithValuesExceptionsAndRefusals) {
  add_fault(controller().faults(), "refuse:100");
  add_fault(controller().faults(), "refuse:4002:3");
  Snapshot expected = controller().snapshot();
  expected.registers[306] = -5;
  std::string damaged = kRead0;
  damaged.back() = static_cast<char>(damaged.back() ^ 1);
  converse({
      // Registers 0..4: 6180, serial number 21 30517, software 2, revision 1850.
      {read_request(5),
       with_modbus_crc(bytes({1, 3, 10, 0x18, 0x24, 0, 21, 0x77, 0x35, 0, 2, 0x07, 0x3A}))},
      {read_request(1, 2), ""},  // another address
      {damaged, ""},
      {read_request(1, 1, 5), exception(3, 2)},     // never held
      {read_request(1, 1, 118), exception(3, 2)},   // in 6180.cds only
      {read_request(1, 1, 4036), exception(3, 2)},  // between 4035 and 4060
      {read_request(10, 1, 110), exception(3, 2)},  // across a missing register
      {read_request(0, 1, 100), exception(3, 3)},
      {with_modbus_crc(bytes({1, 4, 0, 0, 0, 1})), exception(4, 1)},
      {write_request(0, 6170), exception(6, 2)},  // read only
      {write_request(9999, 1), exception(6, 2)},
      {write_request(101, 4), exception(6, 3)},  // out of range
      {write_request(1300, 2), exception(6, 3)},
      {write_request(1602, 801), exception(6, 3)},
      {write_request(1950, 1234), exception(6, 3)},
      {write_request(100, 1), exception(6, 2)},  // refused by the faults
      {write_request(4002, 1), exception(6, 3)},
      echoed(306, -5),
  });
  EXPECT_EQ(controller().snapshot(), expected);  // only the echoed write landed
  port->write(kRead0.substr(0, 3));              // a request in two pieces
  clock.advance(1);
  EXPECT_EQ(exchange_on(*port, kRead0.substr(3)), value_reply(6180));
}

TEST_F(SimController, DefaultsCommandAndStoreSilenceTheController) {
  converse({{read_request(1, 1, 1300), value_reply(1)},  // the demonstration setup is configured
            echoed(1602, 800)});
  const std::uint64_t silent = silence_ms();
  EXPECT_GE(silent, 2000U);
  EXPECT_LE(silent, 9000U);  // 13 polls of 3 x 250 ms see it back
  EXPECT_EQ(controller().snapshot(), Controller(test::defaults_config(), clock).snapshot());
  // Any setup write makes it configured again; 1300 itself takes 0 and 1.
  converse({echoed(100, 1),
            {read_request(1, 1, 1300), value_reply(1)},
            echoed(1300, 0),
            {read_request(1, 1, 1300), value_reply(0)},
            echoed(25, 0)});
  EXPECT_GT(silence_ms(), 1000U);  // storing the setup (25) takes a while when it changed
  converse({echoed(25, 0), {kRead0, value_reply(6180)}});
}

TEST_F(SimController, BootloaderThenDownloadApplicationProgramTheFlashAndTheNewSoftwareRuns) {
  std::string bad = frame(0x20, bytes({0x08, 0x00, 0xAA, 0xBB}));
  bad.back() = static_cast<char>(bad.back() + 1);
  // The field at 010000: model tag 52374142, software 0007.
  const std::string field = frame(0x21, bytes({1, 0, 0, 0x52, 0x37, 0x41, 0x42, 0x00, 0x07}));
  converse({{kProbe, ""},  // not while the application runs
            echoed(1950, 1941),
            {kProbe, ""},
            echoed(1950, 1515),
            {kProbe, ""}});               // restarting
  clock.sleep_ms(4000);                   // within the pause a download allows
  converse({{kProbe, bytes({1}), 38400},  // at any baud rate
            {kProbe, bytes({1}), 9600},
            {bad, nak(0x20)},
            {kStart, nak(0x31)},  // nothing loaded
            {frame(0x20, bytes({0x08, 0x00, 0xAA, 0xBB})), ack(0x20)},
            {frame(0x21, bytes({0x08, 0x00, 0x00, 0x52})), ack(0x21)},
            // Only the download application programs the flash; RAM ends at 1FFF.
            {frame(0x21, bytes({0x01, 0x00, 0x00, 0x52})), nak(0x21)},
            {frame(0x20, bytes({0x1F, 0xFF, 0xAA, 0xBB})), nak(0x20)},
            {frame(0x21, bytes({0x01})), nak(0x21)},  // too short for an address
            {frame(0x55), nak(0x55)},
            {kRead0, ""},         // Modbus is gone
            {kStart, nak(0x31)},  // not reported complete
            {frame(0x30), ack(0x30)},
            {start_at(5), nak(0x31)},
            {kStart, ack(0x31)},
            {kProbe, ""},  // the download application hears 38400 baud only
            {frame(0x30), ""},
            {kProbe, bytes({1}), 38400},
            {field, nak(0x21)}});  // not erased yet
  const std::uint64_t before = clock.total_ms();
  EXPECT_EQ(exchange_on(*port, frame(0x10), 30000), ack(0x10));
  EXPECT_GE(clock.total_ms() - before, 2000U);  // the erase takes seconds
  converse({{field, ack(0x21)},
            {field, ack(0x21)},  // the same data again, as after a lost reply
            {frame(0x21, bytes({1, 0, 5, 0x0F})), nak(0x21)},  // 07 -> 0F sets bits
            {frame(0x30), ack(0x30)}});
  // The next Modbus request finds the controller powered up on software 7.
  converse({{read_request(1, 1, 3), value_reply(7), 9600}});
}

TEST(SimConfig, UnknownFaultsBadChunkSettingsAndBadTimingsAreRefused) {
  Faults f;
  for (const char* bad : {"drop", "drop:1.5", "drop:x", "late:-1", "refuse:70000", "refuse:5:4",
                          "hangup:0", "powercut:0", "noise:1", "crc:", "garbage:2"})
    EXPECT_THROW(add_fault(f, bad), std::invalid_argument) << bad;
  LineModel line;
  EXPECT_THROW(set_chunking(line, "62"), std::invalid_argument);
  EXPECT_THROW(set_chunking(line, "0:16"), std::invalid_argument);
  Timing t;
  for (const char* bad : {"erase", "erase:", "erase:-1", "erase:600001", "erase:1s", "flash:10",
                          "power_up:10", ":10"})
    EXPECT_THROW(set_timing(t, bad), std::invalid_argument) << bad;
}

// --timing shortens one silence and leaves the others as they were.
TEST_F(SimController, TimingSpecsSetTheSilenceOfEachKind) {
  for (const char* spec : {"defaults:400", "erase:0", "power-up:600000"})
    set_timing(config.timing, spec);
  EXPECT_EQ(config.timing.erase_ms, 0U);
  EXPECT_EQ(config.timing.power_up_ms, 600000U);
  EXPECT_EQ(config.timing.store_ms, Timing{}.store_ms);
  EXPECT_EQ(config.timing.bootloader_ms, Timing{}.bootloader_ms);
  start();
  converse({echoed(1602, 800)});
  const std::uint64_t silent = silence_ms();
  EXPECT_GE(silent, 400U);
  EXPECT_LT(silent, 1000U);
}

TEST_F(SimLine, ClosingDropsWhatIsOnItsWayAndAClosedPortDoesNotWrite) {
  port->write(kRead0);
  port->close();
  EXPECT_EQ(test::run_error_of([&] { port->write("x"); }), err::kDeviceIo);
  port->open();
  const std::uint64_t start = clock.total_ms();
  EXPECT_FALSE(port->wait_for_input(100));
  EXPECT_EQ(clock.total_ms() - start, 100U);  // the whole wait
}

TEST_F(SimLine, PacedRepliesTakeTheirLineTimeAndWaitForAFreeLine) {
  config.line.pace = true;
  start();
  for (const int baud : {1200, 9600, 38400}) {
    port->set_settings(std::to_string(baud) + ",N,8,1");
    const std::vector<std::uint64_t> t = arrivals(read_request(60, 1, 700));  // 125 bytes
    ASSERT_EQ(t.size(), 125U) << baud;
    const double char_ms = 11000.0 / baud;
    // The request's own line time and 2 ms turnaround before the first byte.
    EXPECT_NEAR(static_cast<double>(t.front()), 9 * char_ms + 2, 1.0) << baud;
    EXPECT_NEAR(static_cast<double>(t.back() - t.front()), 124 * char_ms, 12.4 * char_ms) << baud;
    EXPECT_GT(std::set(t.begin(), t.end()).size(), 10U);  // byte by byte, not in one go
  }
  // At 38400 baud the long reply takes 35 ms; another port's reply comes after it.
  auto other = sim->port_factory().create_port();
  other->set_settings("38400,N,8,1");
  other->open();
  port->write(read_request(60, 1, 700));
  other->write(kRead0);
  EXPECT_FALSE(other->wait_for_input(30));
  EXPECT_TRUE(other->wait_for_input(20));
}

TEST_F(SimLine, ChunkedRepliesComeAFewBytesAtATimeOnATimeGrid) {
  set_chunking(config.line, "4:16");
  start();
  std::map<std::uint64_t, std::size_t> chunks;
  for (std::uint64_t ms : arrivals(read_request(10, 1, 100)))  // 25 bytes
    ++chunks[ms];
  EXPECT_EQ(chunks.size(), 7U);
  for (const auto& [ms, count] : chunks) {
    EXPECT_EQ(ms % 16, 0U);
    EXPECT_LE(count, 4U);
  }
}

// One read under each fault: the reply within 250 ms, then what arrives in the
// next 400 ms. A write whose reply is lost still lands.
TEST_F(SimLine, FaultsShapeTheReply) {
  std::string bad_crc = value_reply(6180);
  bad_crc.back() = static_cast<char>(~bad_crc.back());
  const struct {
    const char* fault;
    std::string reply;
    std::size_t least, most;  // bytes after it
  } cases[] = {{"crc:1", bad_crc, 0, 0},
               {"garbage", value_reply(6180), 1, 4},
               {"late:300", "", 7, 7},
               {"drop:1", "", 0, 0}};
  for (const auto& c : cases) {
    config.faults = {};
    add_fault(config.faults, c.fault);
    start();
    EXPECT_EQ(exchange_on(*port, kRead0), c.reply) << c.fault;
    port->clear_input();  // what is still on its way stays
    port->wait_for_input(400);
    EXPECT_GE(port->bytes_waiting(), c.least) << c.fault;
    EXPECT_LE(port->bytes_waiting(), c.most) << c.fault;
  }
  EXPECT_EQ(exchange_on(*port, write_request(101, 3)), "");  // under drop:1
  EXPECT_EQ(controller().read_register(101), 3);
}

TEST_F(SimLine, DropLosesRepliesRepeatablyForASeed) {
  add_fault(config.faults, "drop:0.5");
  std::vector<std::vector<bool>> answered;  // by seeds 7, 7 and 8
  for (const std::uint32_t seed : {7U, 7U, 8U}) {
    config.seed = seed;
    start();
    answered.emplace_back();
    for (int i = 0; i < 100; ++i)
      answered.back().push_back(!exchange_on(*port, kRead0).empty());
  }
  EXPECT_EQ(answered[0], answered[1]);
  EXPECT_NE(answered[0], answered[2]);
  const auto n = std::count(answered[0].begin(), answered[0].end(), true);
  EXPECT_TRUE(n > 30 && n < 70) << n;
}

TEST_F(SimLine, HangupBreaksThePortUntilItIsReopened) {
  add_fault(config.faults, "hangup:3");
  start();
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(exchange_on(*port, kRead0).size(), 7U);
    EXPECT_EQ(test::run_error_of([&] { port->write(kRead0); }), err::kDeviceIo);
    EXPECT_THROW(port->wait_for_input(10), RunError);
    port->close();
    port->open();
  }
  EXPECT_EQ(exchange_on(*port, kRead0).size(), 7U);
}

}  // namespace
}  // namespace r7::sim
