#include "flash/srecord.h"

#include <gtest/gtest.h>

#include "errors/run_error.h"
#include "flash/bootloader.h"
#include "support/recording_prompts.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

struct SRecordLineTest : ::testing::Test {
  test::RecordingPrompts prompts;
  struct {
    std::string flash_message;
  } boot;

  void check(const std::string& line) {
    boot.flash_message = check_srecord_fields(line.substr(2, 2), line.substr(4, line.size() - 6),
                                              line.substr(line.size() - 2), prompts);
  }
};

const std::string kAABB("\x00\x00\xAA\xBB", 4);

TEST_F(SRecordLineTest, SoundLinePassesSilently) {
  check("S1050000AABB95");
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(boot.flash_message, kAABB);
}

TEST_F(SRecordLineTest, BadChecksumWarnsOnceAndStillConverts) {
  check("S1050000AABB96");
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{"The checksum is not valid."});
  EXPECT_EQ(boot.flash_message, kAABB);
}

TEST_F(SRecordLineTest, WrongByteCountAlsoBreaksTheChecksum) {
  check("S1060000AABB95");
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"This line byte count is not valid.",
                                                       "The checksum is not valid."}));
}

TEST_F(SRecordLineTest, LowerCaseDigitsAreInvalidEachOnItsOwn) {
  check("S1050000aabb95");
  const std::vector<std::string> expected(4, "Data file contains invalid data");
  std::vector<std::string> shown = prompts.texts();
  ASSERT_EQ(shown.size(), 5U);
  EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + 4), expected);
  EXPECT_EQ(shown[4], "The checksum is not valid.");
  EXPECT_EQ(boot.flash_message, std::string(4, '\0'));
}

TEST_F(SRecordLineTest, OddFieldMissesItsLastDigit) {
  boot.flash_message = check_srecord_fields("04", "0000AAB", "95", prompts);
  const auto shown = prompts.texts();
  ASSERT_GE(shown.size(), 2U);
  EXPECT_EQ(shown[0], "This line byte count is not valid.");
  EXPECT_EQ(shown[1], "Data file contains invalid data");
  EXPECT_EQ(boot.flash_message, std::string("\x00\x00\xAA\xB0", 4));
}

TEST_F(SRecordLineTest, EmptyRecordWithCountZero) {
  boot.flash_message = check_srecord_fields("00", "", "FF", prompts);
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{"This line byte count is not valid."});
  EXPECT_TRUE(boot.flash_message.empty());
}

TEST(BootloaderChecksum, AddsEveryByteModulo256) {
  EXPECT_EQ(bootloader_checksum(std::string("\xFF\x30\x00", 3)), 0x2F);
  EXPECT_EQ(bootloader_checksum(std::string("\xFF\x01", 2)), 0x00);
  EXPECT_EQ(bootloader_checksum(""), 0x00);
}

TEST(SRecordFile, LinesEndInCrLfLfOrCrAndAMissingFileIsError53) {
  test::TempDir dir;
  test::write_file(dir / "a.s19", "S00600004844521B\r\nS1050000AABB95\nS9030000FC\rS5030002FA");
  const auto lines = read_srecord_lines(dir / "a.s19");
  EXPECT_EQ(lines, (std::vector<std::string>{"S00600004844521B", "S1050000AABB95", "S9030000FC",
                                             "S5030002FA"}));
  try {
    read_srecord_lines(dir / "missing.s19");
    FAIL() << "no error";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), 53);
    EXPECT_NE(e.file().find("missing.s19"), std::string::npos);
  }
}

TEST(SRecordFile, SoftwareFieldComesFromTheFirstS2RecordAt010000) {
  EXPECT_EQ(software_number_field(
                {"S00600004844521B", "S20A01000052374142001AXX", "S20A01000052374142002BXX"}),
            "52374142001A");
  EXPECT_EQ(software_number_field({"S1050000AABB95"}), kNoSoftwareField);
  EXPECT_EQ(software_number_field({"S105", "S20A01000052374142001AXX"}), kNoSoftwareField);
  EXPECT_EQ(software_number_field({"S2080200005237414200XX"}), kNoSoftwareField);
}

TEST(SRecordFile, CheckCountsRecordsAndReportsEveryErrorWithItsLine) {
  const auto report = check_srecord_lines({
      "S00600004844521B",
      "S1050000AABB95",
      "S1050000AABB96",
      "S1060000AABB95",
      "S1050000aabb95",
      "S3090000000011223344",
      "",
      "S208010010112233443C",
      "S9030000FC",
  });
  EXPECT_EQ(report.lines, 9U);
  EXPECT_EQ(report.records_by_type.at("S1"), 4U);
  EXPECT_EQ(report.records_by_type.at("S2"), 1U);
  std::vector<int> lines;
  for (const auto& e : report.errors)
    lines.push_back(e.line);
  // Line 6 is both a type the download skips and a wrong byte count.
  EXPECT_EQ(lines, (std::vector<int>{3, 4, 5, 6, 6, 7}));
  EXPECT_EQ(report.errors[0].message, "checksum 96, expected 95");
  EXPECT_EQ(report.errors[2].message, "invalid character 'a' at column 9");
  EXPECT_EQ(report.first_address, 0U);
  EXPECT_EQ(report.last_address, 0x010013U);
}

TEST(SRecordFile, SoundFileHasNoErrors) {
  const auto report = check_srecord_lines(
      {"S00600004844521B", "S1050000AABB95", "S208010010112233443C", "S9030000FC"});
  EXPECT_TRUE(report.ok());
  EXPECT_EQ(report.data_bytes, 6U);
}

}  // namespace
}  // namespace r7
