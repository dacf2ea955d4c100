// Profiles of the simulated controller: the register rules of the store, and
// the 6170's demonstration setup through the real save and restore.
#include <gtest/gtest.h>

#include <vector>

#include "sim/profile.h"
#include "support/setup_fixture.h"

namespace r7::sim {
namespace {

class ProfileStoreTest : public ::testing::Test {
 protected:
  ProfileStoreTest() { store.set_profiles(default_profiles()); }
  int type_of(int profile, int step) {
    store.select(profile, step);
    return *store.read(4003);
  }
  ProfileStore store{40};
};

TEST_F(ProfileStoreTest, CreateTakesTheLowestFreeNumberAndEraseKeepsTheOthers) {
  EXPECT_EQ(store.write(4000, 7), 0);
  EXPECT_EQ(*store.read(4003), -1);  // no profile 7
  EXPECT_EQ(store.write(4002, 1), 0);
  EXPECT_EQ(*store.read(4000), 2);  // 1 exists, so 2, whatever 4000 held
  EXPECT_EQ(*store.read(4001), 1);
  EXPECT_EQ(*store.read(4003), 5);  // a new profile is its end step alone
  EXPECT_EQ(type_of(2, 2), -2);
  store.select(1, 1);
  EXPECT_EQ(store.write(4002, 3), 0);  // erase 1: 2 keeps its number
  EXPECT_EQ(type_of(2, 1), 5);
  EXPECT_EQ(store.write(4002, 1), 0);
  EXPECT_EQ(store.selected_profile(), 1);  // the gap is filled first
  store.select(3, 1);
  EXPECT_EQ(store.write(4002, 3), 0);  // erasing a missing profile changes nothing
  EXPECT_EQ(store.profiles().size(), 2U);
  ProfileStore full(1);
  full.set_profiles(default_profiles());
  EXPECT_EQ(full.write(4002, 1), 3);
}

TEST_F(ProfileStoreTest, InsertGoesBeforeTheSelectedStepAndDeleteRemovesIt) {
  store.select(1, 1);
  EXPECT_EQ(store.write(4002, 2), 0);  // [new, end], the new one selected
  EXPECT_EQ(*store.read(4003), 0);
  EXPECT_EQ(store.write(4003, 2), 0);
  store.select(1, 2);
  EXPECT_EQ(store.write(4002, 2), 0);  // [2, new, end]
  EXPECT_EQ(store.write(4003, 7), 0);
  EXPECT_EQ(type_of(1, 1), 2);
  EXPECT_EQ(type_of(1, 2), 7);
  EXPECT_EQ(type_of(1, 3), 5);
  store.select(1, 1);
  EXPECT_EQ(store.write(4002, 4), 0);  // delete step 1
  EXPECT_EQ(type_of(1, 1), 7);
  EXPECT_EQ(type_of(1, 3), -2);
  store.select(1, 2);
  EXPECT_EQ(store.write(4002, 4), 3);  // the end step stays
  store.select(1, 3);
  EXPECT_EQ(store.write(4002, 2), 3);  // nothing after the end step
  EXPECT_EQ(store.write(4002, 9), 3);
}

TEST_F(ProfileStoreTest, StepTypesAndSettingsNeedAStepAndAValueInRange) {
  store.select(1, 1);
  EXPECT_EQ(store.write(4003, 5), 0);  // the end step keeps type 5
  EXPECT_EQ(store.write(4003, 0), 3);
  EXPECT_EQ(store.write(4060, 2), 0);
  EXPECT_EQ(*store.read(4060), 2);
  EXPECT_EQ(store.write(4060, 4), 3);
  store.write(4002, 2);
  for (int type : {5, 13, -1})  // one end step; types 0..12
    EXPECT_EQ(store.write(4003, type), 3) << type;
  EXPECT_EQ(store.write(4003, 12), 0);
  EXPECT_EQ(store.write(4017, 0), 3);
  store.select(1, 3);
  EXPECT_FALSE(store.read(4060).has_value());
  EXPECT_EQ(store.write(4004, 1), 2);
  store.select(3, 1);
  EXPECT_EQ(store.write(4003, 1), 2);  // no such profile
}

TEST_F(ProfileStoreTest, NameRegistersAreAWindowOntoTheSelectedProfile) {
  store.write(4002, 1);  // profile 2, selected
  EXPECT_EQ(store.write(3500, 'A'), 0);
  EXPECT_EQ(store.write(3519, 'Z'), 0);  // 3510 + 9 reaches the same name
  EXPECT_EQ(name_text(store.profiles().at(2)), "A        Z");
  EXPECT_EQ(name_text(store.profiles().at(1)), "          ");
  EXPECT_EQ(*store.read(3510), 'A');
  EXPECT_EQ(store.write(3501, 256), 3);
  store.select(5, 1);
  EXPECT_FALSE(store.read(3500).has_value());
  EXPECT_EQ(store.write(3500, 'B'), 2);
}

// The 6170's demonstration setup (profiles 1 and 3) saved and restored by the
// real procedures; setup_restore_test.cpp runs the 6180's and other cases.
class DemoRoundTrip6170 : public test::SetupFixture {
 protected:
  DemoRoundTrip6170() : SetupFixture(default_config(kModel6170)) {}
};

TEST_F(DemoRoundTrip6170, ComesBackWithItsProfileNumbers) {
  const Snapshot before = controller().snapshot();
  save(setups() / "demo.txt");
  controller().restore_defaults();
  restore(setups() / "demo.txt");
  EXPECT_EQ(session.refusals(), 0);
  EXPECT_EQ(placeholders, std::vector<int>{2});
  EXPECT_EQ(controller().snapshot(), before);
}

}  // namespace
}  // namespace r7::sim
