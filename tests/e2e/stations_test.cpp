// Several stations in one r7flash-cli run: four r7sim controllers on their own
// pseudo-terminals flashed at once, two of them failing in their own ways
// without disturbing the others; a save of several controllers with the same
// serial number; what is refused before any port is opened.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "support/demo_program_dir.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

#ifdef R7_CLI_EXE

namespace r7::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Stations : ::testing::Test {
  TempDir home;

  void SetUp() override { write_demo_program_dir(home.path()); }
  ProcessResult cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {R7_CLI_EXE, "--home", home.path().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, 240s, home.path().string());
  }
  // The summary table's row of `station`, split at its blanks (the outcome
  // may hold several words: the exit status is the last cell).
  static std::vector<std::string> row(const std::string& out, const std::string& station) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::vector<std::string> cells;
      for (std::string w; words >> w;)
        cells.push_back(w);
      if (cells.size() >= 8 && cells[0] == station) return cells;
    }
    return {};
  }
};

// One hangs up its line after five exchanges, one answers only its
// bootloader (and no --model says which it is): both fail and are named as
// failed; the other two are flashed byte for byte; the exit status is the
// worst of the four.
TEST_F(Stations, FourFlashedAtOnceTwoFailWithoutDisturbingTheOthers) {
  const std::vector<std::vector<std::string>> extra = {
      {}, {}, {"--fault", "hangup:5"}, {"--stuck-in-bootloader"}};
  std::vector<std::unique_ptr<Process>> sims;
  std::vector<std::string> args = {"--yes"};
  for (std::size_t i = 0; i < extra.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    std::vector<std::string> a = {"--link",   (home / ("r" + n)).string(),
                                  "--state",  (home / ("r" + n + ".json")).string(),
                                  "--serial", "21",
                                  "30" + n,   "--timing",
                                  "erase:300"};
    a.insert(a.end(), extra[i].begin(), extra[i].end());
    sims.push_back(std::make_unique<Process>(R7SIM_EXE, a));
    ASSERT_EQ(sims.back()->read_line(10000).rfind("/dev/", 0), 0U);
    args.insert(args.end(), {"--port", (home / ("r" + n)).string()});
  }
  args.insert(args.end(), {"flash", "--no-backup"});
  const ProcessResult r = cli(args);

  const std::string image = s2_image_digest(home / "731-0000.S19");
  std::set<int> statuses;
  for (std::size_t i = 0; i < sims.size(); ++i) {
    const std::string station = (home / ("r" + std::to_string(i + 1))).string();
    const auto cells = row(r.out, station);
    ASSERT_GE(cells.size(), 8U) << station << "\n" << r.out << r.err;
    const int status = std::stoi(cells.back());
    statuses.insert(status);
    sims[i].reset();  // r7sim writes the flash image's digest into its state file
    const bool image_written = read_file(home / ("r" + std::to_string(i + 1) + ".json"))
                                   .find("\"flash_digest\": \"" + image) != std::string::npos;
    if (i < 2) {
      EXPECT_EQ(status, 0) << station << "\n" << r.out;
      EXPECT_EQ(cells[2], "21" + std::string("30") + std::to_string(i + 1));
      EXPECT_EQ(cells[4], "731-0000.S19");
      EXPECT_TRUE(image_written) << station;
    } else {
      EXPECT_NE(status, 0) << station << "\n" << r.out;
      EXPECT_FALSE(image_written) << station;
    }
  }
  EXPECT_EQ(std::stoi(row(r.out, home.path().string() + "/r4").back()), 2) << r.err;
  // The README's order, worst first.
  int worst = 0;
  for (const int status : {5, 6, 2, 3, 1, 7, 4}) {
    if (statuses.count(status) > 0) {
      worst = status;
      break;
    }
  }
  EXPECT_EQ(r.exit_code, worst) << r.out << r.err;
  // Every line of the stations is led by its station's name.
  std::istringstream lines(r.out.substr(0, r.out.find("Station ")));
  for (std::string line; std::getline(lines, line);)
    EXPECT_EQ(line.rfind(home.path().string() + "/r", 0), 0U) << line;
  EXPECT_NE(r.err.find("/r4: The controller does not answer over Modbus, but its bootloader"),
            std::string::npos)
      << r.err;
}

// Three controllers with the same serial number keep three files; every JSON
// object names its station and the last one sums up the run.
TEST_F(Stations, SaveOfSameSerialNumbersKeepsEveryFile) {
  const ProcessResult r = cli({"--simulate", "--json", "--yes", "--port", "A", "--port", "B",
                               "--port", "C", "save", (home / "Reg Downloads").string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(home / "Reg Downloads"))
    files.insert(entry.path().filename().string());
  ASSERT_EQ(files.size(), 3U);
  EXPECT_EQ(files.count("2130517.txt"), 1U);
  std::istringstream lines(r.out);
  std::vector<nlohmann::json> objects;
  for (std::string line; std::getline(lines, line);)
    objects.push_back(nlohmann::json::parse(line));
  ASSERT_GT(objects.size(), 3U);
  for (std::size_t i = 0; i + 1 < objects.size(); ++i)
    EXPECT_TRUE(objects[i].contains("station")) << objects[i];
  const nlohmann::json& summary = objects.back();
  EXPECT_EQ(summary["type"], "summary");
  ASSERT_EQ(summary["stations"].size(), 3U);
  std::set<std::string> saved;
  for (const auto& s : summary["stations"]) {
    EXPECT_EQ(s["exit_status"], 0);
    saved.insert(fs::path(s["file"].get<std::string>()).filename().string());
  }
  EXPECT_EQ(saved, files);
}

// Nothing is opened (and nothing logged) for a run that cannot go right:
// questions nobody could answer, one FILE for several controllers, a device
// named twice.
TEST_F(Stations, RefusedBeforeAnyPortIsOpened) {
  const std::vector<std::string> two = {"--port", "/dev/r7-none-1", "--port", "/dev/r7-none-2"};
  const auto with = [&two](std::vector<std::string> args) {
    args.insert(args.begin(), two.begin(), two.end());
    return args;
  };
  const ProcessResult unanswered = cli(with({"flash"}));
  EXPECT_EQ(unanswered.exit_code, 1);
  EXPECT_NE(unanswered.err.find("Give --yes or --no."), std::string::npos) << unanswered.err;
  const ProcessResult one_file = cli(with({"--yes", "save", "setup.txt"}));
  EXPECT_EQ(one_file.exit_code, 1);
  EXPECT_NE(one_file.err.find("FILE must name a folder"), std::string::npos) << one_file.err;
  const ProcessResult twice =
      cli({"--no", "--port", "/dev/r7-none-1", "--port", "/dev/r7-none-1", "identify"});
  EXPECT_EQ(twice.exit_code, 1);
  EXPECT_NE(twice.err.find("is given twice"), std::string::npos) << twice.err;
  const ProcessResult other = cli(with({"--yes", "read", "1"}));
  EXPECT_EQ(other.exit_code, 1);
  EXPECT_NE(other.err.find("run on several stations"), std::string::npos) << other.err;
  EXPECT_FALSE(fs::exists(home / "service-log.jsonl"));
  EXPECT_FALSE(fs::exists(home / "setup.txt"));
}

}  // namespace
}  // namespace r7::test

#endif
