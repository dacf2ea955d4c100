// The simulated controller's state file: what r7sim --state keeps between runs.
#include <gtest/gtest.h>

#include <filesystem>

#include "sim/simulation.h"
#include "sim/state_file.h"
#include "support/sim_printers.h"
#include "support/temp_dir.h"

namespace r7::sim {
namespace {

TEST(SimState, SetupProfilesAndFirmwareSurviveTheFile) {
  test::TempDir dir;
  const auto file = dir / "r7.json";
  ControllerConfig config = default_config(kModel6170);
  config.serial_a = 12;
  config.serial_b = 345;
  Simulation first(config);
  Controller& c = first.controller();
  c.set_register(100, 1);
  c.set_register(1300, 0);
  Profiles profiles = demo_profiles(kModel6170);
  profiles[7] = make_profile("SEVEN", {make_step(3, {{4015, 1}, {4016, 9}}), make_step(5)});
  c.set_profiles(profiles);
  // A completed download with software 0x0104 in its field.
  SavedState saved = c.saved_state();
  saved.firmware = FirmwareState::Complete;
  saved.software_field = "523744530104";
  c.load(saved);

  save_state_file(c, file);
  EXPECT_FALSE(std::filesystem::exists(dir / "r7.json.new"));
  const auto loaded = load_state_file(file);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->model, kModel6170);

  ControllerConfig again = default_config(kModel6170);
  apply_identity(*loaded, again);
  EXPECT_EQ(again.serial_a, 12);
  EXPECT_EQ(again.serial_b, 345);
  Simulation second(again);
  second.controller().load(loaded->state);
  EXPECT_EQ(second.controller().snapshot(), c.snapshot());
  EXPECT_EQ(second.controller().snapshot().registers.at(1300), 0);
  EXPECT_EQ(second.controller().firmware_state(), FirmwareState::Complete);
  EXPECT_EQ(second.controller().software_field(), "523744530104");
  second.controller().power_cycle();
  EXPECT_EQ(second.controller().read_register(3), 0x0104);
  EXPECT_EQ(second.controller().mode(), Mode::Application);

  // Another model's identity is not taken.
  ControllerConfig other = default_config(kModel6180);
  apply_identity(*loaded, other);
  EXPECT_EQ(other.serial_a, default_config(kModel6180).serial_a);
}

TEST(SimState, AnInterruptedDownloadRestartsInTheBootloader) {
  Simulation sim(kModel6180);
  SavedState s = sim.controller().saved_state();
  s.firmware = FirmwareState::Erased;
  sim.controller().load(s);
  EXPECT_EQ(sim.controller().mode(), Mode::Bootloader);
  const StateFile parsed = parse_state(state_json(sim.controller()));
  EXPECT_EQ(parsed.state.firmware, FirmwareState::Erased);
}

TEST(SimState, MissingAndBrokenFiles) {
  test::TempDir dir;
  EXPECT_FALSE(load_state_file(dir / "none.json").has_value());
  test::write_file(dir / "bad.json", "{ \"format\": 1, ");
  EXPECT_THROW(load_state_file(dir / "bad.json"), std::runtime_error);
  Simulation sim(kModel6180);
  std::string text = state_json(sim.controller());
  EXPECT_NO_THROW(parse_state(text));
  const auto at = text.find("\"factory\"");
  ASSERT_NE(at, std::string::npos);
  EXPECT_THROW(parse_state(text.substr(0, at) + "\"melted\"" + text.substr(at + 9)),
               std::runtime_error);
  const auto reg = text.find("\"4004\"");
  ASSERT_NE(reg, std::string::npos);
  EXPECT_THROW(parse_state(text.substr(0, reg) + "\"4999\"" + text.substr(reg + 6)),
               std::runtime_error);
  EXPECT_THROW(save_state_file(sim.controller(), dir / "no" / "such" / "dir.json"),
               std::runtime_error);
}

}  // namespace
}  // namespace r7::sim
