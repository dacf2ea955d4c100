// The timed exchange on the real Qt serial port adapter, with a scripted peer
// on the master side of a pseudo-terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "errors/clock.h"
#include "errors/run_error.h"
#include "modbus/modbus.h"
#include "platform/qt_serial_port.h"
#include "serial/comms.h"
#include "support/modbus_frames.h"
#include "support/pty_peer.h"
#include "support/recording_prompts.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;
using ::testing::HasSubstr;

const std::string kSlots =
    "[COMMS CONTROLS]\n"
    "DEVICE 0 COMM PORT =2\nDEVICE 0 PORT SETTING =9600,N,8,1\n"
    "DEVICE 1 COMM PORT =2\nDEVICE 1 PORT SETTING =9600,N,8,1\n"
    "DEVICE 2 COMM PORT =2\nDEVICE 2 PORT SETTING =38400,n,8,1\n";

using test::read_reply;
using test::read_request;

struct QtPortTest : ::testing::Test {
  test::TempDir dir;
  PtyPeer peer;
  test::RecordingPrompts prompts;
  SystemClock clock;
  ErrorLog log{prompts, clock, dir / "Flash.ERR"};
  platform::QtPortFactory factory;
  std::filesystem::path settings = dir / "VARNEL FLASH R7.INI";
  PortNames names{settings, peer.device()};
  Comms comms{settings, names, factory, clock, prompts, log};

  void SetUp() override {
    test::write_file(settings, kSlots);
    comms.init_comms();
  }
  std::string error_log() const { return test::read_file(dir / "Flash.ERR"); }
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
      if (pacing[i][0] == 0) {
        p.send(answers[i]);
      } else {
        p.send_paced(answers[i], pacing[i][0], pacing[i][1]);
      }
      ++i;
    }
  });
  std::this_thread::sleep_for(50ms);  // the garbage is in the line's buffer by now
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus_reply_length), small);
  EXPECT_EQ(comms.transmit(1, read_request(17), 250, modbus_reply_length), large);
  EXPECT_EQ(comms.transmit(1, read_request(17), 250, modbus_reply_length), large);
  EXPECT_EQ(comms.transmit(1, read_request(17), 250), large);
  EXPECT_EQ(comms.transmit(2, "\xFF\x30", 500, expect_bytes(2)), std::string("\xFF\x30\x00", 3));
  EXPECT_EQ(comms.last_result(), ExchangeResult::Reply);
  EXPECT_EQ(error_log(), "");
}

TEST_F(QtPortTest, AnUnansweredExchangeWaitsWithoutSpinning) {
  const auto cpu_before = test::thread_cpu_time();
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(comms.transmit(1, read_request(1), 2000, modbus_reply_length), "");
  const auto elapsed = std::chrono::steady_clock::now() - started;
  const auto cpu = test::thread_cpu_time() - cpu_before;
  EXPECT_EQ(comms.last_result(), ExchangeResult::NoReply);
  EXPECT_GE(elapsed, 2000ms);
  EXPECT_LT(elapsed, 2500ms);
  EXPECT_LT(cpu, 100ms) << "CPU time " << cpu.count() << " us";
}

TEST_F(QtPortTest, AHangUpEndsTheExchangePromptlyAsDeviceErrorThenUnavailable) {
  peer.start([](PtyPeer& p) {
    if (p.read_exactly(8, 2000ms)) p.hang_up();
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(comms.transmit(1, read_request(1), 2000, modbus_reply_length), "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
  EXPECT_EQ(comms.last_result(), ExchangeResult::PortUnavailable);
  const std::string logged = error_log();
  EXPECT_THAT(logged, HasSubstr(", transmit, ERROR #,  57 \r\n"));
  EXPECT_THAT(logged, HasSubstr(", transmit, ERROR #,  68 \r\n"));
}

// Run-time errors of the adapter itself, as the exchange meets them.
int error_of(const std::function<void()>& op) {
  try {
    op();
  } catch (const RunError& e) {
    return e.number();
  }
  return 0;
}

TEST_F(QtPortTest, AMissingDeviceIsUnavailable) {
  PortNames missing{settings, std::string("/dev/r7-no-such-port")};
  Comms other{settings, missing, factory, clock, prompts, log};
  other.init_comms();
  EXPECT_EQ(other.transmit(1, "q", 1000), "");
  EXPECT_EQ(other.last_result(), ExchangeResult::PortUnavailable);
  EXPECT_THAT(error_log(), HasSubstr(", open_port, ERROR #,  68 \r\n"));
  EXPECT_THAT(prompts.texts(),
              ::testing::ElementsAre("Cannot open comm port #2, it is not available"));

  // Every operation on the port that is not open is 68 too; closing it is harmless.
  platform::QtSerialPort port;
  port.set_device("/dev/r7-no-such-port");
  for (const auto& op : std::initializer_list<std::function<void()>>{
           [&] { port.open(); }, [&] { port.write("x"); }, [&] { port.wait_for_input(5); },
           [&] { port.bytes_waiting(); }, [&] { port.clear_input(); }})
    EXPECT_EQ(error_of(op), err::kDeviceUnavailable);
  port.close();
}

TEST(QtPortSettings, UnusableSettingsMakeThePortUnavailableAndAnOpenPortRefusesThem) {
  PtyPeer peer;
  platform::QtSerialPort port;
  port.set_device(peer.device());
  port.set_settings("9600,X,8,1");
  EXPECT_EQ(error_of([&] { port.open(); }), err::kDeviceUnavailable);
  // A pseudo-terminal keeps 8 data bits without parity whatever it is told,
  // and Qt reports that; stop bits and rates it takes.
  port.set_settings("300,n,8,2");
  ASSERT_EQ(error_of([&] { port.open(); }), 0);
  EXPECT_EQ(error_of([&] { port.set_settings("38400,n,8,1"); }), 0);
  EXPECT_EQ(error_of([&] { port.set_settings("38400,n,9,1"); }), err::kDeviceIo);
  EXPECT_EQ(error_of([&] { port.set_settings("9600,E,7,1"); }), err::kDeviceIo);
  EXPECT_TRUE(port.is_open());
}

}  // namespace
}  // namespace r7
