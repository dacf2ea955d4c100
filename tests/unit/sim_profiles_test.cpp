// Profiles of the simulated controller: the register rules of the store, and
// each model's demonstration setup through the sample sequence files and the
// real save and restore.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <vector>

#include "sim/profile.h"
#include "support/setup_fixture.h"

namespace r7::sim {
namespace {

constexpr int kRead = 100000;  // in a script: read the register instead
constexpr int kNone = -100;    // a read without a value (exception 2)

class ProfileStoreTest : public ::testing::Test {
 protected:
  ProfileStoreTest() { store.set_profiles(default_profiles()); }
  // Each {register, value, expected}: writes the value and expects that code,
  // or with kRead reads the register and expects that value.
  void run(std::initializer_list<std::array<int, 3>> script) {
    for (const auto& [reg, value, expected] : script) {
      const int got = value == kRead ? store.read(reg).value_or(kNone)
                                     : store.write(reg, static_cast<std::int16_t>(value));
      EXPECT_EQ(got, expected) << reg << " " << value;
    }
  }
  ProfileStore store{40};
};

TEST_F(ProfileStoreTest, CreateTakesTheLowestFreeNumberAndEraseKeepsTheOthers) {
  run({{4000, 7, 0}, {4003, kRead, -1}});  // no profile 7
  run({{4002, 1, 0}, {4000, kRead, 2}});   // 1 exists, so 2, whatever 4000 held
  run({{4001, kRead, 1}, {4003, kRead, 5}, {4001, 2, 0}, {4003, kRead, -2}});  // the end step alone
  run({{4000, 1, 0}, {4002, 3, 0}});  // erase 1: 2 keeps its number
  run({{4000, 2, 0}, {4001, 1, 0}, {4003, kRead, 5}});
  run({{4002, 1, 0}, {4000, kRead, 1}});  // the gap is filled first
  run({{4000, 3, 0}, {4002, 3, 0}});      // erasing a missing profile changes nothing
  EXPECT_EQ(store.profiles().size(), 2U);
  ProfileStore full(1);
  full.set_profiles(default_profiles());
  EXPECT_EQ(full.write(4002, 1), 3);
}

TEST_F(ProfileStoreTest, StepsAreInsertedBeforeTheSelectedOneAndTheEndStepStaysLast) {
  run({{4002, 2, 0}, {4003, kRead, 0}, {4003, 2, 0}});  // [new, end], the new one selected
  run({{4001, 2, 0}, {4002, 2, 0}, {4003, 7, 0}});      // [2, new, end]
  run({{4001, 1, 0}, {4003, kRead, 2}, {4001, 3, 0}, {4003, kRead, 5}});  // [2, 7, end]
  run({{4001, 2, 0}, {4003, kRead, 7}});
  run({{4001, 1, 0}, {4002, 4, 0}});                                   // delete step 1
  run({{4003, kRead, 7}, {4001, 2, 0}, {4003, kRead, 5}});             // [7, end]
  run({{4001, 3, 0}, {4003, kRead, -2}, {4002, 2, 3}, {4002, 9, 3}});  // nothing after the end
  run({{4001, 2, 0}, {4002, 4, 3}, {4003, 5, 0}, {4003, 0, 3}});       // which stays, with type 5
  run({{4060, 2, 0}, {4060, kRead, 2}, {4060, 4, 3}});
  run({{4001, 1, 0}, {4003, 5, 3}, {4003, 13, 3}, {4003, -1, 3}, {4003, 12, 0}, {4017, 0, 3}});
  run({{4001, 3, 0}, {4060, kRead, kNone}, {4004, 1, 2}});  // no step 3
  run({{4000, 3, 0}, {4001, 1, 0}, {4003, 1, 2}});          // no profile 3
}

TEST_F(ProfileStoreTest, NameRegistersAreAWindowOntoTheSelectedProfile) {
  run({{4002, 1, 0}, {3500, 'A', 0}, {3519, 'Z', 0}});  // 3510 + 9: the same name
  run({{3510, kRead, 'A'}, {3501, 256, 3}});
  EXPECT_EQ(name_text(store.profiles().at(2)), "A        Z");
  EXPECT_EQ(name_text(store.profiles().at(1)), "          ");
  run({{4000, 5, 0}, {3500, kRead, kNone}, {3500, 'B', 2}});
}

// The demonstration setups have a gap in their profile numbers (6180: 1, 2, 4;
// 6170: 1, 3), so a restore needs one placeholder profile. A 6180 keeps 40
// profiles, a 6170 20.
class DemoRoundTrip : public test::SetupFixture, public ::testing::WithParamInterface<int> {
 protected:
  DemoRoundTrip() : SetupFixture(default_config(GetParam())) {}
};

TEST_P(DemoRoundTrip, ComesBackWholeWithItsProfileNumbers) {
  const Snapshot before = controller().snapshot();
  save(setups() / "demo.txt");
  controller().restore_defaults();
  restore(setups() / "demo.txt");
  EXPECT_EQ(session.refusals(), 0);
  EXPECT_EQ(placeholders, std::vector<int>{GetParam() == kModel6180 ? 3 : 2});
  EXPECT_EQ(controller().snapshot(), before);
  while (controller().write_register(4002, 1) == 0) {  // create until refused
  }
  EXPECT_EQ(controller().profiles().size(), GetParam() == kModel6180 ? 40U : 20U);
}

INSTANTIATE_TEST_SUITE_P(Models, DemoRoundTrip, ::testing::Values(kModel6180, kModel6170));

}  // namespace
}  // namespace r7::sim
