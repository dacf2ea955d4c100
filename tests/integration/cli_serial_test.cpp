// r7flash-cli's serial commands as a user runs them, on --simulate and against a
// Modbus RTU server that nobody here wrote (libmodbus on one end of a socat
// pseudo-terminal pair, the program on the other through the Qt serial port).
#include <errno.h>
#include <modbus.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "modbus/modbus.h"
#include "serial/comms.h"
#include "setup/setup_file.h"
#include "support/demo_program_dir.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

// A run's arguments, exit status, standard output (a pattern), standard error (a part).
struct CliRun {
  std::vector<std::string> args;
  int exit_code;
  std::string out, err;
};

struct CliSerial : ::testing::Test {
  test::TempDir home;
  test::TempDir cwd;                // where the program is started: it writes nothing here
  std::vector<std::string> prefix;  // before the arguments of every run

  test::ProcessResult cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {R7_CLI_PATH, "--home", home.path().string()};
    argv.insert(argv.end(), prefix.begin(), prefix.end());
    argv.insert(argv.end(), args.begin(), args.end());
    return test::run_process(argv, 20s, cwd.path().string());
  }
  void expect(const std::vector<CliRun>& runs) {
    for (const CliRun& run : runs) {
      const auto r = cli(run.args);
      SCOPED_TRACE(::testing::PrintToString(run.args));
      EXPECT_EQ(r.exit_code, run.exit_code) << r.err;
      EXPECT_THAT(r.out, ::testing::ContainsRegex(run.out));
      EXPECT_THAT(r.err, HasSubstr(run.err));
    }
  }
};

TEST_F(CliSerial, SlotsListsEachSlotWithItsDeviceSettingsAndWait) {
  test::write_file(home / "VARNEL FLASH R7.INI",
                   "[COMMS CONTROLS]\n"
                   "DEVICE 0 COMM PORT =1\nDEVICE 0 PORT SETTING =300,N,8,1\n"
                   "DEVICE 1 COMM PORT =7\n"
                   "DEVICE 2 COMM PORT =2\nDEVICE 2 PORT SETTING =38400,n,8,1\n"
                   "[PORT NAMES]\nPORT 2=/dev/ttyUSB0\n");
  // Slot 1's port is not valid: it is said and listed as not defined.
  expect({{{"slots"},
           0,
           "^\\[Port Settings\\] Port number is not valid in sub init_comms\n"
           "Program directory: [^\n]* \\(--home\\)\n[^\n]*\n"
           "0 +Full Protocol +1 +/dev/ttyS0 +300,N,8,1 +33 ms\n"
           "1 +Modbus Protocol +- +\\(not defined: its exchanges use slot 0\\)\n"
           "2 +Xon Protocol +2 +/dev/ttyUSB0 +38400,n,8,1 +1 ms\n$",
           ""}});
}

TEST_F(CliSerial, ExitStatusesAndWhatTheySay) {
  ASSERT_EQ(mkfifo((home / "pipe").c_str(), 0600), 0);
  const std::string dir = home.path().string();
  expect({
      {{"--port", "/dev/r7-no-such-port", "exchange", "0", "010300000001840A"},
       6,
       "^\\[WARNING\\] Cannot open comm port #2, it is not available \\| There is no device "
       "/dev/r7-no-such-port\\. Serial devices here: [^\n]*\\.\n\n$",
       ""},
      // A device server's address: a refused connection names host and port;
      // a download over raw TCP is refused before anything is sent.
      {{"--port", "rfc2217://127.0.0.1:1", "identify"},
       6,
       "\\[WARNING\\] Cannot open comm port #2, it is not available \\| 127\\.0\\.0\\.1:1 "
       "refused the connection \\(rfc2217://127\\.0\\.0\\.1:1\\)",
       ""},
      {{"--port", "socket://127.0.0.1:1", "--yes", "flash"},
       1,
       "Connect through the server's RFC 2217 port instead: rfc2217://127\\.0\\.0\\.1:PORT\\. "
       "Nothing was sent\\.\n",
       ""},
      {{"exchange", "1", "0103F"}, 1, "", "HEX must be pairs of hex digits"},
      // A directory as the trace is a usage error; a directory, a pipe or no
      // name to check is a file error. Each is said at once and nothing waits.
      {{"--simulate", "--trace", dir, "read", "0"}, 1, "", "is a directory, not a file"},
      {{"check", dir}, 3, "", "is not a regular file (it is a directory)"},
      {{"check", (home / "pipe").string()}, 3, "", "is not a regular file (it is a pipe)"},
      {{"check", ""}, 3, "", "no file name given"},
      {{"--simulate", "--yes", "save", ""}, 3, "", "no file name given"},
      {{"--simulate", "--yes", "restore", (home / "pipe").string()}, 3, "", "(it is a pipe)"},
      // --simulate talks to the built-in controller.
      {{"--simulate", "read", "0"}, 0, "register 0: 6180", ""},
      {{"read", "0", "--simulate=6170"}, 0, "register 0: 6170", ""},
      {{"--simulate", "slots"}, 0, "0 +Full Protocol +2 +simulated controller 6180", ""},
      {{"--simulate", "write", "0", "1"}, 5, "", "exception 2"},  // the model is read-only
  });
  // After a port that never opened, nobody is blamed for not answering.
  EXPECT_EQ(cli({"--port", "/dev/r7-no-such-port", "identify"}).err, "");
  // The error log is the program directory's, wherever the program started.
  EXPECT_THAT(test::read_file(home / "Flash.ERR"), HasSubstr(", open_port, ERROR #,  68 \r\n"));
  EXPECT_TRUE(fs::is_empty(cwd.path()));
}

// Identify, check and flash on --simulate: the histories as the window shows
// them, the setup saved before download mode. Through r7sim: the fault matrix.
TEST_F(CliSerial, IdentifyCheckAndFlashTheSimulatedController) {
  test::write_demo_program_dir(home.path());
  const std::string ok = "\n< Successful\n> ";
  expect({
      {{"--simulate", "identify"},
       0,
       "Device type: 6180\nRevision: 1850\nSoftware number: 2 \\(hex 0002\\)\nSerial number: "
       "2130517\n",
       ""},
      {{"check", (home / "731-0000.S19").string()}, 0, "Software-number field: 523741420003", ""},
      {{"--simulate", "--yes", "flash"},
       0,
       "^> Check of device type" + ok + "Get software revision" + ok + "Get software number" + ok +
           "Save setup to 2130517-before-[0-9_-]+\\.txt\n< Successful, 3 values refused\n> " +
           "Goto Download Mode\n< Successful\n" +
           "Warning: Download in process do NOT cycle power\n> Pausing" + ok +
           "File Transfer of .*/Dnld_R7\\.s19" + ok + "Download completed" + ok +
           "Execute download app" + ok + "Erase Sectors \\(chip\\)" + ok +
           "File Transferred .*/731-0000\\.S19" + ok + "Download completed \n< Successful\n" +
           "\\[Download Completed\\] Please cycle Device Power\\.\n$",
       ""},
  });
  EXPECT_EQ(std::distance(fs::directory_iterator(home / "Reg Downloads"), {}), 1);

  // A firmware file with a damaged line: --yes does not send it, --force would.
  std::string image = test::read_file(home / "731-0000.S19");
  image[image.find("\nS2") + 8] = 'G';
  test::write_file(home / "broken.S19", image);
  expect({{{"--simulate", "--yes", "flash", (home / "broken.S19").string()},
           3,
           "The download is not started\\.\n",
           ""},
          // In JSON a box's lines end with LF alone.
          {{"--json", "--simulate", "--yes", "flash", (home / "broken.S19").string()},
           3,
           "\"text\":\"The firmware file [^\"\\\\]*broken.S19 has errors:\\\\nLine ",
           ""}});
}

// The setup commands' exit statuses: declined, silent (nothing answers at
// address 7), and files missing or unusable. The jobs themselves: tests/e2e.
TEST_F(CliSerial, SetupExitStatusesOfDeclinedSilentAndMissing) {
  test::write_demo_program_dir(home.path());
  prefix = {"--simulate"};
  const std::string kept = (home / "kept.txt").string();
  test::write_file(kept, "mine\n");
  std::string minimal;
  for (const std::string& l : setup_header_lines({"6180", "21", "30517", "2", "1850", {}}))
    minimal += l + "\r\n";
  test::write_file(home / "minimal.txt", minimal + "25 0\r\n");
  expect({
      {{"--no", "save", kept}, 4, "", ""},
      {{"--address", "7", "save", kept},
       2,
       "\\[Communication Error\\] Download has been canceled\\. Need to check Comm Port "
       "Settings\\.\n",
       ""},
      {{"--yes", "restore", (home / "none.txt").string()}, 3, "^$", ""},
      {{"restore", (home / "minimal.txt").string()}, 4, "", ""},  // not a terminal: No
      // A file that is no setup file is refused before the question.
      {{"--yes", "restore", kept}, 3, "fewer than seven lines", ""},
  });
  EXPECT_EQ(test::read_file(kept), "mine\n");
  // With --yes a silent controller is retried three times, then given up.
  const auto retried = cli({"--yes", "--address", "7", "save", kept});
  EXPECT_EQ(retried.exit_code, 2) << retried.out;
  std::size_t questions = 0;
  for (std::size_t at = 0;
       (at = retried.out.find("[Communication Error] Comm Error!", at)) != std::string::npos; ++at)
    ++questions;
  EXPECT_EQ(questions, 4U) << retried.out;
  // A sequence file missing for the model.
  fs::remove(home / "Download Sequences" / "6180.cds");
  expect({{{"--yes", "save", (home / "x.txt").string()}, 3, "", ""}});
  EXPECT_FALSE(fs::exists(home / "x.txt"));
}

// libmodbus serving holding registers 0..9 (1111, 2222, ...; others answer
// exception 2) at address 1 on one end of a socat pseudo-terminal pair.
struct ModbusInterop : CliSerial {
  std::string server_end = (home / "server").string();
  std::string client_end = (home / "client").string();
  std::unique_ptr<test::Process> socat;
  modbus_t* ctx = nullptr;
  modbus_mapping_t* table = modbus_mapping_new_start_address(0, 0, 0, 0, 0, 10, 0, 0);
  std::atomic<bool> stop{false};
  std::thread server;

  void SetUp() override {
    if (std::system("command -v socat > /dev/null") != 0) GTEST_SKIP() << "socat is not installed";
    socat = std::make_unique<test::Process>(
        "socat", std::vector<std::string>{"pty,raw,echo=0,link=" + server_end,
                                          "pty,raw,echo=0,link=" + client_end});
    for (int i = 0; i < 250 && !(fs::exists(server_end) && fs::exists(client_end)); ++i)
      std::this_thread::sleep_for(20ms);
    for (int i = 0; i < 10; ++i)
      table->tab_registers[i] = static_cast<std::uint16_t>(1111 * (i + 1));
    ctx = modbus_new_rtu(server_end.c_str(), 9600, 'N', 8, 1);
    ASSERT_TRUE(ctx != nullptr && modbus_set_slave(ctx, 1) == 0 && modbus_connect(ctx) == 0)
        << "libmodbus could not serve " << server_end;
    modbus_set_indication_timeout(ctx, 0, 100000);  // so the loop sees the stop flag
    server = std::thread([this] {
      std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
      while (!stop) {
        const int rc = modbus_receive(ctx, query);
        if (rc > 0) {
          modbus_reply(ctx, query, rc, table);
        } else if (rc < 0 && errno != ETIMEDOUT) {
          modbus_flush(ctx);
        }
      }
    });
    prefix = {"--port", client_end};
    test::write_demo_program_dir(home.path());
  }
  void TearDown() override {
    stop = true;
    if (server.joinable()) server.join();
    if (ctx != nullptr) {
      modbus_close(ctx);
      modbus_free(ctx);
    }
    modbus_mapping_free(table);
  }
};

// In order: the writes land in the server's table and are read back from it.
TEST_F(ModbusInterop, ReadsWritesExceptionsAndARawExchangeWithItsTrace) {
  const std::string trace = (home / "trace.txt").string();
  const std::string reply = with_modbus_crc({1, 3, 2, 0x04, 0x57});  // 1111
  expect({
      {{"read", "0", "3"},
       0,
       "^1 3 6 1111 2222 3333 [0-9]+ \nregister 0: 1111\nregister 1: 2222\nregister 2: 3333\n$",
       ""},
      {{"write", "5", "-1234"}, 0, "^1 6 5 -1234 ", ""},
      {{"write", "9", "32767"}, 0, "^1 6 9 32767 ", ""},
      {{"read", "5"}, 0, "register 5: -1234\n", ""},
      {{"read", "9"}, 0, "register 9: 32767\n", ""},
      {{"read", "100"}, 5, "^1 131 -32002 ", "exception 2"},
      {{"write", "10", "7"}, 5, "^1 134 -32002 ", "exception 2"},
      {{"--address", "7", "read", "0"}, 2, "", "no reply from the controller at address 7"},
      {{"--trace", trace, "exchange", "1", "010300000001840A"},
       0,
       "^" + hex_bytes(reply, false) + "\n$",
       ""},
  });
  EXPECT_THAT(test::read_file(trace),
              ::testing::MatchesRegex(".* slot 1 " + client_end +
                                      " TX 01 03 00 00 00 01 84 0A [0-9]+ ms\n"
                                      ".* slot 1 " +
                                      client_end + " RX " + hex_bytes(reply) + " [0-9]+ ms\n"));
}

}  // namespace
}  // namespace r7
