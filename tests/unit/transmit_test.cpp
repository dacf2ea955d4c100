// The timed exchange: how replies of every shape end, time-outs, and failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "app/line_settings.h"
#include "base/run_error.h"
#include "modbus/modbus.h"
#include "serial/comms.h"
#include "serial/deadline.h"
#include "support/comms_fixture.h"
#include "support/modbus_frames.h"

namespace r7 {
namespace {

using test::PortOp;
using test::ScriptedAnswer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Optional;

// Slot 0 at 300 baud on port 3, slot 1 (Modbus) at 9600, slot 2 at 38400,
// both on port 1.
const std::string kSlots =
    "[COMMS CONTROLS]\n"
    "DEVICE 0 COMM PORT =3\nDEVICE 0 PORT SETTING =300,N,8,1\n"
    "DEVICE 1 COMM PORT =1\nDEVICE 1 PORT SETTING =9600,N,8,1\n"
    "DEVICE 2 COMM PORT =1\nDEVICE 2 PORT SETTING =38400,n,8,1\n";

using test::read_reply;
using test::read_request;

struct TransmitTest : test::CommsFixture {
  void SetUp() override {
    ini(kSlots);
    comms.init_comms(read_protocol_slots(settings));
  }
  const ReplyLength modbus = modbus_reply_length;
};

TEST_F(TransmitTest, AReplyBackToBackEndsOneGapAfterItsExpectedLength) {
  line.arrive("garbage");  // waiting before the write: discarded
  const std::string reply = read_reply(1);
  line.answer_next_write({reply, 5, 0, 0});
  line.arrive("zz", 40);  // after the reply and its gap: no part of it
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus),
            (Exchange{reply, ExchangeResult::Reply}));
  EXPECT_EQ(line.writes, std::vector<std::string>{read_request(1)});
  // 5 ms to the reply, then the 1 ms gap at 9600 baud (one more tick for the
  // wait that confirms the silence at most).
  EXPECT_GE(clock.total_ms(), 6U);
  EXPECT_LE(clock.total_ms(), 7U);

  // A reply whose CRC is right is whole at once: no gap is waited for.
  const ReplyLength checked(modbus_reply_length, modbus_reply_complete);
  const auto before = clock.total_ms();
  line.answer_next_write({reply, 5, 0, 0});
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, checked).reply, reply);
  EXPECT_EQ(clock.total_ms() - before, 5U);
}

// Replies in 16 ms chunks, paced at 9600 baud or longer than expected: see
// tests/integration/qt_serial_port_test.cpp. At 300 baud a character takes
// 36.7 ms, longer than the 33 ms char gap, and the reply is not cut.
TEST_F(TransmitTest, RepliesTrickledAtLineRateAreNotCut) {
  const std::string bytes = "\x01\x02\x03\x04\x05\x06\x07";
  line.answer_next_write(ScriptedAnswer::paced(bytes, 300, 3));
  EXPECT_EQ(comms.transmit(0, "abc", 2000).reply, bytes);
}

TEST_F(TransmitTest, AnIncompleteReplyEndsAfterTheLongerSilence) {
  // 4 of 7 bytes: the 25 ms silence ends it, not the time-out.
  const std::string reply = read_reply(1).substr(0, 4);
  line.answer_next_write({reply, 5, 0, 0});
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus).reply, reply);
  EXPECT_GE(clock.total_ms(), 5U + 25U);
  EXPECT_LE(clock.total_ms(), 5U + 27U);
}

// The program itself stalls after taking the first bytes (descheduled on a
// busy machine) while the rest arrives: the line is looked at once more before
// the silence ends the reply.
TEST_F(TransmitTest, AStallAfterTakingBytesDoesNotCutTheReply) {
  const std::string reply = "abcdef";
  line.answer_next_write({reply, 5, 2, 0});
  const ReplyLength stalls_once = [this](std::string_view got) -> std::size_t {
    if (got.size() == 1 && clock.total_ms() < 40) clock.advance(40);
    return 0;
  };
  EXPECT_EQ(comms.transmit(1, "q", 250, stalls_once).reply, reply);
}

TEST_F(TransmitTest, NoReplyBeforeTheTimeOutGivesAnEmptyOneAndALateOneDoesNotLeak) {
  line.answer_next_write({read_reply(1), 400, 0, 0});
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus),
            (Exchange{"", ExchangeResult::NoReply}));
  // 250 ms plus 8 bytes on the wire at 9600 baud (9.2 ms).
  EXPECT_GE(clock.total_ms(), 259U);
  EXPECT_LE(clock.total_ms(), 261U);
  // Waited in slices on the port, never spinning.
  EXPECT_LE(line.longest_wait_ms, 10U);

  clock.advance(300);  // the late reply has arrived by now
  line.answer_next_write({read_reply(2), 5, 0, 0});
  EXPECT_EQ(comms.transmit(1, read_request(2), 250, modbus).reply, read_reply(2));
}

TEST_F(TransmitTest, TheTimeOutLeavesRoomForTheWireAt300BaudAndStillEndsAnEndlessReply) {
  // 8 bytes out take 293 ms and 7 back 257 ms; the controller needs 20 ms.
  line.answer_next_write(ScriptedAnswer::paced(read_reply(1), 300, 8, 20));
  EXPECT_EQ(comms.transmit(0, read_request(1), 250, modbus).reply, read_reply(1));
  EXPECT_GE(clock.total_ms(), 570U);
  // A device that never stops sending: the reply is cut at the time-out plus
  // the room made for 260 characters, not left to run for ever.
  line.answer_next_write({std::string(2000, 'x'), 1, char_time_ms(9600), 0});
  const std::string reply = comms.transmit(1, "a", 100).reply;
  EXPECT_GT(reply.size(), 300U);
  EXPECT_LT(reply.size(), 400U);
}

TEST_F(TransmitTest, DeviceErrorOnWriteReopensThePortAndWritesAgain) {
  line.fail(PortOp::Write, 57);
  const std::string reply = read_reply(1);
  line.answer_next_write({reply, 5, 0, 0});
  EXPECT_EQ(comms.transmit(1, read_request(1), 250, modbus).reply, reply);
  EXPECT_EQ(error_log(), logged("transmit", 57));
  EXPECT_TRUE(prompts.boxes.empty());
  const std::vector<std::string> tail(line.events.end() - 4, line.events.end());
  EXPECT_THAT(tail,
              ElementsAre("clear /dev/ttyS0", "close /dev/ttyS0", "open /dev/ttyS0 9600,N,8,1",
                          "write /dev/ttyS0 " + hex_bytes(read_request(1))));

  // 69 while reading is handled alike.
  line.fail(PortOp::Read, 69);
  line.answer_next_write({"abc", 5, 0, 0});
  comms.transmit(1, "q", 250);
  EXPECT_THAT(error_log(), ::testing::EndsWith(", transmit, ERROR #,  69 \r\n"));
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(std::count(line.events.begin(), line.events.end(), "close /dev/ttyS0"), 2);
}

// A line that drops while a reply is awaited ends the exchange at once (its
// reply cannot come on the port opened again); a line that keeps dropping is
// given up, once said, until the job ends (close_all).
TEST_F(TransmitTest, ALineThatKeepsDroppingIsGivenUp) {
  line.fail(PortOp::Wait, 57, kMaxFailingExchanges);
  for (int i = 0; i < kMaxFailingExchanges; ++i) {
    EXPECT_EQ(comms.transmit(1, "q", 250), (Exchange{"", ExchangeResult::LineDropped}));
  }
  EXPECT_LT(clock.total_ms(), 50U);
  EXPECT_TRUE(prompts.boxes.empty());
  const auto writes = line.writes.size();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(comms.transmit(1, "q", 250), (Exchange{"", ExchangeResult::PortUnavailable}));
  }
  EXPECT_EQ(line.writes.size(), writes);
  ASSERT_EQ(prompts.boxes.size(), 1U);
  EXPECT_EQ(prompts.boxes[0].title, "Serial Port");
  comms.close_all();
  line.answer_next_write({"ok", 2});
  EXPECT_EQ(comms.transmit(1, "q", 250).reply, "ok");

  // A good exchange now and then between the failures does not save it.
  comms.close_all();
  for (int i = 0; i < kMaxFailingExchanges; ++i) {
    line.fail(PortOp::Wait, 57, 1);
    EXPECT_EQ(comms.transmit(1, "q", 250).result, ExchangeResult::LineDropped);
    if (i + 1 == kMaxFailingExchanges) break;
    line.answer_next_write({"ok", 2});
    EXPECT_EQ(comms.transmit(1, "q", 250).reply, "ok");
  }
  EXPECT_EQ(comms.transmit(1, "q", 250).result, ExchangeResult::PortUnavailable);
}

TEST_F(TransmitTest, UnavailableOnWriteSkipsTheWriteAndWhileReceivingEndsTheReply) {
  line.fail(PortOp::Write, 68);
  EXPECT_EQ(comms.transmit(1, "q", 50).reply, "");
  EXPECT_TRUE(line.writes.empty());
  EXPECT_EQ(error_log(), logged("transmit", 68));
  line.fail(PortOp::BytesWaiting, 68);
  line.answer_next_write({"abc", 0, 0, 0});
  EXPECT_EQ(comms.transmit(1, "q", 50), (Exchange{"", ExchangeResult::PortUnavailable}));
}

TEST_F(TransmitTest, ThreeFailuresWhileReceivingEndTheReception) {
  line.fail(PortOp::BytesWaiting, 62, 5);
  line.answer_next_write({"abc", 2, 0, 0});
  EXPECT_EQ(comms.transmit(1, "q", 50).reply, "");
  EXPECT_EQ(prompts.texts().size(), 3U);
}

TEST_F(TransmitTest, OtherErrorsShowTheirMessageAndTheStepIsTriedAgain) {
  line.fail(PortOp::Read, 62);
  line.answer_next_write({"abc", 2, 0, 0});
  EXPECT_EQ(comms.transmit(1, "q", 250).reply, "abc");
  EXPECT_THAT(prompts.texts(), ElementsAre("INPUT PAST END OF FILE ERROR"));
  EXPECT_EQ(error_log(), logged("transmit", 62));

  // A number outside the table ends the program (main catches it).
  prompts.boxes.clear();
  line.fail(PortOp::Clear, 1, 100);
  EXPECT_THROW(comms.transmit(1, "q", 50), ProgramEnd);
  EXPECT_THAT(prompts.texts(), ElementsAre("ERROR NUMBER 1 CHECK VB MANUAL FOR DESCRIPTION"));
}

TEST(Deadline, CountsAcrossTheWrapOfTheMillisecondCount) {
  sim::FakeClock clock{1000};
  clock.set_tick(4294967290U);
  Deadline deadline(clock, 100);
  clock.advance(16);  // 4294967290 -> 10 across the wrap
  EXPECT_FALSE(deadline.expired());
  // (4294967295 - 4294967290) + 10 = 15, one less than the ticks that passed.
  EXPECT_DOUBLE_EQ(deadline.remaining(), 85.0);
  deadline.extend(0.5);
  clock.advance(85);
  EXPECT_FALSE(deadline.expired());
  clock.advance(1);
  EXPECT_TRUE(deadline.expired());
  EXPECT_TRUE(Deadline(clock, std::nan("")).expired());
}

TEST_F(TransmitTest, TraceHasOneLinePerWriteAndPerReply) {
  FileTrace trace(dir / "trace.txt", clock);
  comms.set_trace(&trace);
  const std::string reply = read_reply(1);
  line.answer_next_write({reply, 5, 0, 0});
  comms.transmit(1, read_request(1), 250, modbus);
  comms.transmit(1, read_request(1), 20, modbus);
  EXPECT_EQ(test::read_file(dir / "trace.txt"),
            "2025-03-03 14:05:09 slot 1 /dev/ttyS0 TX 01 03 00 00 00 01 84 0A 0 ms\n"
            "2025-03-03 14:05:09 slot 1 /dev/ttyS0 RX 01 03 02 00 01 79 84 6 ms\n"
            "2025-03-03 14:05:09 slot 1 /dev/ttyS0 TX 01 03 00 00 00 01 84 0A 0 ms\n"
            "2025-03-03 14:05:09 slot 1 /dev/ttyS0 RX - 30 ms\n");

  // What a drain throws away is traced too.
  line.arrive(read_reply(1), 5);
  comms.drain(1, 20, 100);
  EXPECT_THAT(test::read_file(dir / "trace.txt"),
              ::testing::EndsWith("slot 1 /dev/ttyS0 DROP 01 03 02 00 01 79 84 25 ms\n"));
  EXPECT_EQ(hex_bytes("\x01\xAB", false), "01AB");
}

TEST(FileTraceCheck, ADirectoryOrAPathThatCannotBeWrittenIsRefused) {
  test::TempDir dir;
  EXPECT_EQ(FileTrace::check(dir / "trace.txt"), std::nullopt);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "trace.txt"));
  EXPECT_EQ(FileTrace::check("/dev/null"), std::nullopt);
  EXPECT_THAT(FileTrace::check(dir.path()), Optional(HasSubstr("is a directory, not a file")));
  EXPECT_THAT(FileTrace::check(dir / "none" / "trace.txt"), Optional(HasSubstr("cannot write to")));
}

// A full disk: the first lost line is told, once, with the system's reason.
TEST(FileTraceCheck, LinesLostToAFullDiskAreToldOnce) {
  sim::FakeClock clock{0};
  FileTrace trace("/dev/full", clock);
  std::vector<std::string> told;
  trace.set_on_lost([&told](const std::string& why) { told.push_back(why); });
  for (int i = 0; i < 3; ++i)
    trace.record(1, "/dev/ttyS0", true, "\x01", 0);
  EXPECT_THAT(told, ::testing::ElementsAre("/dev/full: No space left on device"));
}

}  // namespace
}  // namespace r7
