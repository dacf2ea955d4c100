// The simulated line: SimulatedPort on the fake clock, pacing at the baud rate,
// USB-like chunks, and each fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "errors/run_error.h"
#include "modbus/modbus.h"
#include "sim/simulation.h"
#include "support/line_master.h"

namespace r7::sim {
namespace {

using test::bytes;
using test::exchange_on;

std::string request(int function, int reg, int value) {
  const std::array<long, 1> values{value};
  return build_modbus_request(function, 1, reg, values).value();
}
const std::string kRead0 = request(3, 0, 1);  // answered with 7 bytes

template <class F>
int run_error(F f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.number();
  }
  return 0;
}

class SimLine : public ::testing::Test {
 protected:
  SimLine() { start(); }
  // A fresh controller set up as `config`, and an open port on it.
  void start() {
    port.reset();
    sim = std::make_unique<Simulation>(config);
    port = sim->port_factory().create_port();
    port->open();
  }
  FakeClock& clock() { return *sim->fake_clock(); }
  // Writes `message`; the fake time after the write when each reply byte arrives.
  std::vector<std::uint64_t> arrivals(const std::string& message) {
    const std::uint64_t start = clock().total_ms();
    port->write(message);
    std::vector<std::uint64_t> out;
    while (port->wait_for_input(100)) {
      out.insert(out.end(), port->bytes_waiting(), clock().total_ms() - start);
      port->clear_input();
    }
    return out;
  }

  ControllerConfig config = default_config(kModel6180);
  std::unique_ptr<Simulation> sim;
  std::unique_ptr<SerialPort> port;
};

TEST_F(SimLine, ClosingDropsWhatIsOnItsWayAndAClosedPortDoesNotWrite) {
  port->write(kRead0);
  port->close();
  EXPECT_EQ(run_error([&] { port->write("x"); }), err::kDeviceIo);
  port->open();
  EXPECT_FALSE(port->wait_for_input(100));
  EXPECT_EQ(clock().total_ms(), 100U);  // the whole wait
}

TEST(SimClock, TheMillisecondClockMayWrap) {
  FakeClock wrapping(4294967290U);
  Simulation s(kModel6180, wrapping);
  auto p = s.port_factory().create_port();
  p->open();
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(exchange_on(*p, kRead0).size(), 7U);
  EXPECT_LT(wrapping.tick_ms(), 100U);  // it did wrap
}

TEST_F(SimLine, PacedRepliesTakeTheirLineTimeAndWaitForAFreeLine) {
  config.line.pace = true;
  start();
  for (const int baud : {1200, 9600, 38400}) {
    port->set_settings(std::to_string(baud) + ",N,8,1");
    const std::vector<std::uint64_t> t = arrivals(request(3, 700, 60));  // 125 bytes
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
  port->write(request(3, 700, 60));
  other->write(kRead0);
  EXPECT_FALSE(other->wait_for_input(30));
  EXPECT_TRUE(other->wait_for_input(20));
}

TEST_F(SimLine, ChunkedRepliesComeAFewBytesAtATimeOnATimeGrid) {
  set_chunking(config.line, "4:16");
  start();
  std::map<std::uint64_t, std::size_t> chunks;
  for (std::uint64_t ms : arrivals(request(3, 100, 10)))  // 25 bytes
    ++chunks[ms];
  EXPECT_EQ(chunks.size(), 7U);
  for (const auto& [ms, count] : chunks) {
    EXPECT_EQ(ms % 16, 0U);
    EXPECT_LE(count, 4U);
  }
}

// ---- faults ----

// One read under each fault: the reply within 250 ms, then what arrives in the
// next 400 ms.
TEST_F(SimLine, FaultsShapeTheReply) {
  const std::string good = with_modbus_crc(bytes({1, 3, 2, 0x18, 0x24}));
  std::string bad_crc = good;
  bad_crc.back() = static_cast<char>(~bad_crc.back());
  const struct {
    const char* fault;
    std::string reply;
    std::size_t least, most;  // bytes after it
  } cases[] = {{"drop:1", "", 0, 0},
               {"crc:1", bad_crc, 0, 0},
               {"garbage", good, 1, 4},
               {"late:300", "", 7, 7}};
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
}

TEST_F(SimLine, DropLosesRepliesRepeatablyForASeedButWritesStillLand) {
  add_fault(config.faults, "drop:0.5");
  const auto pattern = [&](std::uint32_t seed) {
    config.seed = seed;
    start();
    std::vector<bool> answered;
    for (int i = 0; i < 100; ++i)
      answered.push_back(!exchange_on(*port, kRead0).empty());
    return answered;
  };
  const std::vector<bool> a = pattern(7);
  EXPECT_EQ(pattern(7), a);
  EXPECT_NE(pattern(8), a);
  EXPECT_GT(std::count(a.begin(), a.end(), true), 30);
  EXPECT_LT(std::count(a.begin(), a.end(), true), 70);
  add_fault(config.faults, "drop:1");
  start();
  EXPECT_EQ(exchange_on(*port, request(6, 101, 3)), "");
  EXPECT_EQ(sim->controller().read_register(101), 3);
}

TEST_F(SimLine, HangupBreaksThePortUntilItIsReopened) {
  add_fault(config.faults, "hangup:3");
  start();
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(exchange_on(*port, kRead0).size(), 7U);
    EXPECT_EQ(run_error([&] { port->write(kRead0); }), err::kDeviceIo);
    EXPECT_THROW(port->wait_for_input(10), RunError);
    port->close();
    port->open();
  }
  EXPECT_EQ(exchange_on(*port, kRead0).size(), 7U);
}

}  // namespace
}  // namespace r7::sim
