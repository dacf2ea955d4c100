#include "flash/srecord.h"

#include <gtest/gtest.h>

#include <sstream>

#include "flash/srecord_check.h"
#include "samples/sample_files.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

// One record as the transfer reads it: the warnings, and the bytes the
// bootloader gets all the same; an odd field misses its last digit.
TEST(SRecordLine, EachFaultIsWarnedAboutAndTheLineStillConverts) {
  const std::string checksum = "The checksum is not valid.";
  const std::string count = "This line byte count is not valid.";
  const std::string invalid = "Data file contains invalid data";
  const std::string aabb("\x00\x00\xAA\xBB", 4);
  struct Case {
    const char *count, *field, *sum;
    std::vector<std::string> messages;
    std::string bytes;
  };
  const Case cases[] = {
      {"05", "0000AABB", "95", {}, aabb},
      {"05", "0000AABB", "96", {checksum}, aabb},
      {"06", "0000AABB", "95", {count, checksum}, aabb},
      {"05",
       "0000aabb",
       "95",
       {invalid, invalid, invalid, invalid, checksum},
       std::string(4, '\0')},
      {"00", "", "FF", {count}, ""},
      {"04", "0000AAB", "95", {count, invalid, checksum}, std::string("\x00\x00\xAA\xB0", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    const TransferRecord record = SRecord(std::string("S1") + c.count + c.field + c.sum).transfer();
    EXPECT_EQ(record.bytes, c.bytes);
    std::vector<std::string> texts;
    for (const TransferWarning w : record.warnings)
      texts.emplace_back(transfer_warning_text(w));
    EXPECT_EQ(texts, c.messages);
  }
}

// Lines end in CR LF, LF or CR; the report counts records, addresses and data
// bytes. A missing file: input_file_test and the transfer (bootloader_test).
TEST(SRecordFile, LinesAndTheReportOfAFile) {
  test::TempDir dir;
  test::write_file(dir / "f.s19",
                   "S00600004844521B\r\nS1050000AABB95\nS208010010112233443C\rS9030000FC");
  std::vector<std::string> lines;
  for (const SRecord& record : read_srecords(dir / "f.s19"))
    lines.push_back(record.text());
  EXPECT_EQ(lines, (std::vector<std::string>{"S00600004844521B", "S1050000AABB95",
                                             "S208010010112233443C", "S9030000FC"}));
  const SRecordReport report = check_srecord_file(dir / "f.s19");
  EXPECT_TRUE(report.ok());
  EXPECT_EQ(report.lines, 4U);
  EXPECT_EQ(report.records_by_type,
            (std::map<std::string, std::size_t>{{"S0", 1}, {"S1", 1}, {"S2", 1}, {"S9", 1}}));
  EXPECT_EQ(report.first_address, 0U);
  EXPECT_EQ(report.last_address, 0x010013U);
  EXPECT_EQ(report.data_bytes, 6U);
  EXPECT_EQ(check_srecords(read_srecords(dir / "f.s19")).notes.size(), report.notes.size());
}

TEST(SRecordFile, SoftwareFieldComesFromTheFirstS2RecordAt010000) {
  const auto field = [](std::string_view text) {
    return software_number_field(split_srecords(text));
  };
  EXPECT_EQ(field("S00600004844521B\nS20A01000052374142001AXX\nS20A01000052374142002BXX"),
            "52374142001A");
  EXPECT_EQ(field("S1050000AABB95"), std::nullopt);
  EXPECT_EQ(field("S105\nS20A01000052374142001AXX"), std::nullopt);
  EXPECT_EQ(field("S2080200005237414200XX"), std::nullopt);
  EXPECT_EQ(field("S10A01000052374142001AXX"), std::nullopt);  // only an S2 record carries it
}

// A record line with a correct byte count and checksum.
std::string rec(char type, std::uint32_t address, const std::string& data) {
  const int address_bytes = type == '2' || type == '6' || type == '8' ? 3
                            : type == '3' || type == '7'              ? 4
                                                                      : 2;
  return sim::srecord_line(type, address, address_bytes, data) + "\r\n";
}

using Findings = std::vector<std::pair<int, std::string>>;  // line, part of the message

// What the check finds in whole files: errors that refuse the file, notes that
// do not. A file is also read as a stream in three-byte pieces, which must
// give the same report as the text read whole.
TEST(SRecordFile, CheckFindsErrorsAndNotesInWholeFiles) {
  const std::string hdr = rec('0', 0, "HDR");
  const std::string s1 = rec('1', 0x0000, "\xAA\xBB");
  const std::string s2 = rec('2', 0x010010, "\x11\x22\x33\x44");
  const std::string s9 = rec('9', 0, "");
  const std::string no_end = "the file does not end with a termination record";
  std::string many;  // as srec_cat writes more than 65535 records: S0, data, S6
  for (std::uint32_t a = 0; a < 65537; ++a)
    many += rec('2', 0x020000 + a, std::string(1, static_cast<char>(a)));
  struct Case {
    const char* name;
    std::string text;
    Findings errors;
    Findings notes;
  };
  const Case cases[] = {
      {"sound", hdr + s1 + s2 + s9, {}, {{1, "header \"HDR\""}, {4, "S9 termination record"}}},
      {"cut at a line end without S9", hdr + s1 + s2, {{0, no_end}}, {{1, "header"}}},
      {"cut mid-record",
       hdr + s1 + "S2080100101122",
       {{0, no_end}, {3, "the file ends inside this record"}},
       {{1, "header"}}},
      {"lower-case S1",
       "S1050000aabb95\n" + s9,
       {{1, "invalid character 'a' at column 9 (hex digits must be upper case)"}},
       {{2, "S9"}}},
      {"damaged S1 records",
       "S1050000AABB96\nS1060000AABB95\nS1050000AABB9\n" + s1 + s9,
       {{1, "checksum 96, expected 95"},
        {2, "byte count 06 but 5 bytes follow"},
        {3, "odd number of hex digits"}},
       {{5, "S9"}}},
      {"byte count too small",
       "S1040000AABB95\n" + s9,
       {{1, "byte count 04 but 5 bytes follow"}},
       {{2, "S9"}}},
      {"past the 16-bit address space",
       rec('1', 0xFFFF, "\x01\x02") + s9,
       {{1, "data runs past address FFFF"}},
       {{2, "S9"}}},
      {"S3",
       s1 + rec('3', 0x1000, "\x01") + s9,
       {{2, "S3 record: the transfer skips it"}},
       {{3, "S9"}}},
      {"UTF-8 text and mark",
       "\xEF\xBB\xBF" + hdr +
           "Gr\xC3\xB6\xC3\x9F"
           "e\n" +
           s1 + s9,
       {{1, "byte-order mark"}, {2, "not an S-record line"}},
       {{4, "S9"}}},
      {"count mismatch",
       s1 + s1 + rec('5', 3, ""),
       {{3, "S5 count record says 3 data records, 2"}},
       {}},
      {"matching S6 after more than 65535 records",
       hdr + many + rec('6', 65537, ""),
       {},
       {{1, "header"}, {65539, "S6 count record: 65537 data records"}}},
      {"overlap with different data",
       s1 + rec('1', 0x0001, "\xCC") + s9,
       {{2, "the byte at 000001 differs"}},
       {{3, "S9"}}},
      {"identical overlap", s1 + rec('1', 0x0001, "\xBB") + s9, {}, {{3, "S9"}}},
      {"empty", "", {{0, "the file is empty"}}, {}},
      {"header only", hdr + s9, {{0, "no S1 or S2 data record"}}, {{1, "header"}, {2, "S9"}}},
      {"blank lines",
       hdr + "\r\n\r\n" + s1 + " \t\n" + s9,
       {},
       {{1, "header"}, {2, "2 blank lines"}, {5, "blank line:"}, {6, "S9"}}},
      {"lower-case S0, S7 end",
       "S00600004844521b\n" + s1 + rec('7', 0x100, ""),
       {},
       {{1, "header record: invalid character 'b' at column 16"},
        {3, "S7 termination record, start address 00000100: the transfer shows a message"}}},
      {"long line and no type",
       s1 + "S1" + std::string(1100, '0') + "\nS4030000FC\n" + s9,
       {{2, "line of 1102 characters"}, {3, "S4 is not a record type"}},
       {{4, "S9"}}},
  };
  const auto expect = [](const std::vector<SRecordMessage>& found, const Findings& wanted) {
    ASSERT_EQ(found.size(), wanted.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].line, wanted[i].first) << found[i].message;
      EXPECT_NE(found[i].message.find(wanted[i].second), std::string::npos) << found[i].message;
    }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SRecordReport report = check_srecord_text(c.text);
    expect(report.errors, c.errors);
    expect(report.notes, c.notes);
    EXPECT_EQ(report.ok(), c.errors.empty());
    std::istringstream in(c.text);
    SRecordCheckLimits pieces;
    pieces.read_size = 3;
    const SRecordReport streamed = check_srecord_stream(in, pieces);
    expect(streamed.errors, c.errors);
    expect(streamed.notes, c.notes);
    EXPECT_EQ(streamed.lines, report.lines);
  }
}

// A screenful of errors and notes at most, the rest counted; the errors of the
// file as a whole are always listed. Runs of blank lines are one note, and
// text beyond the size limit is not read at all.
TEST(SRecordFile, FindingsAreBoundedAndSoIsTheText) {
  std::string text;
  for (int i = 0; i < 30; ++i)
    text += "S9030000FC\n\njunk\n";
  text += std::string(100000, '\n');
  const SRecordReport report = check_srecord_text(text);
  ASSERT_EQ(report.errors.size(), kSRecordMessagesListed);
  EXPECT_EQ(report.error_count(), 32U);  // 30 lines, no end record, no data record
  EXPECT_EQ(report.errors[0].line, 0);
  EXPECT_EQ(report.errors[1].line, 0);
  EXPECT_EQ(report.errors[2].line, 3);
  EXPECT_EQ(report.note_count(), 61U);  // 30 blank lines, 30 S9, one run of blank lines
  EXPECT_EQ(report.lines, 90U + 100000U);

  SRecordCheckLimits small;
  small.max_bytes = 1000;
  const SRecordReport refused = check_srecord_text(text, small);
  ASSERT_EQ(refused.error_count(), 1U);
  EXPECT_NE(refused.errors[0].message.find("more than 1000 bytes"), std::string::npos);
  EXPECT_EQ(refused.lines, 0U);
  std::istringstream in(text);
  EXPECT_FALSE(check_srecord_stream(in, small).ok());
}

}  // namespace
}  // namespace r7
