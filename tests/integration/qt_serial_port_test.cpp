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

std::string with_crc(std::string body) {
  Modbus m;
  m.modbus_crc16(body);
  body += static_cast<char>(m.crc_lo);
  body += static_cast<char>(m.crc_hi);
  return body;
}
std::string read_request(int count) {
  Modbus m;
  return m.build_modbus_request(3, 1, 0, {static_cast<float>(count)});
}
std::string read_reply(int count) {
  std::string body = {1, 3, static_cast<char>(2 * count)};
  for (int i = 1; i <= count; ++i)
    body += {0, static_cast<char>(i)};
  return with_crc(body);
}

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
  // The peer answers in turn: back to back, paced at 9600 baud, in 16 ms
  // chunks, paced without a known shape, and three bytes for an expected two.
  peer.start([small, large](PtyPeer& p) {
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
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus_reply_length), small);
  EXPECT_EQ(comms.transmit(1, read_request(17), 250, modbus_reply_length), large);
  EXPECT_EQ(comms.transmit(1, read_request(17), 250, modbus_reply_length), large);
  EXPECT_EQ(comms.transmit(1, read_request(17), 250), large);
  EXPECT_EQ(comms.transmit(2, "\xFF\x30", 500, expect_bytes(2)), std::string("\xFF\x30\x00", 3));
  EXPECT_EQ(comms.last_result(), ExchangeResult::Reply);
  EXPECT_EQ(error_log(), "");
}

TEST_F(QtPortTest, BytesWaitingBeforeTheWriteAreDiscarded) {
  peer.start([](PtyPeer& p) {
    p.send("garbage");
    while (!p.stopping()) {
      if (p.read_exactly(8, 100ms)) p.send(read_reply(1));
    }
  });
  std::this_thread::sleep_for(50ms);  // the garbage is in the line's buffer by now
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus_reply_length), read_reply(1));
}

TEST_F(QtPortTest, ALateReplyDoesNotLeakIntoTheNextExchange) {
  peer.start([](PtyPeer& p) {
    if (!p.read_exactly(8, 2000ms)) return;
    p.pause(400ms);
    p.send(read_reply(1));  // too late for the first exchange
    while (!p.stopping()) {
      if (p.read_exactly(8, 100ms)) p.send(read_reply(2));
    }
  });
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus_reply_length), "");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(comms.transmit(1, read_request(2), 250, modbus_reply_length), read_reply(2));
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
  EXPECT_GE(prompts.events_processed, 150);  // the GUI was served every ~10 ms
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

TEST(QtPortMissing, AMissingDeviceIsUnavailable) {
  test::TempDir dir;
  test::RecordingPrompts prompts;
  SystemClock clock;
  ErrorLog log{prompts, clock, dir / "Flash.ERR"};
  platform::QtPortFactory factory;
  PortNames names{dir / "none.ini", std::string("/dev/r7-no-such-port")};
  Comms comms{dir / "none.ini", names, factory, clock, prompts, log};
  comms.init_comms();
  EXPECT_EQ(comms.transmit(0, "q", 1000), "");
  EXPECT_EQ(comms.last_result(), ExchangeResult::PortUnavailable);
  EXPECT_THAT(test::read_file(dir / "Flash.ERR"), HasSubstr(", open_port, ERROR #,  68 \r\n"));
  EXPECT_THAT(prompts.texts(),
              ::testing::ElementsAre("Cannot open comm port #2, it is not available"));

  platform::QtSerialPort port;
  port.set_device("/dev/r7-no-such-port");
  try {
    port.open();
    FAIL() << "opened a missing device";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), err::kDeviceUnavailable);
  }
  for (const auto& op : std::initializer_list<std::function<void()>>{
           [&] { port.write("x"); }, [&] { port.wait_for_input(5); }, [&] { port.bytes_waiting(); },
           [&] { port.clear_input(); }}) {
    try {
      op();
      ADD_FAILURE() << "an operation on a closed port went through";
    } catch (const RunError& e) {
      EXPECT_EQ(e.number(), err::kDeviceUnavailable);
    }
  }
  port.close();  // closing a closed port is harmless
}

TEST(QtPortSettings, UnusableSettingsMakeThePortUnavailableAndAnOpenPortRefusesThem) {
  PtyPeer peer;
  platform::QtSerialPort port;
  port.set_device(peer.device());
  port.set_settings("9600,X,8,1");
  try {
    port.open();
    FAIL() << "opened with parity X";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), err::kDeviceUnavailable);
  }
  // A pseudo-terminal keeps 8 data bits without parity whatever it is told,
  // and Qt reports that; stop bits and rates it takes.
  port.set_settings("300,n,8,2");
  ASSERT_NO_THROW(port.open());
  EXPECT_TRUE(port.is_open());
  ASSERT_NO_THROW(port.set_settings("38400,n,8,1"));
  for (const char* refused : {"38400,n,9,1", "9600,E,7,1"}) {
    try {
      port.set_settings(refused);
      ADD_FAILURE() << "took " << refused;
    } catch (const RunError& e) {
      EXPECT_EQ(e.number(), err::kDeviceIo);
    }
  }
  EXPECT_TRUE(port.is_open());
}

}  // namespace
}  // namespace r7
