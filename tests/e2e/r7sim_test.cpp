// r7sim as a process on a pseudo-terminal, with libmodbus as an outside
// Modbus RTU master; r7flash-cli recovering it from its bootloader through the
// real serial port (a whole flash: the fault matrix); and the demo program
// directory the build lays out.
#include <modbus.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "samples/sample_files.h"
#include "support/demo_program_dir.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace r7::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using ModbusPtr = std::unique_ptr<modbus_t, void (*)(modbus_t*)>;

class R7Sim : public ::testing::Test {
 protected:
  // Starts r7sim with `args` and --link.
  void launch(std::vector<std::string> args) {
    args.insert(args.end(), {"--link", link.string()});
    sim = std::make_unique<Process>(R7SIM_EXE, args);
    const std::string device = sim->read_line(10000);
    EXPECT_EQ(device.rfind("/dev/", 0), 0U) << device;
    EXPECT_EQ(fs::read_symlink(link).string(), device);
  }
  ModbusPtr connect(int slave = 1) {
    modbus_t* ctx = modbus_new_rtu(link.c_str(), 9600, 'N', 8, 1);
    modbus_set_slave(ctx, slave);
    modbus_set_response_timeout(ctx, 0, 500000);
    ModbusPtr mb(ctx, [](modbus_t* c) {
      modbus_close(c);
      modbus_free(c);
    });
    return modbus_connect(ctx) == 0 ? std::move(mb) : ModbusPtr(nullptr, nullptr);
  }

  TempDir dir;
  fs::path link = dir / "r7";
  std::unique_ptr<Process> sim;
  std::uint16_t v[5] = {};
};

// (cli_setup_test.cpp runs r7sim on its state file, stopped by SIGTERM.)
TEST_F(R7Sim, OptionsLibmodbusThroughTheLinkAPowerCycleAndTheEnd) {
  launch({"--model", "6170", "--serial", "12", "345", "--software", "26", "--revision", "2100",
          "--address", "7", "--defaults"});
  ModbusPtr mb = connect(7);
  ASSERT_TRUE(mb);
  ASSERT_EQ(modbus_read_registers(mb.get(), 0, 5, v), 5);
  EXPECT_EQ(std::vector<int>(v, v + 5), (std::vector<int>{6170, 12, 345, 26, 2100}));
  ASSERT_EQ(modbus_read_registers(mb.get(), 1300, 1, v), 1);
  EXPECT_EQ(v[0], 0);  // at its defaults
  ASSERT_EQ(modbus_write_register(mb.get(), 102, 9), 1);
  EXPECT_EQ(modbus_read_registers(mb.get(), 5, 1, v), -1);  // exceptions: sim_controller_test
  EXPECT_EQ(errno, EMBXILADD);

  sim->signal(SIGUSR1);  // power cycle: silent for about a second
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(modbus_read_registers(mb.get(), 102, 1, v), -1);
  std::this_thread::sleep_for(1200ms);
  ASSERT_EQ(modbus_read_registers(mb.get(), 102, 1, v), 1);
  EXPECT_EQ(v[0], 9);

  sim->signal(SIGINT);
  EXPECT_EQ(sim->wait(5000), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(Process(R7SIM_EXE, {"--model", "6190"}).wait(5000), 1);
}

// The build's program directory has its empty folder for setup files, and
// srec_info (an outside S-record reader) accepts each S-record file in it.
TEST(DemoDirectory, BuildLaysOutTheSampleFiles) {
  const fs::path bin = R7_BIN_DIR;
  EXPECT_TRUE(fs::is_empty(bin / "Reg Downloads"));
  if (std::system("srec_info --version > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "srec_info (srecord) is not installed";
  }
  for (const sim::SampleFile& f : sim::sample_files()) {
    if (f.content.rfind("S0", 0) != 0) continue;
    const std::string command = "srec_info '" + (bin / f.path).string() + "' > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << f.path;
  }
}

#ifdef R7_CLI_EXE

class CliFlash : public R7Sim {
 protected:
  void SetUp() override { write_demo_program_dir(dir.path()); }
  ProcessResult cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {R7_CLI_EXE, "--home", dir.path().string(), "--port",
                                     link.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, 120s, dir.path().string());
  }
};

// The power fails in the middle of the firmware: the download application is
// gone and the resident bootloader refuses the rest. The failure prints the
// command that finishes the download. Only the bootloader answers, also after
// r7sim restarts from its state file, and the line echoes every byte sent.
// Without --model/--revision flash refuses to guess; the command, run as
// printed, downloads again and the controller runs the new image.
TEST_F(CliFlash, PowerCutMidFirmwareIsFinishedByThePrintedCommand) {
  const std::string state = (dir / "r7.json").string();
  launch({"--state", state, "--timing", "erase:300", "--fault", "powercut:100"});
  const ProcessResult cut = cli({"--yes", "flash", "--no-backup"});
  EXPECT_EQ(cut.exit_code, 5) << cut.out << cut.err;
  EXPECT_NE(cut.out.find("Failed at case record_type=S2 line_count=100 |"), std::string::npos);
  const std::string lead = "To finish the download: ";
  const auto at = cut.out.find(lead);
  ASSERT_NE(at, std::string::npos) << cut.out;
  const std::string command =
      cut.out.substr(at + lead.size(), cut.out.find('\n', at) - at - lead.size());
  EXPECT_NE(command.find(" flash --model 6180 --revision 1850 "), std::string::npos) << command;

  sim.reset();
  launch({"--state", state, "--timing", "erase:300", "--echo"});
  const ProcessResult refused = cli({"--yes", "flash"});
  EXPECT_EQ(refused.exit_code, 2) << refused.out << refused.err;
  EXPECT_NE(refused.err.find("--model 6180|6170 --revision N"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out.find("File Transfer"), std::string::npos) << refused.out;

  const std::string bin = fs::path(R7_CLI_EXE).parent_path().string();
  const ProcessResult r =
      run_process({"/bin/sh", "-c", "PATH='" + bin + "':\"$PATH\" " + command}, 120s);
  EXPECT_EQ(r.exit_code, 0) << command << "\n" << r.out << r.err;
  EXPECT_EQ(
      r.out.rfind("> Check of device type\n< Failed\n> Bootloader answers\n< Successful\n", 0), 0U)
      << r.out;
  EXPECT_NE(r.out.find("[Download Completed] Please cycle Device Power.\n"), std::string::npos);
  const ProcessResult id = cli({"identify"});
  EXPECT_EQ(id.exit_code, 0) << id.err;
  EXPECT_NE(id.out.find("Software number: 3 (hex 0003)"), std::string::npos) << id.out;
  sim.reset();  // r7sim writes the flash image's digest into its state file
  EXPECT_NE(read_file(state).find("\"flash_digest\": \"" + s2_image_digest(dir / "731-0000.S19")),
            std::string::npos);
}

#endif

}  // namespace
}  // namespace r7::test
