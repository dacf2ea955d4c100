// The simulated controller's bootloader and download application: frames and
// checksums, the 38400-baud rule, erase, the flash image, and the power cycle
// that brings the new software number.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/catalog.h"
#include "sim/sample_files.h"
#include "sim/simulation.h"
#include "support/line_master.h"

namespace r7::sim {
namespace {

using test::bytes;
using test::exchange_on;
using test::LineMaster;

std::string frame(int cmd, const std::string& data) {
  std::string f{'\xFF', static_cast<char>(cmd), static_cast<char>(data.size())};
  f += data;
  unsigned sum = 0;
  for (char c : f)
    sum += static_cast<unsigned char>(c);
  f += static_cast<char>(sum & 0xFF);
  return f;
}

std::string ack(int cmd) {
  return bytes({0xFF, cmd});
}
std::string nak(int cmd) {
  return bytes({0xFF, cmd | 0x80});
}

// The data record frames of an S-record file, as a download sends them:
// address and data bytes of each S1 (0x20) or S2 (0x21) line.
std::vector<std::string> record_frames(const std::string& file) {
  std::vector<std::string> frames;
  std::istringstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("S1", 0) != 0 && line.rfind("S2", 0) != 0) continue;
    std::string data;
    for (std::size_t i = 4; i + 2 < line.size(); i += 2) {
      data += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
    frames.push_back(frame(line[1] == '1' ? 0x20 : 0x21, data));
  }
  return frames;
}

class SimBootloader : public ::testing::Test {
 protected:
  explicit SimBootloader(int model = kModel6180)
      : sim(model), port(sim.port_factory().create_port()), m(*port) {
    port->open();
  }
  FakeClock& clock() { return *sim.fake_clock(); }
  Controller& controller() { return sim.controller(); }
  std::string send(const std::string& f, std::uint32_t timeout_ms = 2000) {
    return exchange_on(*port, f, {timeout_ms, 5, 2});
  }
  void enter_bootloader(int value = 1414) {
    ASSERT_EQ(m.write(1950, 1941).value, 1941);
    ASSERT_EQ(m.write(1950, value).value, value);
    clock().sleep_ms(5000);
    ASSERT_EQ(controller().mode(), Mode::Bootloader);
  }
  void start_download_app(bool newer = false) {
    for (const std::string& f : record_frames(download_application(newer))) {
      ASSERT_EQ(send(f), ack(f[1]));
    }
    ASSERT_EQ(send(frame(0x30, "")), ack(0x30));
    ASSERT_EQ(send(frame(0x31, bytes({0, 8, 0, 4}))), ack(0x31));
    port->set_settings("38400,n,8,1");
  }

  Simulation sim;
  std::unique_ptr<SerialPort> port;
  LineMaster m;
};

TEST_F(SimBootloader, FixedFramesAsTheToolSendsThem) {
  EXPECT_EQ(frame(0x30, ""), bytes({0xFF, 0x30, 0x00, 0x2F}));
  EXPECT_EQ(frame(0x10, ""), bytes({0xFF, 0x10, 0x00, 0x0F}));
  EXPECT_EQ(frame(0x31, bytes({0, 8, 0, 4})),
            bytes({0xFF, 0x31, 0x04, 0x00, 0x08, 0x00, 0x04, 0x40}));
}

TEST_F(SimBootloader, NoBootloaderWhileTheApplicationRuns) {
  EXPECT_EQ(send(frame(0x30, "")), "");
  EXPECT_EQ(send(bytes({0x00}), 500), "");
  EXPECT_EQ(m.read_value(0), 6180);
}

TEST_F(SimBootloader, ProbeChecksumsAndRecordsIntoRam) {
  enter_bootloader();
  EXPECT_EQ(send(bytes({0x00}), 500), bytes({0x01}));
  port->set_settings("38400,n,8,1");  // the resident bootloader answers at any rate
  EXPECT_EQ(send(bytes({0x00}), 500), bytes({0x01}));
  port->set_settings("9600,N,8,1");

  std::string bad = frame(0x20, bytes({0x08, 0x00, 0xAA, 0xBB}));
  bad.back() = static_cast<char>(bad.back() + 1);
  EXPECT_EQ(send(bad), nak(0x20));
  EXPECT_TRUE(controller().application_image().empty());

  // S1050000AABB95 becomes FF 20 04 00 00 AA BB 88.
  EXPECT_EQ(frame(0x20, bytes({0x00, 0x00, 0xAA, 0xBB})),
            bytes({0xFF, 0x20, 0x04, 0x00, 0x00, 0xAA, 0xBB, 0x88}));
  EXPECT_EQ(send(frame(0x20, bytes({0x08, 0x00, 0xAA, 0xBB}))), ack(0x20));
  EXPECT_EQ(send(frame(0x21, bytes({0x01, 0x00, 0x00, 0x52, 0x37}))), ack(0x21));
  EXPECT_EQ(controller().application_image().read(0x0800, 2), bytes({0xAA, 0xBB}));
  EXPECT_EQ(controller().application_image().read(0x010000, 2), bytes({0x52, 0x37}));
  EXPECT_EQ(send(frame(0x21, bytes({0x01}))), nak(0x21));  // too short for an address
  EXPECT_EQ(send(frame(0x10, "")), nak(0x10));             // only the download application erases
  EXPECT_EQ(send(frame(0x55, "")), nak(0x55));
  // Modbus is not heard.
  EXPECT_FALSE(m.read(0).answered);
}

TEST_F(SimBootloader, ExecuteNeedsALoadedApplicationAndItsAddress) {
  enter_bootloader();
  EXPECT_EQ(send(frame(0x31, bytes({0, 8, 0, 4}))), nak(0x31));  // nothing loaded
  EXPECT_EQ(send(frame(0x30, "")), ack(0x30));                   // acknowledged all the same
  for (const std::string& f : record_frames(download_application(false)))
    send(f);
  EXPECT_EQ(send(frame(0x31, bytes({0, 8, 0, 4}))), nak(0x31));  // not reported complete
  EXPECT_EQ(send(frame(0x30, "")), ack(0x30));
  EXPECT_TRUE(controller().application_loaded());
  EXPECT_EQ(send(frame(0x31, bytes({0, 8, 0, 5}))), nak(0x31));
  EXPECT_EQ(send(frame(0x31, bytes({0, 8, 0, 4}))), ack(0x31));
  EXPECT_EQ(controller().mode(), Mode::DownloadApp);
}

TEST_F(SimBootloader, DownloadApplicationAnswersOnlyAt38400) {
  enter_bootloader();
  start_download_app();
  port->set_settings("9600,N,8,1");
  EXPECT_EQ(send(bytes({0x00}), 500), "");
  EXPECT_EQ(send(frame(0x30, "")), "");
  port->set_settings("38400,n,8,1");
  EXPECT_EQ(send(bytes({0x00}), 500), bytes({0x01}));
  EXPECT_EQ(send(frame(0x30, "")), ack(0x30));
}

TEST_F(SimBootloader, EraseTakesSecondsThenRecordsProgramTheFlash) {
  enter_bootloader();
  start_download_app();
  const std::string record = frame(0x21, bytes({0x01, 0x00, 0x00, 0x52, 0x37}));
  EXPECT_EQ(send(record), nak(0x21));  // not erased yet

  const std::uint64_t start = clock().total_ms();
  EXPECT_EQ(send(frame(0x10, ""), 30000), ack(0x10));
  const std::uint64_t erase = clock().total_ms() - start;
  EXPECT_GE(erase, 2000U);
  EXPECT_LT(erase, 30000U);
  EXPECT_EQ(controller().firmware_state(), FirmwareState::Erased);

  EXPECT_EQ(send(record), ack(0x21));
  EXPECT_EQ(send(record), ack(0x21));  // the same data again, as after a lost reply
  EXPECT_EQ(send(frame(0x21, bytes({0x01, 0x00, 0x00, 0x53}))),
            nak(0x21));  // 37 -> 53 needs set bits
  EXPECT_EQ(controller().flash().read(0x010000, 2), bytes({0x52, 0x37}));
  EXPECT_EQ(controller().flash().byte(0x010002), 0xFF);
}

TEST_F(SimBootloader, WholeDownloadBringsTheNewSoftwareNumberAfterPower) {
  const FirmwareSample& firmware = kFirmwareSamples[0];  // 731-0000, software 3
  const std::string file = firmware_file(firmware);
  enter_bootloader();
  start_download_app();
  ASSERT_EQ(send(frame(0x10, ""), 30000), ack(0x10));
  const std::vector<std::string> frames = record_frames(file);
  for (std::size_t i = 0; i < frames.size(); ++i)
    ASSERT_EQ(send(frames[i]), ack(0x21)) << i;
  ASSERT_EQ(send(frame(0x30, "")), ack(0x30));
  EXPECT_EQ(controller().firmware_state(), FirmwareState::Complete);

  // The image holds exactly the file's data.
  EXPECT_EQ(controller().flash().written_count(), firmware.size);
  EXPECT_EQ(controller().flash().lowest(), kFirmwareBase);
  EXPECT_EQ(controller().flash().highest(), kFirmwareBase + firmware.size - 1);
  for (std::size_t i = 0; i < frames.size(); i += 997) {
    const std::string& f = frames[i];
    const std::uint32_t address = (static_cast<unsigned char>(f[3]) << 16) |
                                  (static_cast<unsigned char>(f[4]) << 8) |
                                  static_cast<unsigned char>(f[5]);
    EXPECT_EQ(controller().flash().read(address, f.size() - 7), f.substr(6, f.size() - 7));
  }
  EXPECT_EQ(controller().software_field(), "523741420003");

  // The download restores its port settings; the next Modbus request finds the
  // controller powered up again with the new software number.
  port->set_settings("9600,N,8,1");
  EXPECT_EQ(m.read_value(3, 1), 3);
  EXPECT_EQ(controller().mode(), Mode::Application);
  EXPECT_EQ(m.read_value(0), 6180);
  controller().power_cycle();
  EXPECT_EQ(m.read_value(3, 20), 3);
}

TEST_F(SimBootloader, PowerCycleDuringADownloadLeavesTheBootloader) {
  enter_bootloader(1515);
  start_download_app(true);
  ASSERT_EQ(send(frame(0x10, ""), 30000), ack(0x10));
  controller().power_cycle();
  port->set_settings("9600,N,8,1");
  EXPECT_FALSE(m.read(0, 20).answered);
  EXPECT_EQ(controller().mode(), Mode::Bootloader);
  EXPECT_EQ(send(bytes({0x00}), 500), bytes({0x01}));
  EXPECT_TRUE(controller().application_image().empty());  // RAM is gone
}

TEST_F(SimBootloader, PowerCycleBeforeTheEraseKeepsTheOldFirmware) {
  enter_bootloader();
  start_download_app();
  controller().power_cycle();
  port->set_settings("9600,N,8,1");
  EXPECT_EQ(m.read_value(3, 20), 2);
  EXPECT_EQ(controller().mode(), Mode::Application);
}

TEST_F(SimBootloader, AnImageWithoutItsFieldDoesNotStart) {
  enter_bootloader();
  start_download_app();
  ASSERT_EQ(send(frame(0x10, ""), 30000), ack(0x10));
  ASSERT_EQ(send(frame(0x21, bytes({0x00, 0x80, 0x00, 0x12, 0x34}))), ack(0x21));
  ASSERT_EQ(send(frame(0x30, "")), ack(0x30));
  controller().power_cycle();
  port->set_settings("9600,N,8,1");
  EXPECT_FALSE(m.read(0, 20).answered);
  EXPECT_EQ(controller().mode(), Mode::Bootloader);
}

}  // namespace
}  // namespace r7::sim
