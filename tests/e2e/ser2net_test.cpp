// r7flash-cli reaching r7sim through a serial device server: ser2net (which
// nobody here wrote) on 127.0.0.1, in front of r7sim's pseudo-terminal, with
// an RFC 2217 accepter and a raw TCP accepter.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

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

// A TCP socket and the address of `port` on 127.0.0.1 (0: any free port).
int loopback_socket(int port, sockaddr_in& address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return fd;
}

// A TCP port on 127.0.0.1 that nothing listens on now.
int free_port() {
  sockaddr_in a{};
  const int fd = loopback_socket(0, a);
  socklen_t size = sizeof a;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0;
  ::close(fd);
  return ok ? ntohs(a.sin_port) : 0;
}

bool accepts(int port) {
  sockaddr_in a{};
  const int fd = loopback_socket(port, a);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

struct Ser2net : ::testing::Test {
  TempDir home;
  std::string link = (home / "r7").string();
  fs::path state = home / "state.json";
  std::unique_ptr<Process> sim;
  std::unique_ptr<Process> server;
  int rfc_port = 0;
  int raw_port = 0;

  void SetUp() override {
    if (std::string(SER2NET_EXE).empty()) GTEST_SKIP() << "ser2net is not installed";
    write_demo_program_dir(home.path());
  }

  // r7sim with `args` on the state file, ser2net in front of it.
  void start(std::vector<std::string> args) {
    args.insert(args.end(), {"--link", link, "--state", state.string()});
    sim = std::make_unique<Process>(R7SIM_EXE, args);
    ASSERT_FALSE(sim->read_line(10000).empty()) << "r7sim did not start";
    rfc_port = free_port();
    raw_port = free_port();
    ASSERT_NE(rfc_port, raw_port);
    // As the README's server configuration: nodelay (no Nagle delay on the
    // replies' segments) and chardelay off (no wait after a reply's last byte).
    const std::string connector = "  connector: serialdev," + link +
                                  ",9600n81,local\n"
                                  "  options:\n    chardelay: false\n";
    write_file(home / "ser2net.yaml",
               "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," +
                   std::to_string(rfc_port) + "\n" + connector +
                   "connection: &raw\n  accepter: tcp(nodelay),127.0.0.1," +
                   std::to_string(raw_port) + "\n" + connector);
    server = std::make_unique<Process>(
        SER2NET_EXE,
        std::vector<std::string>{"-n", "-u", "-c", (home / "ser2net.yaml").string(), "-P",
                                 (home / "ser2net.pid").string()},
        std::string(), true);
    for (int i = 0; i < 100 && !accepts(raw_port); ++i)
      std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(accepts(rfc_port)) << "ser2net did not start";
  }
  std::string rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc_port); }
  std::string raw() const { return "socket://127.0.0.1:" + std::to_string(raw_port); }

  ProcessResult cli(const std::string& port, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {R7_CLI_EXE, "--home", home.path().string(), "--port", port};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, 120s, home.path().string());
  }
};

// Every Modbus frame of these jobs holds 0xFF (the CRC of a read of register
// 0 and many values), doubled on the telnet connection and not on the raw one.
// The line drops every 200 exchanges: ser2net then closes the connection, and
// the tool connects again.
TEST_F(Ser2net, SetupJobsThroughRfc2217AndRawTcpAndNoDownloadThroughRawTcp) {
  start({"--fault", "hangup:200"});
  const ProcessResult id = cli(rfc2217(), {"identify"});
  EXPECT_EQ(id.exit_code, 0) << id.out << id.err;
  EXPECT_TRUE(contains(id.out, "Device type: 6180\n")) << id.out;

  const fs::path first = home / "first.txt";
  const ProcessResult save = cli(rfc2217(), {"--yes", "--quiet", "save", first.string()});
  ASSERT_EQ(save.exit_code, 0) << save.out << save.err;
  const auto saved = file_lines(read_file(first), 8);
  ASSERT_GT(saved.size(), 100U);

  ASSERT_EQ(cli(raw(), {"write", "110", "-1"}).exit_code, 0);  // 0xFFFF on the wire
  const ProcessResult restore = cli(rfc2217(), {"--yes", "restore", first.string()});
  EXPECT_EQ(restore.exit_code, 0) << restore.out << restore.err;
  EXPECT_TRUE(contains(restore.out, "Verified: the controller holds the file's setup."));

  const fs::path second = home / "second.txt";
  const ProcessResult again = cli(raw(), {"--yes", "--quiet", "save", second.string()});
  ASSERT_EQ(again.exit_code, 0) << again.out << again.err;
  EXPECT_EQ(file_lines(read_file(second), 8), saved);

  const fs::path trace = home / "trace.txt";
  const ProcessResult flash = cli(raw(), {"--yes", "--trace", trace.string(), "flash"});
  EXPECT_EQ(flash.exit_code, 1) << flash.out << flash.err;
  EXPECT_TRUE(contains(flash.out + flash.err, "rfc2217://127.0.0.1:PORT. Nothing was sent."))
      << flash.out << flash.err;
  EXPECT_FALSE(fs::exists(trace) && fs::file_size(trace) > 0) << read_file(trace);
}

// The download application answers only at 38400 and Modbus only at 9600:
// the server's line follows both switches.
TEST_F(Ser2net, WholeFlashThroughRfc2217ByteForByte) {
  start({"--timing", "erase:300"});
  const ProcessResult r = cli(rfc2217(), {"--yes", "flash", "--no-backup"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_TRUE(contains(r.out, "[Download Completed] Please cycle Device Power.\n")) << r.out;
  const ProcessResult id = cli(rfc2217(), {"identify"});
  EXPECT_EQ(id.exit_code, 0) << id.err;
  EXPECT_TRUE(contains(id.out, "Software number: 3 (hex 0003)")) << id.out;
  server.reset();
  sim.reset();  // r7sim writes the flash image's digest into its state file
  EXPECT_TRUE(
      contains(read_file(state), "\"flash_digest\": \"" + s2_image_digest(home / "731-0000.S19")));
}

}  // namespace
}  // namespace r7::test

#endif
