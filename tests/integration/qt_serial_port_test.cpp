// The timed exchange on the real Qt serial port adapter, with a scripted peer
// on the master side of a pseudo-terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/run_error.h"
#include "modbus/modbus.h"
#include "os/os.h"
#include "platform/qt_serial_port.h"
#include "support/modbus_frames.h"
#include "support/port_helpers.h"
#include "support/pty_peer.h"
#include "support/qt_rig.h"
#include "support/subprocess.h"

namespace r7 {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;
using test::read_reply;
using test::read_request;
using ::testing::HasSubstr;

struct QtPortTest : ::testing::Test {
  PtyPeer peer;
  test::QtRig rig{peer.device()};
};

TEST_F(QtPortTest, RepliesOfEveryShapeComeBackWhole) {
  const std::string small = read_reply(1);
  const std::string large = read_reply(17);
  // Garbage waiting before the first write; then the peer answers in turn:
  // back to back, paced at 9600 baud, in 16 ms chunks, paced without a known
  // shape, and three bytes for an expected two.
  peer.start([small, large](PtyPeer& p) {
    p.send("garbage");
    const std::string answers[] = {small, large, large, large, std::string("\xFF\x30\x00", 3)};
    const std::size_t request_sizes[] = {8, 8, 8, 8, 2};
    const int pacing[][2] = {{0, 0}, {9600, 0}, {9600, 16}, {9600, 0}, {0, 0}};
    for (int i = 0; i < 5 && !p.stopping();) {
      if (!p.read_exactly(request_sizes[i], 100ms)) continue;
      pacing[i][0] == 0 ? p.send(answers[i]) : p.send_paced(answers[i], pacing[i][0], pacing[i][1]);
      ++i;
    }
  });
  std::this_thread::sleep_for(50ms);  // the garbage is in the line's buffer by now
  EXPECT_EQ(rig.comms.transmit(1, read_request(1), 250, modbus_reply_length).reply, small);
  EXPECT_EQ(rig.comms.transmit(1, read_request(17), 250, modbus_reply_length).reply, large);
  EXPECT_EQ(rig.comms.transmit(1, read_request(17), 250, modbus_reply_length).reply, large);
  EXPECT_EQ(rig.comms.transmit(1, read_request(17), 250).reply, large);
  EXPECT_EQ(rig.comms.transmit(2, "\xFF\x30", 500, expect_bytes(2)),
            (Exchange{std::string("\xFF\x30\x00", 3), ExchangeResult::Reply}));
  EXPECT_EQ(rig.error_log(), "");
}

// The peer leaves the first request unanswered and hangs up on the second.
TEST_F(QtPortTest, AnUnansweredExchangeWaitsWithoutSpinningAndAHangUpEndsOnePromptly) {
  peer.start([](PtyPeer& p) {
    if (p.read_exactly(8, 5000ms) && p.read_exactly(8, 5000ms)) p.hang_up();
  });
  const auto cpu_before = test::thread_cpu_time();
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(rig.comms.transmit(1, read_request(1), 2000, modbus_reply_length),
            (Exchange{"", ExchangeResult::NoReply}));
  auto elapsed = std::chrono::steady_clock::now() - started;
  const auto cpu = test::thread_cpu_time() - cpu_before;
  EXPECT_GE(elapsed, 2000ms);
  EXPECT_LT(elapsed, 2500ms);
  EXPECT_LT(cpu, 100ms) << "CPU time " << cpu.count() << " us";

  started = std::chrono::steady_clock::now();
  EXPECT_EQ(rig.comms.transmit(1, read_request(1), 2000, modbus_reply_length),
            (Exchange{"", ExchangeResult::PortUnavailable}));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
  EXPECT_THAT(rig.error_log(), HasSubstr(", transmit, ERROR #,  57 \r\n"));
  EXPECT_THAT(rig.error_log(), HasSubstr(", transmit, ERROR #,  68 \r\n"));
}

// Run-time errors of the adapter itself, as the exchange meets them.
TEST(QtSerialPort, ErrorsOfAPortNotOpenAndOfUnusableSettings) {
  platform::QtSerialPort port;  // every operation on a missing device is 68
  port.set_device("/dev/r7-no-such-port");
  for (const auto& op : std::initializer_list<std::function<void()>>{
           [&] { port.open(); }, [&] { port.write("x"); }, [&] { port.wait_for_input(5); },
           [&] { port.bytes_waiting(); }, [&] { port.clear_input(); }})
    EXPECT_EQ(test::run_error_of(op), err::kDeviceUnavailable);
  port.close();  // harmless

  PtyPeer peer;
  port.set_device(peer.device());
  port.set_settings("9600,X,8,1");
  EXPECT_EQ(test::run_error_of([&] { port.open(); }), err::kDeviceUnavailable);
  // A pseudo-terminal keeps 8 data bits without parity whatever it is told,
  // and Qt reports that; stop bits and rates it takes.
  port.set_settings("300,n,8,2");
  ASSERT_EQ(test::run_error_of([&] { port.open(); }), 0);
  EXPECT_EQ(test::run_error_of([&] { port.set_settings("38400,n,8,1"); }), 0);
  EXPECT_EQ(test::run_error_of([&] { port.set_settings("38400,n,9,1"); }), err::kDeviceIo);
  EXPECT_EQ(test::run_error_of([&] { port.set_settings("9600,E,7,1"); }), err::kDeviceIo);
  EXPECT_TRUE(port.is_open());
}

// Why a port cannot be opened: a device that is not there (the serial
// devices there are named), one that another program holds open.
TEST(SerialDeviceProblem, NamesAMissingDeviceAndTheProgramHoldingOne) {
  EXPECT_THAT(
      os::serial_device_problem("/dev/r7-no-such-port"),
      ::testing::StartsWith("There is no device /dev/r7-no-such-port. Serial devices here: "));
  test::PtyPeer pty;
  EXPECT_EQ(os::serial_device_problem(pty.device()), "");  // held by this process only
  test::Process holder("sh", {"-c", "echo held; exec sleep 30 < " + pty.device()});
  ASSERT_EQ(holder.read_line(5000), "held");
  std::string problem;
  // Until sleep itself holds the device (the shell opens it just before exec).
  for (int i = 0; i < 200 && problem.find("sleep") == std::string::npos; ++i) {
    problem = os::serial_device_problem(pty.device());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_THAT(problem, ::testing::MatchesRegex(".* is in use by sleep \\(process [0-9]+\\)\\."));
}

}  // namespace
}  // namespace r7
