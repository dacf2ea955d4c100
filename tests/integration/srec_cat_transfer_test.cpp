// S-record files made by an outside tool (srec_cat) from random data, sent to
// the simulated controller's bootloader and download application, and compared
// byte for byte with what arrived.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <utility>

#include "flash/bootloader.h"
#include "flash/file_transfer.h"
#include "flash/srecord_check.h"
#include "modbus/registers.h"
#include "support/recording_flash_view.h"
#include "support/setup_fixture.h"
#include "support/subprocess.h"

namespace r7 {
namespace {

using namespace std::chrono_literals;

struct SrecCat : test::SetupFixture {
  void SetUp() override {
    if (std::system("command -v srec_cat > /dev/null") != 0) GTEST_SKIP() << "no srec_cat";
  }
  // `n` random bytes, and srec_cat's Motorola file of them at `base` in records
  // with 2 or 3 address bytes, ending with a termination record and no count
  // record (which the transfer would skip with a message); the check takes it.
  std::pair<std::string, std::string> records(std::size_t n, std::uint32_t base,
                                              int address_bytes) {
    std::mt19937 rng(base);
    std::string data(n, '\0');
    for (char& c : data)
      c = static_cast<char>(rng() & 0xFF);
    test::write_file(dir / "data.bin", data);
    const std::string at = std::to_string(base);
    const std::string out = (dir / ("data" + std::to_string(address_bytes) + ".s19")).string();
    const auto r =
        test::run_process({"srec_cat", (dir / "data.bin").string(), "-binary", "-offset", at, "-o",
                           out, "-motorola", "-address-length=" + std::to_string(address_bytes),
                           "-disable=data-count", "-execution-start-address=" + at},
                          30s);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const SRecordReport report = check_srecord_file(out);
    EXPECT_TRUE(report.ok()) << report.errors.front().message;
    return {data, out};
  }
};

// S1 records into the bootloader's RAM (the download application), S2 records
// through the started download application into the flash.
TEST_F(SrecCat, RecordsReachTheBootloaderAndTheFlashIntact) {
  test::RecordingFlashView flash_view;
  Bootloader boot(comms, prompts, flash_view);
  controller().write_register(reg::kDownloadMode, reg::kDownloadModeArm);
  controller().write_register(reg::kDownloadMode, reg::kDownloadModeLoader);
  clock().advance(5000);

  const auto [app, app_file] = records(6000, 0x0800, 2);
  ASSERT_TRUE(transfer_srecord_file(boot, prompts, app_file));
  EXPECT_EQ(controller().application_image().read(0x0800, app.size()), app);
  EXPECT_EQ(controller().application_image().written_count(), app.size());
  ASSERT_EQ(boot.download_completed(), 1);
  ASSERT_EQ(boot.execute_download_app(kDownloadAppAddress), 1);
  comms.set_port_settings(kXonSlot, kBootloaderSettings);
  ASSERT_EQ(boot.erase_flash(), 1);
  const auto [firmware, firmware_file] = records(70000, 0x012340, 3);
  ASSERT_TRUE(transfer_srecord_file(boot, prompts, firmware_file));
  EXPECT_EQ(controller().flash().read(0x012340, firmware.size()), firmware);
  EXPECT_EQ(controller().flash().written_count(), firmware.size());
  EXPECT_TRUE(prompts.boxes.empty());
}

}  // namespace
}  // namespace r7
