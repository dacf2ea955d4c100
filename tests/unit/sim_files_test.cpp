// The simulated controller's state file (r7sim --state), and the demo program
// directory's S-record files (the sequence files: sim_profiles_test.cpp).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "flash/srecord_check.h"
#include "samples/sample_files.h"
#include "sim/simulation.h"
#include "sim/state_file.h"
#include "support/sim_printers.h"
#include "support/temp_dir.h"

namespace r7::sim {
namespace {

TEST(SimState, SetupProfilesAndIdentitySurviveTheFile) {
  test::TempDir dir;
  ControllerConfig config = default_config(kModel6170);
  config.serial_a = 12;
  Simulation first(config);
  Controller& c = first.controller();
  c.set_register(100, 1);
  c.set_register(1300, 0);
  Profiles profiles = demo_profiles(kModel6170);
  profiles[7] = make_profile("SEVEN", {make_step(3, {{4015, 1}, {4016, 9}}), make_step(5)});
  c.set_profiles(profiles);
  save_state_file(c, dir / "r7.json");

  const auto loaded = load_state_file(dir / "r7.json");
  ASSERT_TRUE(loaded.has_value());
  ControllerConfig again = default_config(kModel6170);
  apply_identity(*loaded, again);
  EXPECT_EQ(again.serial_a, 12);
  Simulation second(again);
  second.controller().load(loaded->state);
  EXPECT_EQ(second.controller().snapshot(), c.snapshot());

  ControllerConfig other = default_config(kModel6180);  // another model's identity is not taken
  apply_identity(*loaded, other);
  EXPECT_EQ(other.serial_a, default_config(kModel6180).serial_a);
}

// The state a download left behind, through the state file, and what runs
// after a power cycle: only intact firmware, with the software number of a
// completed download's image.
TEST(SimState, APowerCycleRunsOnlyIntactFirmware) {
  const struct {
    FirmwareState firmware;
    const char* field;
    Mode mode;
    int software;
  } cases[] = {{FirmwareState::Factory, "", Mode::Application, 2},
               {FirmwareState::Erased, "", Mode::Bootloader, 2},
               {FirmwareState::Complete, "", Mode::Bootloader, 2},  // without the field
               {FirmwareState::Complete, "523741420104", Mode::Application, 0x0104}};
  for (const auto& c : cases) {
    Simulation first(kModel6180), second(kModel6180);
    SavedState s = first.controller().saved_state();
    s.firmware = c.firmware;
    s.software_field = c.field;
    first.controller().load(s);
    Controller& controller = second.controller();
    controller.load(parse_state(state_json(first.controller())).state);
    EXPECT_EQ(controller.mode(),
              c.firmware == FirmwareState::Erased ? Mode::Bootloader : Mode::Application);
    controller.power_cycle();
    EXPECT_EQ(controller.mode(), c.mode) << c.field;
    EXPECT_EQ(controller.software(), c.software) << c.field;
  }
}

TEST(SimState, MissingAndBrokenFiles) {
  test::TempDir dir;
  EXPECT_FALSE(load_state_file(dir / "none.json").has_value());
  Simulation sim(kModel6180);
  const std::string text = state_json(sim.controller());
  const std::pair<std::string, std::string> edits[] = {
      {"\"factory\"", "\"melted\""}, {"\"4004\"", "\"4999\""}, {text.substr(20), ""}};
  for (const auto& [good, bad] : edits) {
    std::string broken = text;
    broken.replace(broken.find(good), good.size(), bad);
    test::write_file(dir / "bad.json", broken);
    EXPECT_THROW(load_state_file(dir / "bad.json"), std::runtime_error) << bad;
  }
  EXPECT_THROW(save_state_file(sim.controller(), dir / "no" / "such" / "dir.json"),
               std::runtime_error);
}

// The checked records of an S-record file whose lines must all end in CR LF,
// which holds `types` ("S0S2S8") and starts at `first`.
SRecordReport check(const std::string& file, const std::string& types, std::uint32_t first) {
  std::vector<SRecord> lines;
  std::istringstream in(file);
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(line.ends_with('\r')) << "line " << lines.size() + 1 << " ends without CR LF";
    lines.emplace_back(std::string_view(line).substr(0, line.size() - 1));
  }
  const SRecordReport report = check_srecords(lines);
  EXPECT_TRUE(report.ok()) << (report.ok() ? "" : report.errors[0].message);
  std::string found;
  for (const auto& [type, count] : report.records_by_type)
    found += type;
  EXPECT_EQ(found, types);
  EXPECT_EQ(report.first_address, first);
  return report;
}

TEST(SampleFiles, SRecordFilesAreSoundAndFirmwareCarriesItsSoftwareNumber) {
  for (const FirmwareSample& f : kFirmwareSamples) {
    SCOPED_TRACE(f.file);
    const SRecordReport r = check(firmware_file(f), "S0S2S8", kFirmwareBase);
    EXPECT_EQ(r.last_address, kFirmwareBase + f.size - 1);
    EXPECT_EQ(r.data_bytes, f.size);  // no gaps, no overlaps
    ASSERT_TRUE(r.software_field.has_value());
    EXPECT_EQ(r.software_field->substr(0, 8), device_code(f.model));
    EXPECT_EQ(std::stoi(r.software_field->substr(8), nullptr, 16), f.software);
  }
  check(download_application(false), "S0S1S9", 0x0800);
  check(download_application(true), "S0S2S8", 0x080000);
}

}  // namespace
}  // namespace r7::sim
