// r7flash-cli against r7sim on a pseudo-terminal through the real serial port:
// a whole firmware download, and the controller on its new software after it.
#include <gtest/gtest.h>

#include <chrono>

#include "sim/sample_files.h"
#include "support/demo_program_dir.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

#ifdef R7_CLI_EXE

namespace r7::test {
namespace {

using namespace std::chrono_literals;

struct CliFlash : ::testing::Test {
  TempDir home;
  std::unique_ptr<Process> sim;
  std::string link = (home / "r7").string();

  void SetUp() override {
    write_demo_program_dir(home.path());
    // A small firmware image (the field at 010000: device code 52374142,
    // software 0003), so the download through the pty stays short.
    std::string text = sim::srecord_line('0', 0, 2, "small") + "\r\n";
    std::string data(32, '\0');
    for (std::uint32_t a = 0x010000; a < 0x010400; a += 32) {
      for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((a + i) * 7);
      if (a == 0x010000) data.replace(0, 6, std::string("\x52\x37\x41\x42\x00\x03", 6));
      text += sim::srecord_line('2', a, 3, data) + "\r\n";
    }
    text += sim::srecord_line('8', 0, 3, "") + "\r\n";
    write_file(home / "731-0000.S19", text);

    sim = std::make_unique<Process>(R7SIM_EXE, std::vector<std::string>{"--link", link});
    ASSERT_FALSE(sim->read_line(10000).empty()) << "r7sim did not start";
  }

  ProcessResult cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {R7_CLI_EXE, "--home", home.path().string(), "--port", link};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, 120s, home.path().string());
  }
};

TEST_F(CliFlash, FlashThroughThePseudoTerminalLogsEveryStepAndTheNewSoftwareRuns) {
  ASSERT_EQ(cli({"read", "3"}).exit_code, 0);
  const ProcessResult r = cli({"--yes", "flash"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  const std::string app = (home / "Dnld_R7.s19").string();
  const std::string firmware = (home / "731-0000.S19").string();
  EXPECT_EQ(r.out,
            "> Check of device type\n< Successful\n"
            "> Get software revision\n< Successful\n"
            "> Get software number\n< Successful\n"
            "> Goto Download Mode\n< Successful\n"
            "Warning: Download in process do NOT cycle power\n"
            "> Pausing\n< Successful\n"
            "> File Transfer of " +
                app +
                "\n< Successful\n"
                "> Download completed\n< Successful\n"
                "> Execute download app\n< Successful\n"
                "> Erase Sectors (chip)\n< Successful\n"
                "> File Transferred " +
                firmware +
                "\n< Successful\n"
                "> Download completed \n< Successful\n"
                "[Download Completed] Please cycle Device Power.\n");
  // The first request after the download finds the controller on its new software.
  const ProcessResult after = cli({"read", "3"});
  EXPECT_EQ(after.exit_code, 0) << after.err;
  EXPECT_NE(after.out.find("register 3: 3"), std::string::npos) << after.out;
}

TEST_F(CliFlash, IdentifyAndCheckNeedNoDownloadMode) {
  const ProcessResult id = cli({"identify"});
  EXPECT_EQ(id.exit_code, 0) << id.err;
  EXPECT_NE(id.out.find("Device type: 6180"), std::string::npos);
  EXPECT_NE(id.out.find("Selection: 1"), std::string::npos);
  const ProcessResult check = cli({"check", (home / "731-0000.S19").string()});
  EXPECT_EQ(check.exit_code, 0);
  EXPECT_NE(check.out.find("Software-number field: 523741420003"), std::string::npos);
}

}  // namespace
}  // namespace r7::test

#endif
