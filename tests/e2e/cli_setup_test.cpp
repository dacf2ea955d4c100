// r7flash-cli save, compare and restore against r7sim on a pseudo-terminal through the
// real serial port, with the controller's state kept in a state file. The line
// echoes every byte sent, as a 2-wire RS-485 adapter does (the fault matrix
// runs every job on a direct line).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "support/demo_program_dir.h"
#include "support/setup_fixture.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

#ifdef R7_CLI_EXE

namespace r7::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct CliSetup : ::testing::Test {
  TempDir home;
  std::unique_ptr<Process> sim;
  std::string link = (home / "r7").string();
  fs::path state = home / "state.json";

  void SetUp() override {
    write_demo_program_dir(home.path());
    start_sim();
  }
  // r7sim on the state file (a stopped one saves its controller there first).
  void start_sim() {
    sim.reset();
    sim = std::make_unique<Process>(
        R7SIM_EXE, std::vector<std::string>{"--link", link, "--state", state, "--echo"});
    ASSERT_FALSE(sim->read_line(10000).empty()) << "r7sim did not start";
  }

  ProcessResult cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {R7_CLI_EXE, "--home", home.path().string(), "--port", link};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, 90s, home.path().string());
  }
};

TEST_F(CliSetup, SaveChangeRestoreAndSaveAgainGiveTheSameDataLines) {
  // Register 110 holds any 16-bit word: values once taken for failures read
  // and write as they are, and the last one goes through the round trip.
  for (const char* value : {"-32100", "-32200", "31000", "-32002", "-30000"}) {
    ASSERT_EQ(cli({"write", "110", value}).exit_code, 0) << value;
    const ProcessResult read = cli({"read", "110"});
    EXPECT_EQ(read.exit_code, 0) << read.err;
    EXPECT_TRUE(contains(read.out, std::string("register 110: ") + value + "\n")) << read.out;
  }
  const fs::path first = home / "first.txt";
  const fs::path trace = home / "trace.txt";
  const ProcessResult save = cli({"--yes", "--trace", trace.string(), "save", first.string()});
  ASSERT_EQ(save.exit_code, 0) << save.out << save.err;
  EXPECT_TRUE(contains(read_file(trace), " ECHO 01 03 00 00 00 01 84 0A "));
  EXPECT_EQ(save.out.rfind("******Beginning  Download******\n", 0), 0U) << save.out;
  EXPECT_TRUE(contains(save.out,
                       "[Download Complete] Downloading Process Complete. | 3 register "
                       "read(s) refused by the controller, not in the file: 118 919 "
                       "1099\n"))
      << save.out;
  EXPECT_TRUE(contains(save.out, "Setup file: " + first.string()));
  const auto saved = file_lines(read_file(first), 8);
  ASSERT_GT(saved.size(), 100U);
  EXPECT_NE(std::find(saved.begin(), saved.end(), "110 -30000"), saved.end());
  EXPECT_EQ(saved.back(), "25 0");

  // The controller holds the file's setup until one register changes.
  const ProcessResult equal = cli({"--quiet", "compare", first.string()});
  EXPECT_EQ(equal.exit_code, 0) << equal.out << equal.err;
  EXPECT_EQ(equal.out, "No differences.\n");
  ASSERT_EQ(cli({"write", "100", "0"}).exit_code, 0);
  ASSERT_EQ(cli({"read", "100"}).exit_code, 0);
  const ProcessResult differ = cli({"compare", first.string()});
  EXPECT_EQ(differ.exit_code, 7) << differ.out << differ.err;
  EXPECT_TRUE(contains(differ.out,
                       "\nWhat      Register  Name           File  Controller\n"
                       "Register  100       Display units  1     0\n1 difference(s).\n"))
      << differ.out;

  const ProcessResult restore = cli({"--yes", "restore", first.string()});
  ASSERT_EQ(restore.exit_code, 0) << restore.out << restore.err;
  EXPECT_EQ(restore.out.rfind("[Erase Current Settings] This erase all current settings. Do you "
                              "want to continue? -> Yes\n"
                              "******Erasing Old Settings******\n",
                              0),
            0U)
      << restore.out;
  EXPECT_TRUE(
      contains(restore.out,
               "\n*******Upload Complete*******\n[Upload Complete] Upload Complete | Verified: the "
               "controller holds the file's setup.\n"));
  EXPECT_FALSE(fs::exists(home / "Reg Downloads" / "6180_Upload_Error.TXT"));

  // A new r7sim from the state file holds the restored setup. The default
  // name: the serial number in "Reg Downloads".
  start_sim();
  const ProcessResult again = cli({"--yes", "--quiet", "save"});
  ASSERT_EQ(again.exit_code, 0) << again.out << again.err;
  EXPECT_FALSE(contains(again.out, "Successful"));
  EXPECT_EQ(file_lines(read_file(home / "Reg Downloads" / "2130517.txt"), 8), saved);
}

}  // namespace
}  // namespace r7::test

#endif
