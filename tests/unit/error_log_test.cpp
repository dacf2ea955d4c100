#include "base/error_log.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "base/error_messages.h"
#include "base/run_error.h"
#include "serial/trace.h"
#include "sim/fake_clock.h"
#include "support/recording_prompts.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

struct ErrorLogTest : ::testing::Test {
  test::TempDir dir;
  test::RecordingPrompts prompts;
  sim::FakeClock clock;
  ErrorLog log{clock, dir / "Flash.ERR"};
};

// Appended lines of a fixed layout, signed 16-bit numbers with a blank for
// the sign; a log that cannot be written loses its line silently.
TEST_F(ErrorLogTest, LogLinesAreAppendedInTheirFixedLayout) {
  test::write_file(dir / "Flash.ERR", "old line\r\n");
  log.log_error("transmit", 57);
  clock.set_local_time({2026, 12, 6, 9, 3, 0});
  log.log_error("open_port", -5);
  log.log_error("transmit", 65536 + 68);
  EXPECT_EQ(test::read_file(dir / "Flash.ERR"),
            "old line\r\n03-03-2025, 14:05:09, transmit, ERROR #,  57 \r\n"
            "12-06-2026, 09:03:00, open_port, ERROR #, -5 \r\n"
            "12-06-2026, 09:03:00, transmit, ERROR #,  68 \r\n");

  ErrorLog nowhere(clock, dir / "missing-folder" / "Flash.ERR");
  nowhere.log_error("transmit", 57);
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "missing-folder"));
}

// Listed numbers show their message in a box titled by the number (62: TransmitTest),
// with the file when one is named; others end the program.
TEST_F(ErrorLogTest, ListedNumbersShowTheirMessageOthersEndTheProgram) {
  show_error_message(prompts, 53, "731-0000.S19");
  ASSERT_EQ(prompts.boxes.size(), 1U);
  EXPECT_EQ(prompts.boxes[0].title, "Error 53");
  EXPECT_EQ(prompts.boxes[0].icon, Icon::Critical);
  EXPECT_EQ(prompts.boxes[0].buttons, Buttons::Ok);
  EXPECT_EQ(prompts.boxes[0].text,
            "FILE NOT FOUND ERROR INSTALL DISK WITH FILE 731-0000.S19 INTO DRIVE A");
  for (int n : {57, 0, -1}) {
    EXPECT_THROW(show_error_message(prompts, n), ProgramEnd) << n;
    EXPECT_EQ(prompts.texts().back(),
              "ERROR NUMBER " + std::to_string(n) + " CHECK VB MANUAL FOR DESCRIPTION");
  }
}

// Stations of one run each have their own error log and trace on the same
// files: no line lands inside another.
TEST_F(ErrorLogTest, LinesOfWritersOnSeveralThreadsStayWhole) {
  constexpr int kWriters = 4;
  constexpr int kLines = 300;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([this, w] {
      sim::FakeClock own_clock;
      ErrorLog own(own_clock, dir / "Flash.ERR");
      FileTrace trace(dir / "trace.txt", own_clock);
      const std::string device = "/dev/ttyUSB" + std::to_string(w);
      for (int i = 0; i < kLines; ++i) {
        own.log_error("transmit_" + device, 57);
        trace.record(1, device, true, std::string(40, static_cast<char>(w)), 0);
      }
    });
  }
  for (std::thread& t : writers)
    t.join();
  // Each writer's lines are all alike: count the lines that are exactly one.
  sim::FakeClock same_clock;
  ErrorLog format(same_clock, dir / "unused");
  FileTrace trace_format(dir / "unused", same_clock);
  std::map<std::string, int> expected;
  for (int w = 0; w < kWriters; ++w) {
    const std::string device = "/dev/ttyUSB" + std::to_string(w);
    expected[format.format_line("transmit_" + device, 57) + "\r"] = 0;
    expected[trace_format.format_line(1, device, true, std::string(40, static_cast<char>(w)), 0)] =
        0;
  }
  for (const char* file : {"Flash.ERR", "trace.txt"}) {
    std::istringstream lines(test::read_file(dir / file));
    for (std::string line; std::getline(lines, line);)
      ++expected[line];
  }
  EXPECT_EQ(expected.size(), 2U * kWriters);  // no line of any other shape
  for (const auto& [line, count] : expected)
    EXPECT_EQ(count, kLines) << line;
}

}  // namespace
}  // namespace r7
