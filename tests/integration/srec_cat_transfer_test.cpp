// S-record files made by an outside tool (srec_cat) from random data, sent to
// the simulated controller's bootloader and download application, and compared
// byte for byte with what arrived.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>

#include "app/program_dir.h"
#include "flash/bootloader.h"
#include "flash/srecord.h"
#include "modbus/registers.h"
#include "sim/simulation.h"
#include "support/demo_program_dir.h"
#include "support/recording_flash_view.h"
#include "support/recording_prompts.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

using namespace std::chrono_literals;

struct SrecCatTransfer : ::testing::Test {
  test::TempDir dir;
  test::RecordingPrompts prompts;
  sim::Simulation simulation{6180};
  ErrorLog log{prompts, simulation.clock(), dir / "Flash.ERR"};
  ProgramDir program{dir.path()};
  PortNames names{program.settings_file(), std::string("sim")};
  std::unique_ptr<Comms> comms;
  test::RecordingFlashView view;
  std::unique_ptr<Bootloader> boot;

  void SetUp() override {
    if (std::system("command -v srec_cat > /dev/null") != 0)
      GTEST_SKIP() << "srec_cat (srecord) not installed";
    test::write_demo_program_dir(dir.path());
    comms = std::make_unique<Comms>(program.settings_file(), names, simulation.port_factory(),
                                    simulation.clock(), prompts, log);
    comms->init_comms();
    boot = std::make_unique<Bootloader>(*comms, prompts, view);
    // Into the resident bootloader, as the download-mode write does it.
    auto& c = simulation.controller();
    c.write_register(reg::kDownloadMode, reg::kDownloadModeArm);
    c.write_register(reg::kDownloadMode, reg::kDownloadModeLoader);
    simulation.fake_clock()->advance(5000);
  }

  std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string data(n, '\0');
    for (char& c : data)
      c = static_cast<char>(rng() & 0xFF);
    return data;
  }

  // srec_cat turns `data` at `base` into Motorola records with 2 or 3 address
  // bytes, ending with a termination record and no count record (which the
  // transfer would skip with a message).
  std::string make_srecords(const std::string& data, std::uint32_t base, int address_bytes) {
    const auto bin = dir / "data.bin";
    test::write_file(bin, data);
    const auto out = (dir / ("data" + std::to_string(address_bytes) + ".s19")).string();
    const auto r = test::run_process(
        {"srec_cat", bin.string(), "-binary", "-offset", std::to_string(base), "-o", out,
         "-motorola", "-address-length=" + std::to_string(address_bytes), "-disable=data-count",
         "-execution-start-address=" + std::to_string(base)},
        30s);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const SRecordReport report = check_srecord_file(out);
    EXPECT_TRUE(report.ok()) << report.errors.front().message;
    return out;
  }
};

TEST_F(SrecCatTransfer, S1RecordsReachTheBootloaderIntact) {
  const std::string data = random_bytes(6000, 7);
  const std::string file = make_srecords(data, 0x0800, 2);
  ASSERT_TRUE(boot->transfer_srecord_file(file));
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(simulation.controller().application_image().read(0x0800, data.size()), data);
  EXPECT_EQ(simulation.controller().application_image().written_count(), data.size());
}

TEST_F(SrecCatTransfer, S2RecordsReachTheFlashIntact) {
  // Load and start the download application, then erase and write at 38400.
  ASSERT_TRUE(boot->transfer_srecord_file(program.join("Dnld_R7.s19")));
  ASSERT_EQ(boot->download_completed(), 1);
  ASSERT_EQ(boot->execute_download_app(kDownloadAppAddress), 1);
  comms->set_port_settings(kXonSlot, kBootloaderSettings);
  ASSERT_EQ(boot->erase_flash(), 1);

  const std::string data = random_bytes(70000, 11);
  const std::string file = make_srecords(data, 0x012340, 3);
  ASSERT_TRUE(boot->transfer_srecord_file(file));
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(simulation.controller().flash().read(0x012340, data.size()), data);
  EXPECT_EQ(simulation.controller().flash().written_count(), data.size());
}

// More than 65535 records: srec_cat ends the file with an S6 count record
// instead of a termination record, and the check takes it as complete.
TEST_F(SrecCatTransfer, CheckTakesAFileEndingInAnS6CountRecord) {
  const auto out = (dir / "many.s19").string();
  const auto r = test::run_process({"srec_cat", "-generate", "0", "0x200020", "-constant", "0x5A",
                                    "-o", out, "-motorola", "-address-length=3"},
                                   30s);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const SRecordReport report = check_srecord_file(out);
  EXPECT_TRUE(report.ok()) << report.errors.front().message;
  EXPECT_EQ(report.records_by_type.at("S6"), 1U);
  EXPECT_EQ(report.notes.back().message, "S6 count record: 65537 data records, as counted");
}

}  // namespace
}  // namespace r7
