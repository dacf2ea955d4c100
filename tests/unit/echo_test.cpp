// The timed exchange on a line that returns every byte sent (a 2-wire RS-485
// adapter) and on a direct line, as the echo is found out.
#include <gtest/gtest.h>

#include "flash/bootloader.h"
#include "modbus/modbus.h"
#include "serial/comms.h"
#include "support/comms_fixture.h"
#include "support/modbus_frames.h"
#include "support/recording_flash_view.h"

namespace r7 {
namespace {

using test::bytes;
using test::read_reply;
using test::read_request;
using test::write_request;

constexpr const char* kSlots =
    "[COMMS CONTROLS]\nDEVICE 0 COMM PORT=1\nDEVICE 0 PORT SETTING=9600,N,8,1\n"
    "DEVICE 1 COMM PORT=1\nDEVICE 1 PORT SETTING=9600,N,8,1\n"
    "DEVICE 2 COMM PORT=1\nDEVICE 2 PORT SETTING=38400,n,8,1\n";

struct EchoTest : test::CommsFixture {
  test::RecordingFlashView view;
  const ReplyLength modbus{modbus_reply_length, modbus_reply_complete};
  const std::string ack30 = bytes({0xFF, 0x30});
  const std::string completed = bytes({0xFF, 0x30, 0x00, 0x2F});

  void SetUp() override {
    ini(kSlots);
    comms.init_comms(read_protocol_slots(settings));
  }
  // The controller answers the next write with `reply` after the echo of `sent`.
  void echo_then(const std::string& sent, const std::string& reply, double reply_ms = 5) {
    line.answer_next_write({sent, 0.5});
    if (!reply.empty()) line.arrive(reply, reply_ms);
  }
  EchoState state() const { return comms.echo_state(comms.device_name(1)); }
};

TEST_F(EchoTest, AnEchoingLineIsFoundOutAndItsEchoNeverTakenForAnAnswer) {
  FileTrace trace(dir / "trace.txt", clock);
  comms.set_trace(&trace);
  // A read: its echo cannot be its reply, so the line echoes. The reply's
  // time-out counts from the end of the echo.
  line.answer_next_write({read_request(1), 100});
  line.arrive(read_reply(1), 100 + 240);
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus).reply, read_reply(1));
  EXPECT_EQ(state(), EchoState::Present);
  EXPECT_NE(test::read_file(dir / "trace.txt").find(" ECHO 01 03 00 00 00 01 84 0A "),
            std::string::npos);

  // A write is answered with a copy of itself: echo, then the copy.
  echo_then(write_request(102, 7), write_request(102, 7));
  EXPECT_EQ(comms.transmit(1, write_request(102, 7), 250, modbus).reply, write_request(102, 7));
  // The echo alone, a damaged echo, a cut one: no reply.
  echo_then(write_request(102, 7), "");
  EXPECT_EQ(comms.transmit(1, write_request(102, 7), 250, modbus).reply, "");
  std::string damaged = read_request(1);
  damaged[3] ^= 0x10;
  echo_then(damaged, read_reply(1));
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus).reply, "");
  EXPECT_NE(test::read_file(dir / "trace.txt").find(" DROP "), std::string::npos);

  // Bootloader frames on slot 2 (the same device): the echo of a frame begins
  // with its acknowledgement; the probe's 0 byte is no answer either.
  Bootloader boot(comms, prompts, view);
  echo_then(completed.substr(0, 2), "");
  echo_then(completed, "");
  echo_then(completed, "");
  EXPECT_FALSE(boot.download_completed());
  echo_then(completed, ack30);
  EXPECT_TRUE(boot.download_completed());
  echo_then(std::string(1, '\0'), "\x01");
  EXPECT_EQ(boot.online_probe(), "\x01");
  echo_then(std::string(1, '\0'), "");
  EXPECT_EQ(online_state(boot.online_probe()), OnlineState::NoResponse);

  // Forgotten when the ports are closed: the next job finds it out again.
  comms.close_all();
  EXPECT_EQ(state(), EchoState::Unknown);
}

TEST_F(EchoTest, ADirectLineAndTheModesThatOverrideTheSearch) {
  // A write's copy could be an echo: nothing is decided by it.
  line.answer_next_write({write_request(102, 7), 5});
  EXPECT_EQ(comms.transmit(1, write_request(102, 7), 250, modbus).reply, write_request(102, 7));
  EXPECT_EQ(state(), EchoState::Unknown);
  // An acknowledgement is the beginning of its frame, then silence: no echo.
  line.answer_next_write({ack30, 3});
  EXPECT_EQ(comms.transmit(2, completed, 250, expect_bytes(2)).reply, ack30);
  EXPECT_EQ(state(), EchoState::Absent);
  line.answer_next_write({read_reply(1), 5});
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus).reply, read_reply(1));

  // --echo off: the echo is taken for the reply (and fails its check), as on
  // a direct line; --echo on removes the echo of the first write already.
  comms.set_echo_mode(EchoMode::Off);
  echo_then(read_request(1), read_reply(1));
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus).reply, read_request(1));
  clock.advance(50);
  comms.set_echo_mode(EchoMode::On);
  echo_then(write_request(102, 7), "");
  EXPECT_EQ(comms.transmit(1, write_request(102, 7), 250, modbus).reply, "");
}

}  // namespace
}  // namespace r7
