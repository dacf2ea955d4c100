// The simulated controller's state file: what r7sim --state keeps between runs.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sim/simulation.h"
#include "sim/state_file.h"
#include "support/sim_printers.h"
#include "support/temp_dir.h"

namespace r7::sim {
namespace {

TEST(SimState, SetupProfilesFirmwareAndIdentitySurviveTheFile) {
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
  SavedState saved = c.saved_state();  // a completed download of software 0104
  saved.firmware = FirmwareState::Complete;
  saved.software_field = "523744530104";
  c.load(saved);
  save_state_file(c, dir / "r7.json");

  const auto loaded = load_state_file(dir / "r7.json");
  ASSERT_TRUE(loaded.has_value());
  ControllerConfig again = default_config(kModel6170);
  apply_identity(*loaded, again);
  EXPECT_EQ(again.serial_a, 12);
  Simulation second(again);
  second.controller().load(loaded->state);
  EXPECT_EQ(second.controller().snapshot(), c.snapshot());
  second.controller().power_cycle();
  EXPECT_EQ(second.controller().read_register(3), 0x0104);

  ControllerConfig other = default_config(kModel6180);  // another model's identity is not taken
  apply_identity(*loaded, other);
  EXPECT_EQ(other.serial_a, default_config(kModel6180).serial_a);
}

TEST(SimState, AnInterruptedDownloadRestartsInTheBootloader) {
  Simulation sim(kModel6180);
  SavedState s = sim.controller().saved_state();
  s.firmware = FirmwareState::Erased;
  sim.controller().load(s);
  EXPECT_EQ(sim.controller().mode(), Mode::Bootloader);
  EXPECT_EQ(parse_state(state_json(sim.controller())).state.firmware, FirmwareState::Erased);
}

TEST(SimState, MissingAndBrokenFiles) {
  test::TempDir dir;
  EXPECT_FALSE(load_state_file(dir / "none.json").has_value());
  test::write_file(dir / "bad.json", "{ \"format\": 1, ");
  EXPECT_THROW(load_state_file(dir / "bad.json"), std::runtime_error);
  Simulation sim(kModel6180);
  const std::string text = state_json(sim.controller());
  const std::pair<std::string, std::string> edits[] = {{"\"factory\"", "\"melted\""},
                                                       {"\"4004\"", "\"4999\""}};
  for (const auto& [good, bad] : edits) {
    std::string broken = text;
    broken.replace(broken.find(good), good.size(), bad);
    EXPECT_THROW(parse_state(broken), std::runtime_error) << bad;
  }
  EXPECT_THROW(save_state_file(sim.controller(), dir / "no" / "such" / "dir.json"),
               std::runtime_error);
}

}  // namespace
}  // namespace r7::sim
