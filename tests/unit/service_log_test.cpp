#include "app/service_log.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <thread>

#include "app/version.h"
#include "base/sha256.h"
#include "sim/fake_clock.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

// The catalogue vectors, padding into a second block (56 bytes) included, and
// a million bytes fed in uneven pieces.
TEST(Sha256Test, KnownVectors) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  Sha256 hash;
  const std::string piece(997, 'a');
  for (int i = 0; i < 1003; ++i)
    hash.update(piece);
  hash.update("aaaaaaaaa");
  EXPECT_EQ(hash.finish_hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

ServiceRecord flash_record() {
  ServiceRecord r;
  r.start = {2026, 12, 7, 14, 3, 59, 60};
  r.end = {2026, 12, 7, 14, 5, 1, -330};
  r.version = "2.00";
  r.user = "me";
  r.station = "/dev/ttyUSB0";
  r.job = "flash";
  r.model = 6180;
  r.serial_number = "2130517";
  r.software_number = 2;
  r.revision = 1850;
  r.file = ServiceFile{"/home/me/\"q\"\\\t\x01\xE9-\xC3\xBC-\xF0\x9F\x94\xA7/731-0000.S19", 163840,
                       std::string(64, 'a')};
  r.backup = "/home/me/Reg Downloads/2130517-before-2026-12-07_14-03-59.txt";
  r.set_outcome(Outcome(Ending::Failed, "Goto Download Mode"));
  r.error_number = 57;
  r.exit_status = 5;
  return r;
}

// Valid JSON to an outside parser whatever bytes a path holds (one not UTF-8
// is taken as Latin-1), and the same record when read back.
TEST(ServiceRecordTest, WrittenAsValidJsonAndReadBack) {
  const ServiceRecord r = flash_record();
  const std::string line = service_record_json(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto j = nlohmann::json::parse(line);
  EXPECT_EQ(j["start"], "2026-12-07T14:03:59+01:00");
  EXPECT_EQ(j["end"], "2026-12-07T14:05:01-05:30");
  EXPECT_EQ(j["file"], "/home/me/\"q\"\\\t\x01\xC3\xA9-\xC3\xBC-\xF0\x9F\x94\xA7/731-0000.S19");
  EXPECT_EQ(j["file_size"], 163840);
  EXPECT_EQ(j["step"], "Goto Download Mode");
  EXPECT_EQ(j["exit_status"], 5);

  const auto back = parse_service_record(line);
  ASSERT_TRUE(back);
  EXPECT_EQ(service_record_json(*back), line);
  EXPECT_EQ(back->end.utc_offset_minutes, -330);

  ServiceRecord bare;
  bare.job = "identify";
  bare.ending = "no controller";
  const auto b = nlohmann::json::parse(service_record_json(bare));
  EXPECT_TRUE(b["model"].is_null() && b["file"].is_null() && b["step"].is_null() &&
              b["exit_status"].is_null());
  EXPECT_EQ(service_record_json(*parse_service_record(service_record_json(bare))),
            service_record_json(bare));
}

TEST(ServiceRecordTest, CellsAndReportText) {
  ServiceRecord r = flash_record();
  const auto cells = history_cells(r);
  EXPECT_EQ(cells[0], "2026-12-07 14:03:59");
  EXPECT_EQ(cells[8], "731-0000.S19");
  EXPECT_EQ(cells[9], "failed at Goto Download Mode, error 57");
  EXPECT_EQ(cells[10], "5");
  r.exit_status.reset();
  r.set_outcome([] {
    Outcome o(Ending::Completed);
    o.refused = 2;
    o.skipped = 1;
    return o;
  }());
  EXPECT_EQ(history_cells(r)[9], "completed, 2 refused, 1 skipped");
  EXPECT_EQ(history_cells(r)[10], "-");
  const std::string report = service_report_text(r);
  EXPECT_NE(report.find("Serial number: 2130517\n"), std::string::npos);
  EXPECT_NE(report.find("Backup before the download: /home/me/Reg Downloads/2130517-before-"),
            std::string::npos);
}

struct ServiceLogTest : ::testing::Test {
  test::TempDir dir;
  sim::FakeClock clock;
  ServiceLog log{clock, dir / kServiceLogName};
};

// Damaged lines are counted and passed over; the filter takes one controller
// or a time on.
TEST_F(ServiceLogTest, ReaderSkipsDamagedLinesAndFilters) {
  EXPECT_TRUE(read_service_log(log.file()).missing);
  ServiceRecord a = flash_record();
  ServiceRecord b = flash_record();
  b.serial_number = "2130999";
  b.start.day = 9;
  const std::string good_a = service_record_json(a);
  test::write_file(
      log.file(),
      good_a + "\n" + good_a.substr(0, 80) + "\n{\"start\":\"x\"}\n\n" + service_record_json(b) +
          "\r\n" + "{\"start\":\"2026-12-07T14:03:59Z\",\"job\":\"save\",\"ending\":1}\n" +
          "{\"start\":\"2026-12-07T14:03:59Z\",\"job\":\"s\x01\",\"ending\":\"x\"}\n" + good_a);
  const ServiceLogEntries all = read_service_log(log.file());
  EXPECT_EQ(all.records.size(), 3U);
  EXPECT_EQ(all.damaged, 4U);
  EXPECT_FALSE(all.missing);

  EXPECT_EQ(read_service_log(log.file(), {"2130999", std::nullopt}).records.size(), 1U);
  const auto since = parse_since("2026-12-08");
  ASSERT_TRUE(since);
  const auto later = read_service_log(log.file(), {std::nullopt, since});
  ASSERT_EQ(later.records.size(), 1U);
  EXPECT_EQ(later.records[0].serial_number, "2130999");
  EXPECT_EQ(parse_since("2026-12-07 14:04")->minute, 4);
  EXPECT_FALSE(parse_since("2026-13-07") || parse_since("07.12.2026") ||
               parse_since("2026-12-07x"));
}

// One whole line a job, after a line an earlier writer left cut short too;
// a log that cannot be written says why.
TEST_F(ServiceLogTest, FinishAppendsWholeLines) {
  ServiceRecord r = log.begin("save", "/dev/ttyUSB1");
  EXPECT_EQ(r.version, kVersionText);
  clock.set_local_time({2026, 12, 7, 15, 0, 0, 60});
  r.set_outcome(Outcome(Ending::Completed));
  EXPECT_EQ(log.finish(r), "");
  test::write_file(log.file(), test::read_file(log.file()) + "{\"start\":\"2026-");
  EXPECT_EQ(log.finish(r), "");
  const auto entries = read_service_log(log.file());
  ASSERT_EQ(entries.records.size(), 2U);
  EXPECT_EQ(entries.damaged, 1U);
  EXPECT_EQ(iso_time_text(entries.records[1].start), "2025-03-03T14:05:09+01:00");
  EXPECT_EQ(iso_time_text(entries.records[1].end), "2026-12-07T15:00:00+01:00");

  ServiceLog nowhere(clock, dir / "missing" / kServiceLogName);
  EXPECT_NE(nowhere.finish(r).find("cannot be written"), std::string::npos);
}

// Writers at the same time never split each other's lines.
TEST_F(ServiceLogTest, ConcurrentWritersKeepLinesWhole) {
  const auto writer = [this](const std::string& station) {
    sim::FakeClock own;
    ServiceLog mine(own, log.file());
    for (int i = 0; i < 100; ++i) {
      ServiceRecord r = mine.begin("identify", station);
      r.ending = "completed";
      ASSERT_EQ(mine.finish(r), "");
    }
  };
  std::thread one(writer, std::string(6000, '1'));
  std::thread two(writer, std::string(6000, '2'));
  one.join();
  two.join();
  const auto entries = read_service_log(log.file());
  EXPECT_EQ(entries.records.size(), 200U);
  EXPECT_EQ(entries.damaged, 0U);
}

TEST(DescribeFileTest, SizeAndDigest) {
  test::TempDir dir;
  test::write_file(dir / "f.S19", "abc");
  const ServiceFile f = describe_file(dir / "f.S19");
  EXPECT_EQ(f.size, 3U);
  EXPECT_EQ(f.sha256, sha256_hex("abc"));
  const ServiceFile missing = describe_file(dir / "none.S19");
  EXPECT_EQ(missing.path, (dir / "none.S19").string());
  EXPECT_FALSE(missing.size || missing.sha256);
}

}  // namespace
}  // namespace r7
