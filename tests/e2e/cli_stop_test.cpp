// r7flash-cli stopped by SIGINT, SIGTERM and SIGHUP at a seeded random point
// of a save, a restore and a download against r7sim: the job ends between two
// exchanges with exit status 128 + N, says once what it left in the
// controller (checked against r7sim's state file), and leaves no temporary
// file. A second signal ends it at once.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "setup/setup_file.h"
#include "support/demo_program_dir.h"
#include "support/setup_fixture.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

#ifdef R7_CLI_EXE

namespace r7::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Json = nlohmann::json;

struct CliStop : ::testing::Test {
  TempDir home;
  std::unique_ptr<Process> sim;
  std::string link = (home / "r7").string();
  fs::path state = home / "state.json";
  fs::path setups = home / "Reg Downloads";
  std::mt19937 rng{20261208};

  void SetUp() override { write_demo_program_dir(home.path()); }
  void start_sim() {
    sim = std::make_unique<Process>(
        R7SIM_EXE, std::vector<std::string>{"--link", link, "--state", state.string(), "--pace",
                                            "--timing", "erase:300"});
    ASSERT_FALSE(sim->read_line(10000).empty()) << "r7sim did not start";
  }
  // What r7sim keeps, read after it stopped (it writes the state at its end).
  Json controller_state() {
    sim.reset();
    const Json j = Json::parse(read_file(state));
    start_sim();
    return j;
  }
  std::unique_ptr<Process> cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"--home", home.path().string(), "--port", link, "--yes"};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Process>(R7_CLI_EXE, argv, home.path().string(), true);
  }
  // Runs `args`, sends `signal` after a random time between the bounds (ms)
  // and returns what the program printed after it ended.
  ProcessResult stopped(const std::vector<std::string>& args, int signal, int from_ms, int to_ms) {
    auto p = cli(args);
    const int after = std::uniform_int_distribution<int>(from_ms, to_ms)(rng);
    std::this_thread::sleep_for(std::chrono::milliseconds(after));
    p->signal(signal);
    ProcessResult r = p->finish(60s);
    EXPECT_EQ(r.exit_code, 128 + signal) << "after " << after << " ms\n" << r.out << r.err;
    const auto at = r.out.find("[Stopped] Stopped by ");
    EXPECT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("[Stopped]", at + 1), std::string::npos) << r.out;
    for (const auto& entry : fs::directory_iterator(setups))
      EXPECT_EQ(entry.path().filename().string().find(".~"), std::string::npos) << entry.path();
    return r;
  }
};

TEST_F(CliStop, ASignalStopsEachJobBetweenTwoExchangesAndSaysWhatItLeft) {
  start_sim();
  const Json before = controller_state();
  const fs::path saved = home / "saved.txt";

  // A save changes nothing and writes no file.
  ProcessResult r = stopped({"save", saved.string()}, SIGINT, 300, 2500);
  EXPECT_NE(r.out.find("SIGINT between two exchanges. The save changed nothing"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(saved));
  const auto log = file_lines(read_file(home / "service-log.jsonl"));
  ASSERT_EQ(log.size(), 1U);
  EXPECT_EQ(Json::parse(log[0])["ending"], "stopped by SIGINT");
  EXPECT_EQ(Json::parse(log[0])["exit_status"], 130);
  Json now = controller_state();
  EXPECT_EQ(now["registers"], before["registers"]);
  EXPECT_EQ(now["profiles"], before["profiles"]);

  // A restore says how far it got.
  ASSERT_EQ(cli({"--quiet", "save", saved.string()})->finish(120s).exit_code, 0);
  r = stopped({"restore", saved.string()}, SIGTERM, 500, 6000);
  now = controller_state();
  if (r.out.find("The restore had not changed the controller yet.") != std::string::npos) {
    EXPECT_EQ(now["registers"], before["registers"]);
  } else {
    EXPECT_TRUE(r.out.find(" lines: the controller holds a partial setup. Restore the file "
                           "again.") != std::string::npos ||
                r.out.find("returned the controller to its defaults") != std::string::npos)
        << r.out;
    EXPECT_NE(now["registers"], before["registers"]);
  }

  // A download says whether the controller left its application, and how to finish.
  r = stopped({"flash", "--no-backup"}, SIGHUP, 2000, 25000);
  now = controller_state();
  if (r.out.find("still runs its application") != std::string::npos) {
    EXPECT_EQ(now["firmware"], before["firmware"]);
  } else {
    EXPECT_NE(r.out.find("may now answer only in its bootloader. To finish the download: "
                         "r7flash-cli --home "),
              std::string::npos)
        << r.out;
  }
}

// The first signal waits for the 13 s the controller takes to store its
// setup; a second one does not.
TEST_F(CliStop, ASecondSignalEndsAtOnce) {
  start_sim();
  std::string text;
  for (const auto& l : setup_header_lines({"6180", "21", "30517", "2", "1850", {2025, 3, 3}}))
    text += l + "\r\n";
  write_file(home / "short.txt", text + "100 1\r\n25 0\r\n");
  auto p = cli({"restore", "--no-verify", (home / "short.txt").string()});
  std::string line;
  while (line != "100 1 Successful" && !(line = p->read_line(20000)).empty()) {
  }
  ASSERT_EQ(line, "100 1 Successful");
  std::this_thread::sleep_for(1500ms);  // the first write of 25 is done: the wait runs
  const auto signalled = std::chrono::steady_clock::now();
  p->signal(SIGINT);
  std::this_thread::sleep_for(300ms);
  p->signal(SIGINT);
  const ProcessResult r = p->finish(30s);
  EXPECT_EQ(r.exit_code, 130) << r.out << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
  EXPECT_NE(r.err.find("stopped at once by a second signal"), std::string::npos) << r.out << r.err;
}

}  // namespace
}  // namespace r7::test

#endif
