// r7flash-cli's serial commands as a user runs them: slots, exchange and its
// exit statuses, and --simulate on the built-in controller.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>

#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

struct CliSerial : ::testing::Test {
  test::TempDir home;

  test::ProcessResult cli(std::vector<std::string> args) {
    std::vector<std::string> argv = {R7_CLI_PATH, "--home", home.path().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::run_process(argv, 20s, home.path().string());
  }
};

TEST_F(CliSerial, SlotsListsEachDefinedSlotWithItsDeviceSettingsAndWait) {
  test::write_file(home / "VARNEL FLASH R7.INI",
                   "[COMMS CONTROLS]\n"
                   "DEVICE 0 COMM PORT =1\nDEVICE 0 PORT SETTING =300,N,8,1\n"
                   "DEVICE 1 COMM PORT =7\n"
                   "DEVICE 2 COMM PORT =2\nDEVICE 2 PORT SETTING =38400,n,8,1\n"
                   "[PORT NAMES]\nPORT 2=/dev/ttyUSB0\n");
  const auto r = cli({"slots"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("[] Port number is not valid in sub init_comms\n"));
  EXPECT_THAT(r.out, ::testing::ContainsRegex("0 +Full Protocol +1 +/dev/ttyS0 +300,N,8,1 +33 ms"));
  EXPECT_THAT(r.out,
              ::testing::ContainsRegex("2 +Xon Protocol +2 +/dev/ttyUSB0 +38400,n,8,1 +1 ms"));
  EXPECT_THAT(r.out, ::testing::Not(HasSubstr("Modbus Protocol")));

  const auto overridden = cli({"--port", "/dev/pts/99", "slots"});
  EXPECT_THAT(overridden.out, ::testing::ContainsRegex("2 +Xon Protocol +2 +/dev/pts/99 "));
}

TEST_F(CliSerial, AnExchangeOnAPortThatCannotBeOpenedExitsWithSix) {
  const auto r = cli({"--port", "/dev/r7-no-such-port", "exchange", "0", "010300000001840A"});
  EXPECT_EQ(r.exit_code, 6);
  EXPECT_EQ(r.out, "[WARNING] Cannot open comm port #2, it is not available\n\n");
  EXPECT_THAT(test::read_file(home / "Flash.ERR"), HasSubstr(", open_port, ERROR #,  68 \r\n"));
}

TEST_F(CliSerial, BadHexIsAUsageError) {
  const auto r = cli({"exchange", "1", "0103F"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.err, HasSubstr("HEX must be pairs of hex digits"));
}

// A directory as the trace is a usage error; a directory, a pipe or no name
// to check is a file error. Each is said at once and nothing waits.
TEST_F(CliSerial, TraceAndCheckRefuseWhatIsNotAFile) {
  const auto trace = cli({"--simulate", "--trace", home.path().string(), "read", "0"});
  EXPECT_EQ(trace.exit_code, 1);
  EXPECT_THAT(trace.err, HasSubstr("is a directory, not a file"));
  ASSERT_EQ(mkfifo((home / "pipe").c_str(), 0600), 0);
  const std::pair<std::string, const char*> files[] = {
      {home.path().string(), "is not a regular file (it is a directory)"},
      {(home / "pipe").string(), "is not a regular file (it is a pipe)"},
      {"", "no file name given"},
  };
  for (const auto& [file, says] : files) {
    const auto check = cli({"check", file});
    EXPECT_EQ(check.exit_code, 3) << file;
    EXPECT_THAT(check.err, HasSubstr(says));
  }
}

TEST_F(CliSerial, SimulateTalksToTheBuiltInController) {
  const auto read = cli({"--simulate", "read", "0"});
  EXPECT_EQ(read.exit_code, 0) << read.err;
  EXPECT_THAT(read.out, HasSubstr("register 0: 6180"));

  const auto model = cli({"read", "0", "--simulate=6170"});
  EXPECT_THAT(model.out, HasSubstr("register 0: 6170"));

  const auto slots = cli({"--simulate", "slots"});
  EXPECT_THAT(slots.out,
              ::testing::ContainsRegex("0 +Full Protocol +2 +simulated controller 6180"));

  const auto refused = cli({"--simulate", "write", "0", "1"});  // the model number is read-only
  EXPECT_EQ(refused.exit_code, 5);
}

}  // namespace
}  // namespace r7
