// Bootloader frames, retries and the S-record file transfer on a scripted line.
#include "flash/bootloader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/file_transfer.h"
#include "serial/comms.h"
#include "support/comms_fixture.h"
#include "support/modbus_frames.h"
#include "support/recording_flash_view.h"

namespace r7 {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

using test::bytes;

const std::string kAck30 = bytes({0xFF, 0x30});
const std::string kAck20 = bytes({0xFF, 0x20});
const std::string kAck21 = bytes({0xFF, 0x21});

struct BootloaderTest : test::CommsFixture {
  test::RecordingFlashView view;
  Bootloader boot{comms, prompts, view};

  void SetUp() override {
    ini("[COMMS CONTROLS]\nDEVICE 0 COMM PORT=2\nDEVICE 0 PORT SETTING=9600,N,8,1\n"
        "DEVICE 1 COMM PORT=2\nDEVICE 1 PORT SETTING=9600,n,8,1\n"
        "DEVICE 2 COMM PORT=2\nDEVICE 2 PORT SETTING=38400,n,8,1\n");
    comms.init_comms(read_protocol_slots(settings));
  }

  void ack(const std::string& reply, double delay_ms = 3) {
    line.answer_next_write({reply, delay_ms});
  }
  std::string file(const std::string& name, const std::string& text) {
    const auto path = dir / name;
    test::write_file(path, text);
    return path.string();
  }
};

TEST_F(BootloaderTest, FixedCommandsAreSentAsTheirExactFrames) {
  ack(kAck30);
  EXPECT_TRUE(boot.download_completed());
  ack(bytes({0xFF, 0x10}));
  EXPECT_TRUE(boot.erase_flash());
  ack(bytes({0xFF, 0x31}));
  EXPECT_TRUE(boot.execute_download_app(kDownloadAppAddress));
  EXPECT_THAT(line.writes,
              ElementsAre(bytes({0xFF, 0x30, 0x00, 0x2F}), bytes({0xFF, 0x10, 0x00, 0x0F}),
                          bytes({0xFF, 0x31, 0x04, 0x00, 0x08, 0x00, 0x04, 0x40})));
  EXPECT_EQ(boot.tries(), 1);
}

TEST_F(BootloaderTest, OnlyTheExactEchoCountsAndTriesAreBoundedByThree) {
  ack(bytes({0xFF, 0x30, 0x00}));  // one byte too many
  ack(bytes({0xFF, 0x31}));        // another command's echo
  ack(kAck30);
  EXPECT_TRUE(boot.download_completed());
  EXPECT_EQ(boot.tries(), 3);
  EXPECT_EQ(line.writes.size(), 3U);

  line.writes.clear();
  EXPECT_FALSE(boot.download_completed());  // never answered
  EXPECT_EQ(line.writes.size(), 3U);
  EXPECT_TRUE(boot.last_reply().empty());

  // An unanswered erase: 3 x 30 s, each failed try followed by 2 s in which a
  // late acknowledgement would be thrown away.
  const auto start = clock.total_ms();
  EXPECT_FALSE(boot.erase_flash());
  EXPECT_GE(clock.total_ms() - start, 96000U);
  EXPECT_LT(clock.total_ms() - start, 97000U);

  // A line lost on a try: the port is opened afresh and, as nothing late can
  // come on it, the next try follows at once.
  line.fail(test::PortOp::Wait, 57);
  ack("");  // the lost try
  ack(kAck30);
  const auto lost = clock.total_ms();
  EXPECT_TRUE(boot.download_completed());
  EXPECT_EQ(boot.tries(), 2);
  EXPECT_LT(clock.total_ms() - lost, 100U);
}

TEST_F(BootloaderTest, TransferSendsOneFramePerDataRecord) {
  const std::string path = file("a.s19",
                                "S00600004844521B\r\nS1050000AABB95\r\nS1050002CCDD4F\r\n"
                                "S9030000FC\r\n");
  ack(kAck20);
  ack(kAck20);
  EXPECT_TRUE(transfer_srecord_file(boot, prompts, path));
  EXPECT_THAT(line.writes, ElementsAre(bytes({0xFF, 0x20, 0x04, 0x00, 0x00, 0xAA, 0xBB, 0x88}),
                                       bytes({0xFF, 0x20, 0x04, 0x00, 0x02, 0xCC, 0xDD, 0xCE})));
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(view.progress_max, static_cast<int>(std::filesystem::file_size(path)));
  EXPECT_EQ(view.progress_value, 0);
  EXPECT_EQ(view.progress_values.at(2), 16 + 14);  // line lengths add up
}

TEST_F(BootloaderTest, FilesWithoutDataRecordsSendNothingAndOtherRecordsAreSkipped) {
  EXPECT_TRUE(transfer_srecord_file(boot, prompts, file("empty.s19", "")));
  EXPECT_TRUE(
      transfer_srecord_file(boot, prompts, file("hdr.s19", "S00600004844521B\r\nS9030000FC\r\n")));
  EXPECT_TRUE(line.writes.empty());
  ack(kAck20);
  EXPECT_TRUE(transfer_srecord_file(boot, prompts,
                                    file("s3.s19", "S3090000000011223344\r\nS1050000AABB95\r\n")));
  EXPECT_THAT(prompts.texts(), ElementsAre("Didn't know how to interpret this line"));
  EXPECT_EQ(line.writes.size(), 1U);
}

// An odd address-and-data field: the length byte is half its length rounded
// to the even number (7 digits: 4), so it and the bytes sent disagree.
TEST_F(BootloaderTest, AnOddFieldGivesTheRoundedLengthByte) {
  for (const auto& [text, length] :
       {std::pair{"S1050000AAB95", 4}, {"S1060000AABBC95", 4}, {"S1060000AABBCCD95", 6}}) {
    line.writes.clear();
    transfer_srecord_file(boot, prompts, file("odd.s19", std::string(text) + "\r\n"));
    ASSERT_FALSE(line.writes.empty()) << text;
    EXPECT_EQ(static_cast<unsigned char>(line.writes[0][2]), length) << text;
  }
}

TEST_F(BootloaderTest, S2FailureStopsTheTransferWithOneHexDumpMessage) {
  std::string text;
  for (int i = 0; i < 8; ++i)
    text += "S208010010112233443C\r\n";
  // Four acknowledged records, then silence.
  for (int i = 0; i < 4; ++i)
    ack(kAck21);
  EXPECT_FALSE(transfer_srecord_file(boot, prompts, file("s2.s19", text)));
  EXPECT_EQ(line.writes.size(), 4U + kRecordTries);  // no sixth record
  ASSERT_EQ(prompts.boxes.size(), 1U);
  EXPECT_EQ(prompts.boxes[0].text,
            "Failed at case record_type=S2 line_count=4\rSending message: FF 21 7 1 0 10 11 22 "
            "33 44 E2 \rResponse: ");
  EXPECT_EQ(view.progress_value, 0);
}

// An S1 record that fails shows three boxes; a file that cannot be read is a
// failed transfer naming the file.
TEST_F(BootloaderTest, S1FailureShowsThreeBoxesAndAnUnreadableFileIsNamed) {
  EXPECT_FALSE(transfer_srecord_file(boot, prompts, file("s1.s19", "S1050000AABB95\r\n")));
  const auto missing = (dir / "gone.S19").string();
  EXPECT_FALSE(transfer_srecord_file(boot, prompts, missing));
  EXPECT_THAT(
      prompts.texts(),
      ElementsAre("Failed at case record_type=S1 line_count=0",
                  "Sending message: " + bytes({0xFF, 0x20, 0x04, 0x00, 0x00, 0xAA, 0xBB, 0x88}),
                  "Response: ", ::testing::HasSubstr(missing)));
  EXPECT_EQ(line.writes.size(), static_cast<std::size_t>(kRecordTries));
}

TEST_F(BootloaderTest, LateAcknowledgementOfARetriedRecordIsNotTakenForTheNext) {
  // Record 1: the first try's acknowledgement comes late (during the second
  // try's wait), the second try's acknowledgement later still. Record 2 must
  // not take that one for its own: the device never answers record 2.
  const std::string path = file("late.s19", "S1050000AABB95\r\nS1050002CCDD4F\r\n");
  line.answer_next_write({kAck20, 2300});  // try 1 of record 1, late
  line.answer_next_write({kAck20, 1500});  // try 2 of record 1, also late
  EXPECT_FALSE(transfer_srecord_file(boot, prompts, path));
  // Record 1 acknowledged (by its first try), record 2 failed after all its tries.
  const auto record2 = bytes({0xFF, 0x20, 0x04, 0x00, 0x02, 0xCC, 0xDD, 0xCE});
  EXPECT_EQ(std::count(line.writes.begin(), line.writes.end(), record2), kRecordTries);
  ASSERT_FALSE(prompts.boxes.empty());
  EXPECT_THAT(prompts.boxes[0].text, StartsWith("Failed at case record_type=S1 line_count=1"));
}

TEST_F(BootloaderTest, OnlineProbeIsOneZeroByteWithoutRetry) {
  ack(bytes({0x01}));
  EXPECT_EQ(boot.online_probe(), bytes({0x01}));
  EXPECT_EQ(boot.online_probe(), "");
  EXPECT_THAT(line.writes, ElementsAre(bytes({0x00}), bytes({0x00})));
  EXPECT_EQ(online_state(bytes({0x01, 0x00})), OnlineState::Online);
  EXPECT_EQ(online_state(bytes({0x00})), OnlineState::UnknownReply);
  EXPECT_EQ(online_state(""), OnlineState::NoResponse);
}

}  // namespace
}  // namespace r7
