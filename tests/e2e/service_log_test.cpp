// The service log through r7flash-cli: jobs on r7sim's pseudo-terminal and on
// the built-in simulated controller, both serial number 2130517, found again
// with `history --serial`; the files named with their digests, the backup of
// the download, a damaged line counted, a log that cannot be written only
// warned about.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/sha256.h"
#include "support/demo_program_dir.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

#ifdef R7_CLI_EXE

namespace r7::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Json = nlohmann::json;

struct CliServiceLog : ::testing::Test {
  TempDir home;
  std::string link = (home / "r7").string();

  void SetUp() override { write_demo_program_dir(home.path()); }
  ProcessResult cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {R7_CLI_EXE, "--home", home.path().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, 120s, home.path().string());
  }
  std::vector<Json> history_json(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"--json", "history"};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult r = cli(argv);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<Json> records;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      const Json j = Json::parse(line);
      if (j["type"] == "record") records.push_back(j);
    }
    return records;
  }
};

TEST_F(CliServiceLog, EveryJobOnAControllerIsFoundByItsSerialNumber) {
  {
    Process sim(R7SIM_EXE, {"--link", link, "--serial", "21", "30517"});
    ASSERT_FALSE(sim.read_line(10000).empty()) << "r7sim did not start";
    ASSERT_EQ(cli({"--port", link, "identify"}).exit_code, 0);
    ASSERT_EQ(cli({"--port", link, "--yes", "--quiet", "save"}).exit_code, 0);
    ASSERT_EQ(cli({"--port", link, "compare", "Reg Downloads/2130517.txt"}).exit_code, 0);
  }
  ASSERT_EQ(cli({"--simulate", "--yes", "--quiet", "flash"}).exit_code, 0);
  EXPECT_EQ(cli({"--port", link, "identify"}).exit_code, 6);  // r7sim has gone

  const ProcessResult table = cli({"history", "--serial", "2130517"});
  ASSERT_EQ(table.exit_code, 0) << table.err;
  EXPECT_EQ(table.out.rfind("Start  ", 0), 0U) << table.out;
  EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 5) << table.out;
  for (const char* part : {"identify  6180   2130517  ", "  2130517.txt  ", "  compare  ",
                           "simulated controller 6180  flash  ", "  731-0000.S19  completed  "})
    EXPECT_NE(table.out.find(part), std::string::npos) << part << "\n" << table.out;

  const auto all = history_json({});
  ASSERT_EQ(all.size(), 5U);
  EXPECT_EQ(all[4]["station"], link);
  EXPECT_TRUE(all[4]["serial_number"].is_null());
  EXPECT_EQ(all[4]["exit_status"], 6);
  const Json& save = all[1];
  const fs::path saved = home / "Reg Downloads" / "2130517.txt";
  EXPECT_EQ(save["file"], saved.string());
  EXPECT_EQ(save["file_sha256"], sha256_hex(read_file(saved)));
  const Json& flash = all[3];
  EXPECT_EQ(flash["file_sha256"], sha256_hex(read_file(home / "731-0000.S19")));
  EXPECT_EQ(flash["software_number"], 2);
  const fs::path backup = flash["backup_file"].get<std::string>();
  EXPECT_TRUE(fs::exists(backup));
  EXPECT_EQ(backup.filename().string().rfind("2130517-before-", 0), 0U);

  {
    // The file compared with another controller: the log names that one, not
    // the one the file was saved from.
    const std::string other_link = (home / "r7-other").string();
    Process other(R7SIM_EXE, {"--link", other_link, "--serial", "21", "30999"});
    ASSERT_FALSE(other.read_line(10000).empty()) << "r7sim did not start";
    cli({"--port", other_link, "compare", "Reg Downloads/2130517.txt"});
  }
  const auto other = history_json({"--serial", "2130999"});
  ASSERT_EQ(other.size(), 1U);
  EXPECT_EQ(other[0]["job"], "compare");
  EXPECT_EQ(other[0]["file"], saved.string());

  // A damaged line is counted, not listed; the date filter and its refusal.
  write_file(home / "service-log.jsonl",
             read_file(home / "service-log.jsonl") + "{\"start\":\"2026-1\n");
  const ProcessResult damaged = cli({"history"});
  EXPECT_EQ(damaged.exit_code, 0);
  EXPECT_NE(damaged.err.find("history: 1 damaged line(s) of "), std::string::npos) << damaged.err;
  EXPECT_EQ(history_json({"--since", "2999-01-01"}).size(), 0U);
  EXPECT_EQ(history_json({"--since", "2000-01-01 00:00"}).size(), 6U);
  EXPECT_EQ(cli({"history", "--since", "yesterday"}).exit_code, 1);

  // A log that cannot be written is a warning; the job keeps its own status.
  fs::remove(home / "service-log.jsonl");
  fs::create_directory(home / "service-log.jsonl");
  const ProcessResult unlogged = cli({"--simulate", "identify"});
  EXPECT_EQ(unlogged.exit_code, 0);
  EXPECT_NE(unlogged.err.find("warning: the service log "), std::string::npos) << unlogged.err;
}

}  // namespace
}  // namespace r7::test

#endif  // R7_CLI_EXE
