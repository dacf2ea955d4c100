// r7sim as a process on a pseudo-terminal, with libmodbus as an outside
// Modbus RTU master; and the demo program directory the build lays out.
#include <modbus.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "sim/sample_files.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace r7::test {
namespace {

namespace fs = std::filesystem;

struct ModbusDeleter {
  void operator()(modbus_t* ctx) const {
    modbus_close(ctx);
    modbus_free(ctx);
  }
};
using ModbusPtr = std::unique_ptr<modbus_t, ModbusDeleter>;

class R7Sim : public ::testing::Test {
 protected:
  // Starts r7sim with `args` and --link, and connects libmodbus to the link as
  // the master of `slave`.
  ModbusPtr start(std::vector<std::string> args, int slave = 1) {
    args.insert(args.end(), {"--link", link.string()});
    sim = std::make_unique<Process>(R7SIM_EXE, args);
    const std::string device = sim->read_line(10000);
    EXPECT_EQ(device.rfind("/dev/", 0), 0U) << device;
    EXPECT_EQ(fs::read_symlink(link).string(), device);
    modbus_t* ctx = modbus_new_rtu(link.c_str(), 9600, 'N', 8, 1);
    modbus_set_slave(ctx, slave);
    modbus_set_response_timeout(ctx, 0, 500000);
    if (modbus_connect(ctx) == 0) return ModbusPtr(ctx);
    modbus_free(ctx);
    return nullptr;
  }

  TempDir dir;
  fs::path link = dir / "r7";
  std::unique_ptr<Process> sim;
  std::uint16_t v[5] = {};
};

TEST_F(R7Sim, LibmodbusThroughTheLinkAndTheStateFileAcrossRuns) {
  const std::vector<std::string> state = {"--state", (dir / "state.json").string()};
  ModbusPtr mb = start(state);
  ASSERT_TRUE(mb);
  ASSERT_EQ(modbus_read_registers(mb.get(), 0, 1, v), 1);
  EXPECT_EQ(v[0], 6180);
  ASSERT_EQ(modbus_write_register(mb.get(), 102, 9), 1);
  EXPECT_EQ(modbus_read_registers(mb.get(), 5, 1, v), -1);
  EXPECT_EQ(errno, EMBXILADD);
  EXPECT_EQ(modbus_write_register(mb.get(), 100, 7), -1);
  EXPECT_EQ(errno, EMBXILVAL);

  sim->signal(SIGUSR1);  // power cycle: silent for about a second
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(modbus_read_registers(mb.get(), 102, 1, v), -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  ASSERT_EQ(modbus_read_registers(mb.get(), 102, 1, v), 1);
  EXPECT_EQ(v[0], 9);

  sim->signal(SIGTERM);
  EXPECT_EQ(sim->wait(5000), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  mb = start(state);  // the next run starts from the state file
  ASSERT_TRUE(mb);
  ASSERT_EQ(modbus_read_registers(mb.get(), 102, 1, v), 1);
  EXPECT_EQ(v[0], 9);
}

TEST_F(R7Sim, IdentityAndAddressOptionsAndBadOptions) {
  ModbusPtr mb = start({"--model", "6170", "--serial", "12", "345", "--software", "26",
                        "--revision", "2100", "--address", "7", "--defaults"},
                       7);
  ASSERT_TRUE(mb);
  ASSERT_EQ(modbus_read_registers(mb.get(), 0, 5, v), 5);
  EXPECT_EQ(std::vector<int>(v, v + 5), (std::vector<int>{6170, 12, 345, 26, 2100}));
  ASSERT_EQ(modbus_read_registers(mb.get(), 1300, 1, v), 1);
  EXPECT_EQ(v[0], 0);  // at its defaults
  sim->signal(SIGINT);
  EXPECT_EQ(sim->wait(5000), 0);
  EXPECT_EQ(Process(R7SIM_EXE, {"--fault", "noise:1"}).wait(5000), 1);
  EXPECT_EQ(Process(R7SIM_EXE, {"--model", "6190"}).wait(5000), 1);
}

TEST(DemoDirectory, BuildLaysOutTheSampleFiles) {
  const fs::path bin = R7_BIN_DIR;
  for (const sim::SampleFile& f : sim::sample_files()) {
    std::ifstream in(bin / fs::path(f.path), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), f.content) << f.path;
  }
  EXPECT_TRUE(fs::is_empty(bin / "Reg Downloads"));
}

// srec_info, an outside S-record reader, accepts every S-record file.
TEST(DemoDirectory, SrecordToolsReadTheFiles) {
  if (std::system("srec_info --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no srec_info";
  for (const sim::SampleFile& f : sim::sample_files()) {
    if (f.content.rfind("S0", 0) != 0) continue;
    const std::string command =
        "srec_info '" + (fs::path(R7_BIN_DIR) / f.path).string() + "' > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << f.path;
  }
}

}  // namespace
}  // namespace r7::test
