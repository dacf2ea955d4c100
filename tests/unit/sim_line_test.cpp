// The simulated line: SimulatedPort on FakeClock and SystemClock, pacing at the
// baud rate, USB-like chunks, and each fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "errors/run_error.h"
#include "modbus/modbus.h"
#include "sim/simulation.h"
#include "support/line_master.h"

namespace r7::sim {
namespace {

using test::bytes;
using test::exchange_on;
using test::LineMaster;

std::string read_request(int reg, int count) {
  Modbus m;
  return m.build_modbus_request(3, 1, reg, {static_cast<float>(count), kEndMarker});
}

struct Arrival {
  std::uint64_t ms;
  std::size_t count;
};

// Writes `message` and notes when (fake ms after the write) bytes arrive.
std::vector<Arrival> arrivals(Simulation& sim, SerialPort& port, const std::string& message) {
  FakeClock& clock = *sim.fake_clock();
  port.clear_input();
  const std::uint64_t start = clock.total_ms();
  port.write(message);
  std::vector<Arrival> out;
  while (port.wait_for_input(100)) {
    std::size_t n = 0;
    while (port.read_byte() >= 0)
      ++n;
    out.push_back({clock.total_ms() - start, n});
  }
  return out;
}

std::size_t total(const std::vector<Arrival>& a) {
  std::size_t n = 0;
  for (const Arrival& x : a)
    n += x.count;
  return n;
}

ControllerConfig with(const std::function<void(ControllerConfig&)>& change) {
  ControllerConfig c = default_config(kModel6180);
  change(c);
  return c;
}

class SimLine : public ::testing::Test {
 protected:
  explicit SimLine(ControllerConfig config = default_config(kModel6180))
      : sim(std::move(config)), port(sim.port_factory().create_port()), m(*port) {
    port->open();
  }
  FakeClock& clock() { return *sim.fake_clock(); }

  Simulation sim;
  std::unique_ptr<SerialPort> port;
  LineMaster m;
};

TEST_F(SimLine, WaitMovesTheFakeClockToTheReplyOrByTheWholeWait) {
  const std::uint64_t t0 = clock().total_ms();
  EXPECT_FALSE(port->wait_for_input(250));
  EXPECT_EQ(clock().total_ms() - t0, 250U);
  port->write(read_request(0, 1));
  EXPECT_EQ(port->bytes_waiting(), 0U);  // 2 ms turnaround
  EXPECT_TRUE(port->wait_for_input(250));
  EXPECT_EQ(clock().total_ms() - t0, 252U);
  EXPECT_EQ(port->bytes_waiting(), 7U);
  EXPECT_EQ(port->read_byte(), 1);
  EXPECT_EQ(port->bytes_waiting(), 6U);
  port->clear_input();
  EXPECT_EQ(port->read_byte(), -1);
}

TEST_F(SimLine, RepliesGoToThePortThatAsked) {
  auto other = sim.port_factory().create_port();
  other->set_device("/dev/ttyS3");
  other->open();
  port->write(read_request(0, 1));
  EXPECT_FALSE(other->wait_for_input(50));
  EXPECT_EQ(port->bytes_waiting(), 7U);
  other->close();
  EXPECT_FALSE(other->is_open());
  EXPECT_THROW(other->write("x"), RunError);
  try {
    other->write(read_request(0, 1));
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), err::kDeviceIo);
  }
  EXPECT_EQ(other->bytes_waiting(), 0U);
}

TEST_F(SimLine, ClosingDropsWhatIsOnItsWay) {
  port->write(read_request(0, 1));
  port->close();
  port->open();
  EXPECT_FALSE(port->wait_for_input(100));
}

TEST_F(SimLine, TheMillisecondClockMayWrap) {
  FakeClock wrapping(4294967290U);
  Simulation s(kModel6180, wrapping);
  auto p = s.port_factory().create_port();
  p->open();
  LineMaster lm(*p);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(lm.read_value(0, 1), 6180);
  EXPECT_LT(wrapping.tick_ms(), 100U);  // it did wrap
  p->write(bytes({0x01}));              // nothing more for 20 ms: noise is dropped
  EXPECT_FALSE(p->wait_for_input(1000));
  EXPECT_EQ(lm.read_value(0, 1), 6180);
}

TEST(SimRealClock, WaitsReallyOnTheSystemClock) {
  SystemClock clock;
  Simulation s(kModel6180, clock);
  EXPECT_EQ(s.fake_clock(), nullptr);
  auto p = s.port_factory().create_port();
  p->open();
  LineMaster lm(*p);
  EXPECT_EQ(lm.read_value(0, 3), 6180);  // the reply comes after 2 ms of real time
}

// ---- pacing and chunks ----

class SimLinePaced : public SimLine {
 protected:
  SimLinePaced() : SimLine(with([](ControllerConfig& c) { c.line.pace = true; })) {}
};

TEST_F(SimLinePaced, RepliesTakeTheirLineTimeAtTheBaudRate) {
  for (const auto& [settings, baud] : std::map<std::string, double>{
           {"9600,N,8,1", 9600.0}, {"38400,n,8,1", 38400.0}, {"1200,E,8,1", 1200.0}}) {
    port->set_settings(settings);
    const std::vector<Arrival> a = arrivals(sim, *port, read_request(700, 60));  // 125 bytes
    ASSERT_EQ(total(a), 125U) << settings;
    const double char_ms = 11000.0 / baud;
    // The request's own line time and 2 ms turnaround before the first byte.
    EXPECT_NEAR(static_cast<double>(a.front().ms), 8 * char_ms + 2 + char_ms, 1.0) << settings;
    const double spread = static_cast<double>(a.back().ms - a.front().ms);
    EXPECT_NEAR(spread, 124 * char_ms, 0.1 * 124 * char_ms) << settings;
    EXPECT_GT(a.size(), 10U);  // byte by byte, not in one go
  }
}

TEST_F(SimLinePaced, BackToBackRepliesDoNotOverlap) {
  port->set_settings("9600,N,8,1");
  auto second = sim.port_factory().create_port();
  second->open();
  // A late-starting read does not begin before the line is free again.
  port->write(read_request(700, 60));
  second->write(read_request(0, 1));
  std::uint64_t first_done = 0;
  while (port->wait_for_input(100)) {
    while (port->read_byte() >= 0) {
    }
    first_done = clock().total_ms();
  }
  EXPECT_EQ(second->bytes_waiting(), 7U);  // it arrived meanwhile, after the first
  EXPECT_GT(first_done, 140U);
}

class SimLineChunked : public SimLine {
 protected:
  SimLineChunked() : SimLine(with([](ControllerConfig& c) { set_chunking(c.line, "4:16"); })) {}
};

TEST_F(SimLineChunked, RepliesComeInChunksOnATimeGrid) {
  const std::vector<Arrival> a = arrivals(sim, *port, read_request(100, 10));  // 25 bytes
  ASSERT_EQ(total(a), 25U);
  EXPECT_EQ(a.size(), 7U);
  for (const Arrival& x : a) {
    EXPECT_EQ(x.ms % 16, 0U);
    EXPECT_LE(x.count, 4U);
  }
}

// ---- faults ----

std::vector<bool> answered_pattern(const std::string& spec, std::uint32_t seed, int count) {
  ControllerConfig c = default_config(kModel6180);
  c.seed = seed;
  add_fault(c.faults, spec);
  Simulation s(c);
  auto p = s.port_factory().create_port();
  p->open();
  LineMaster lm(*p);
  std::vector<bool> out;
  for (int i = 0; i < count; ++i)
    out.push_back(lm.read(0).answered);
  return out;
}

TEST(SimFaults, DropLosesRepliesRepeatablyForASeed) {
  const std::vector<bool> a = answered_pattern("drop:0.5", 7, 400);
  const auto answered = std::count(a.begin(), a.end(), true);
  EXPECT_GT(answered, 150);
  EXPECT_LT(answered, 250);
  EXPECT_EQ(answered_pattern("drop:0.5", 7, 400), a);
  EXPECT_NE(answered_pattern("drop:0.5", 8, 400), a);
  const std::vector<bool> none = answered_pattern("drop:1", 1, 10);
  EXPECT_EQ(std::count(none.begin(), none.end(), true), 0);
}

TEST(SimFaults, DroppedRepliesStillWrite) {
  ControllerConfig c = default_config(kModel6180);
  add_fault(c.faults, "drop:1");
  Simulation s(c);
  auto p = s.port_factory().create_port();
  p->open();
  LineMaster lm(*p);
  EXPECT_FALSE(lm.write(101, 3).answered);
  EXPECT_EQ(s.controller().read_register(101), 3);
}

TEST(SimFaults, CrcCorruptsTheLastByteOfEveryReply) {
  ControllerConfig c = default_config(kModel6180);
  add_fault(c.faults, "crc:1");
  Simulation s(c);
  auto p = s.port_factory().create_port();
  p->open();
  const std::string reply = exchange_on(*p, read_request(0, 1));
  ASSERT_EQ(reply.size(), 7U);
  Modbus m;
  m.decode_modbus_reply(0, reply);
  EXPECT_EQ(m.reply_values[1], kBadCrc);
  // A bootloader acknowledgement gets a wrong command byte.
  s.controller().write_register(1950, 1414);
  s.fake_clock()->advance(3000);
  EXPECT_EQ(exchange_on(*p, bytes({0xFF, 0x30, 0x00, 0x2F}), {2000, 5, 2}), bytes({0xFF, 0xCF}));
}

TEST(SimFaults, GarbageArrivesAfterTheReplyAndIsClearedBeforeTheNext) {
  ControllerConfig c = default_config(kModel6180);
  add_fault(c.faults, "garbage");
  Simulation s(c);
  auto p = s.port_factory().create_port();
  p->open();
  LineMaster lm(*p);
  EXPECT_EQ(lm.read_value(0, 1), 6180);
  EXPECT_TRUE(p->wait_for_input(200));
  const std::size_t stray = p->bytes_waiting();
  EXPECT_GE(stray, 1U);
  EXPECT_LE(stray, 4U);
  EXPECT_EQ(lm.read_value(3, 1), 2);  // the exchange clears them first
}

TEST(SimFaults, LateRepliesMissAShortWaitAndSurviveAClear) {
  ControllerConfig c = default_config(kModel6180);
  add_fault(c.faults, "late:300");
  Simulation s(c);
  auto p = s.port_factory().create_port();
  p->open();
  p->write(read_request(0, 1));
  EXPECT_FALSE(p->wait_for_input(250));
  p->clear_input();  // the reply is still on its way
  EXPECT_TRUE(p->wait_for_input(100));
  EXPECT_EQ(s.fake_clock()->total_ms(), 302U);
  EXPECT_EQ(p->bytes_waiting(), 7U);
}

TEST(SimFaults, HangupBreaksThePortUntilItIsReopened) {
  ControllerConfig c = default_config(kModel6180);
  add_fault(c.faults, "hangup:3");
  Simulation s(c);
  auto p = s.port_factory().create_port();
  p->open();
  LineMaster lm(*p);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(lm.read_value(0, 1), 6180);
  try {
    p->write(read_request(0, 1));
    ADD_FAILURE() << "no hang-up";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), err::kDeviceIo);
  }
  EXPECT_THROW(p->bytes_waiting(), RunError);
  EXPECT_THROW(p->wait_for_input(10), RunError);
  p->close();
  p->open();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(lm.read_value(0, 1), 6180);
  EXPECT_THROW(lm.read(0), RunError);  // every third exchange
  EXPECT_EQ(s.controller().hangups_until_now(), 2U);
}

}  // namespace
}  // namespace r7::sim
