// r7sim as a process on a pseudo-terminal, with libmodbus as an outside
// Modbus RTU master; and the demo program directory the build lays out.
#include <fcntl.h>
#include <modbus.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "process.h"
#include "sim/sample_files.h"
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

ModbusPtr connect(const fs::path& device, int slave = 1) {
  modbus_t* ctx = modbus_new_rtu(device.c_str(), 9600, 'N', 8, 1);
  if (ctx == nullptr) return nullptr;
  modbus_set_slave(ctx, slave);
  modbus_set_response_timeout(ctx, 0, 500000);
  if (modbus_connect(ctx) != 0) {
    modbus_free(ctx);
    return nullptr;
  }
  return ModbusPtr(ctx);
}

int read_one(modbus_t* ctx, int reg) {
  std::uint16_t v = 0;
  return modbus_read_registers(ctx, reg, 1, &v) == 1 ? static_cast<int>(v) : -1;
}

class R7Sim : public ::testing::Test {
 protected:
  // Starts r7sim with `args` and --link; returns the device path it printed.
  std::string start(std::vector<std::string> args) {
    args.insert(args.end(), {"--link", link.string()});
    sim = std::make_unique<Process>(R7SIM_EXE, args);
    const std::string device = sim->read_line(10000);
    EXPECT_EQ(device.rfind("/dev/", 0), 0U) << device;
    return device;
  }

  TempDir dir;
  fs::path link = dir / "r7";
  std::unique_ptr<Process> sim;
};

TEST_F(R7Sim, LibmodbusReadsAndWritesThroughTheLink) {
  const std::string device = start({});
  EXPECT_EQ(fs::read_symlink(link).string(), device);
  ModbusPtr mb = connect(link);
  ASSERT_TRUE(mb);
  std::uint16_t id[5] = {};
  ASSERT_EQ(modbus_read_registers(mb.get(), 0, 5, id), 5);
  EXPECT_EQ(id[0], 6180);
  EXPECT_EQ(id[3], 2);
  EXPECT_EQ(id[4], 1850);
  ASSERT_EQ(modbus_write_register(mb.get(), 101, 2), 1);
  EXPECT_EQ(read_one(mb.get(), 101), 2);
  std::uint16_t v = 0;
  EXPECT_EQ(modbus_read_registers(mb.get(), 5, 1, &v), -1);
  EXPECT_EQ(errno, EMBXILADD);
  EXPECT_EQ(modbus_write_register(mb.get(), 100, 7), -1);
  EXPECT_EQ(errno, EMBXILVAL);

  // Closed and opened again, as the tool does between slots.
  mb.reset();
  mb = connect(link);
  ASSERT_TRUE(mb);
  EXPECT_EQ(read_one(mb.get(), 0), 6180);

  sim->signal(SIGTERM);
  EXPECT_EQ(sim->wait(5000), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(R7Sim, ModelSerialAndAddressOptions) {
  start({"--model", "6170", "--serial", "12", "345", "--software", "26", "--revision", "2100",
         "--address", "7", "--defaults"});
  ModbusPtr mb = connect(link, 7);
  ASSERT_TRUE(mb);
  std::uint16_t id[5] = {};
  ASSERT_EQ(modbus_read_registers(mb.get(), 0, 5, id), 5);
  EXPECT_EQ(id[0], 6170);
  EXPECT_EQ(id[1], 12);
  EXPECT_EQ(id[2], 345);
  EXPECT_EQ(id[3], 26);
  EXPECT_EQ(id[4], 2100);
  EXPECT_EQ(read_one(mb.get(), 1300), 0);  // at its defaults
  sim->signal(SIGINT);
  EXPECT_EQ(sim->wait(5000), 0);
}

TEST_F(R7Sim, BadOptionsEndWithStatusOne) {
  Process bad(R7SIM_EXE, {"--fault", "noise:1"});
  EXPECT_EQ(bad.wait(5000), 1);
  Process model(R7SIM_EXE, {"--model", "6190"});
  EXPECT_EQ(model.wait(5000), 1);
}

TEST_F(R7Sim, StateFileKeepsWritesAcrossRunsAndPowerCycles) {
  const fs::path state = dir / "state.json";
  start({"--state", state.string()});
  {
    ModbusPtr mb = connect(link);
    ASSERT_TRUE(mb);
    ASSERT_EQ(modbus_write_register(mb.get(), 102, 9), 1);
    sim->signal(SIGUSR1);  // power cycle: silent for about a second
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(read_one(mb.get(), 102), -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(read_one(mb.get(), 102), 9);
  }
  sim->signal(SIGTERM);
  ASSERT_EQ(sim->wait(5000), 0);
  std::ifstream in(state);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("\"102\": 9"), std::string::npos);

  start({"--state", state.string()});
  ModbusPtr mb = connect(link);
  ASSERT_TRUE(mb);
  EXPECT_EQ(read_one(mb.get(), 102), 9);
}

// A raw line on the pty with the given baud rate.
class RawLine {
 public:
  RawLine(const fs::path& device, speed_t speed) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd_, TCSANOW, &t);
    tcflush(fd_, TCIOFLUSH);
  }
  ~RawLine() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawLine(const RawLine&) = delete;
  RawLine& operator=(const RawLine&) = delete;
  bool ok() const { return fd_ >= 0; }

  // Writes `message` and collects what arrives until `expected` bytes or the time limit.
  std::string exchange(const std::string& message, std::size_t expected, int timeout_ms) {
    tcflush(fd_, TCIFLUSH);
    if (::write(fd_, message.data(), message.size()) != static_cast<ssize_t>(message.size()))
      return {};
    std::string reply;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (reply.size() < expected && std::chrono::steady_clock::now() < end) {
      char buf[64];
      fd_set set;
      FD_ZERO(&set);
      FD_SET(fd_, &set);
      timeval tv{0, 20000};
      if (select(fd_ + 1, &set, nullptr, nullptr, &tv) > 0) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) reply.append(buf, static_cast<std::size_t>(n));
      }
    }
    return reply;
  }

 private:
  int fd_ = -1;
};

std::string frame(int cmd, const std::string& data) {
  std::string f{'\xFF', static_cast<char>(cmd), static_cast<char>(data.size())};
  f += data;
  unsigned sum = 0;
  for (char c : f)
    sum += static_cast<unsigned char>(c);
  f += static_cast<char>(sum & 0xFF);
  return f;
}

TEST_F(R7Sim, BootloaderAndTheBaudRateTheClientSets) {
  start({});
  {
    ModbusPtr mb = connect(link);
    ASSERT_TRUE(mb);
    ASSERT_EQ(modbus_write_register(mb.get(), 1950, 1941), 1);
    ASSERT_EQ(modbus_write_register(mb.get(), 1950, 1414), 1);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2300));  // it restarts into the loader
  RawLine line(link, B9600);
  ASSERT_TRUE(line.ok());
  EXPECT_EQ(line.exchange(std::string(1, '\0'), 1, 1000), std::string(1, '\x01'));
  EXPECT_EQ(line.exchange(frame(0x20, std::string("\x08\x00\x12\x34", 4)), 2, 1000), "\xFF\x20");
  EXPECT_EQ(line.exchange(frame(0x30, ""), 2, 1000), "\xFF\x30");
  EXPECT_EQ(line.exchange(frame(0x31, std::string("\x00\x08\x00\x04", 4)), 2, 1000), "\xFF\x31");
  // The download application hears nothing at 9600 baud ...
  EXPECT_EQ(line.exchange(std::string(1, '\0'), 1, 300), "");
  // ... and answers once the line is set to 38400.
  RawLine fast(link, B38400);
  EXPECT_EQ(fast.exchange(std::string(1, '\0'), 1, 1000), std::string(1, '\x01'));
}

// ---- the demo program directory ----

TEST(DemoDirectory, BuildLaysOutTheSampleFiles) {
  const fs::path bin = R7_BIN_DIR;
  for (const sim::SampleFile& f : sim::sample_files()) {
    std::ifstream in(bin / fs::path(f.path), std::ios::binary);
    ASSERT_TRUE(in) << f.path;
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), f.content) << f.path;
  }
  EXPECT_TRUE(fs::is_directory(bin / "Reg Downloads"));
  EXPECT_TRUE(fs::is_empty(bin / "Reg Downloads"));
}

// srec_info, an outside S-record reader, accepts every file.
TEST(DemoDirectory, SrecordToolsReadTheFiles) {
  if (std::system("srec_info --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no srec_info";
  const fs::path bin = R7_BIN_DIR;
  for (const char* name : {"Dnld_R7.s19", "Mole_R7.s19", "731-0000.S19", "8831-0000.S19",
                           "730-0000.S19", "8830-0000.S19"}) {
    const std::string command = "srec_info '" + (bin / name).string() + "' > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << name;
  }
}

}  // namespace
}  // namespace r7::test
