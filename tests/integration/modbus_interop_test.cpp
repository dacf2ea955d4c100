// r7flash-cli against a Modbus RTU server that nobody here wrote: libmodbus
// serving a register table on one end of a socat pseudo-terminal pair, the
// program on the other end through the real Qt serial port adapter.
#include <errno.h>
#include <modbus.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "modbus/modbus.h"
#include "serial/comms.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr int kServerAddress = 1;
constexpr int kRegisters = 10;  // holding registers 0..9; others answer exception 2

class LibmodbusServer {
 public:
  explicit LibmodbusServer(const std::string& device) {
    ctx_ = modbus_new_rtu(device.c_str(), 9600, 'N', 8, 1);
    if (ctx_ == nullptr) return;
    modbus_set_slave(ctx_, kServerAddress);
    if (modbus_connect(ctx_) != 0) return;
    table_ = modbus_mapping_new_start_address(0, 0, 0, 0, 0, kRegisters, 0, 0);
    if (table_ == nullptr) return;
    for (int i = 0; i < kRegisters; ++i) {
      table_->tab_registers[i] = static_cast<std::uint16_t>(1111 * (i + 1));
    }
    modbus_set_indication_timeout(ctx_, 0, 100000);  // so the loop sees the stop flag
    thread_ = std::thread([this] { serve(); });
  }
  ~LibmodbusServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (table_ != nullptr) modbus_mapping_free(table_);
    if (ctx_ != nullptr) {
      modbus_close(ctx_);
      modbus_free(ctx_);
    }
  }
  LibmodbusServer(const LibmodbusServer&) = delete;
  LibmodbusServer& operator=(const LibmodbusServer&) = delete;

  bool running() const { return thread_.joinable(); }
  std::uint16_t reg(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    return table_->tab_registers[n];
  }

 private:
  void serve() {
    std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stop_) {
      const int rc = modbus_receive(ctx_, query);
      if (rc > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        modbus_reply(ctx_, query, rc, table_);
      } else if (rc < 0 && errno != ETIMEDOUT) {
        modbus_flush(ctx_);
      }
    }
  }

  modbus_t* ctx_ = nullptr;
  modbus_mapping_t* table_ = nullptr;
  std::mutex mutex_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct ModbusInterop : ::testing::Test {
  test::TempDir dir;
  std::string server_end = (dir / "server").string();
  std::string client_end = (dir / "client").string();
  std::unique_ptr<test::Process> socat;
  std::unique_ptr<LibmodbusServer> server;

  void SetUp() override {
    if (std::system("command -v socat > /dev/null") != 0) GTEST_SKIP() << "socat is not installed";
    socat = std::make_unique<test::Process>(
        "socat", std::vector<std::string>{"pty,raw,echo=0,link=" + server_end,
                                          "pty,raw,echo=0,link=" + client_end});
    for (int i = 0;
         i < 250 && !(std::filesystem::exists(server_end) && std::filesystem::exists(client_end));
         ++i) {
      std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(std::filesystem::exists(client_end)) << "socat made no pseudo-terminals";
    server = std::make_unique<LibmodbusServer>(server_end);
    ASSERT_TRUE(server->running()) << "libmodbus could not serve " << server_end;
    test::write_file(dir / "VARNEL FLASH R7.INI",
                     "[COMMS CONTROLS]\n"
                     "DEVICE 0 COMM PORT =2\nDEVICE 0 PORT SETTING =9600,N,8,1\n"
                     "DEVICE 1 COMM PORT =2\nDEVICE 1 PORT SETTING =9600,N,8,1\n"
                     "DEVICE 2 COMM PORT =2\nDEVICE 2 PORT SETTING =38400,n,8,1\n");
  }

  test::ProcessResult cli(std::vector<std::string> args) {
    std::vector<std::string> argv = {R7_CLI_PATH, "--home", dir.path().string(), "--port",
                                     client_end};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::run_process(argv, 20s, dir.path().string());
  }
};

TEST_F(ModbusInterop, ReadValuesAreTheServersTable) {
  const auto r = cli({"read", "0", "3"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("register 0: 1111\nregister 1: 2222\nregister 2: 3333\n"));
  EXPECT_THAT(r.out, ::testing::StartsWith("1 3 6 1111 2222 3333 "));
  EXPECT_EQ(r.err, "");
}

TEST_F(ModbusInterop, WrittenValuesLandInTheServersTable) {
  auto r = cli({"write", "5", "-1234"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.out, ::testing::StartsWith("1 6 5 -1234 "));
  EXPECT_EQ(server->reg(5), static_cast<std::uint16_t>(-1234));
  r = cli({"write", "9", "32767"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(server->reg(9), 32767);
  r = cli({"read", "5"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("register 5: -1234\n"));
}

TEST_F(ModbusInterop, AnAddressTheServerDoesNotMapIsExceptionTwo) {
  auto r = cli({"read", "100"});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_THAT(r.out, ::testing::StartsWith("1 131 -32002 "));
  EXPECT_THAT(r.err, HasSubstr("exception 2"));
  r = cli({"write", "10", "7"});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_THAT(r.out, ::testing::StartsWith("1 134 -32002 "));
}

TEST_F(ModbusInterop, ARawExchangePrintsTheServersReplyAndTracesIt) {
  const std::string trace = (dir / "trace.txt").string();
  const auto r = cli({"--trace", trace, "exchange", "1", "010300000001840A"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string reply = with_modbus_crc({1, 3, 2, 0x04, 0x57});  // 1111
  EXPECT_EQ(r.out, hex_bytes(reply, false) + "\n");
  EXPECT_THAT(test::read_file(trace),
              ::testing::MatchesRegex(".* slot 1 " + client_end +
                                      " TX 01 03 00 00 00 01 84 0A [0-9]+ ms\n"
                                      ".* slot 1 " +
                                      client_end + " RX " + hex_bytes(reply) + " [0-9]+ ms\n"));
}

TEST_F(ModbusInterop, AnotherAddressGetsNoReply) {
  const auto r = cli({"--address", "7", "read", "0"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_THAT(r.err, HasSubstr("no reply from the controller at address 7"));
}

}  // namespace
}  // namespace r7
