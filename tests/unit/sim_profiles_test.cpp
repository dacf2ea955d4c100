// Profiles of the simulated controller: the register rules, and the round trip
// of a setup save's reads and a restore's writes (placeholders included),
// replayed register by register over the simulated line.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "modbus/registers.h"
#include "sim/catalog.h"
#include "sim/profile.h"
#include "sim/sample_files.h"
#include "sim/simulation.h"
#include "support/line_master.h"
#include "support/sim_printers.h"

namespace r7::sim {
namespace {

using test::LineMaster;

// ---- the register rules ----

class ProfileStoreTest : public ::testing::Test {
 protected:
  ProfileStoreTest() : store(40) { store.set_profiles(default_profiles()); }
  int type_of(int profile, int step) {
    store.select(profile, step);
    return *store.read(reg::kStepType);
  }
  ProfileStore store;
};

TEST_F(ProfileStoreTest, CreateTakesTheLowestFreeNumberWhateverIsSelected) {
  EXPECT_EQ(store.write(4000, 7), 0);
  EXPECT_EQ(*store.read(4003), -1);  // no profile 7
  EXPECT_EQ(store.write(4002, 1), 0);
  EXPECT_EQ(store.selected_profile(), 2);  // 1 exists, so 2
  EXPECT_EQ(*store.read(4000), 2);
  EXPECT_EQ(*store.read(4003), 5);  // a new profile is its end step alone
  ASSERT_EQ(store.profiles().at(2).steps.size(), 1U);

  store.write(4000, 1);
  EXPECT_EQ(store.write(4002, 3), 0);  // erase 1: 2 keeps its number
  EXPECT_EQ(store.profiles().count(1), 0U);
  EXPECT_EQ(store.profiles().count(2), 1U);
  store.write(4000, 9);
  store.write(4002, 1);
  EXPECT_EQ(store.selected_profile(), 1);  // the gap is filled first
  EXPECT_EQ(store.write(4002, 3), 0);
  EXPECT_EQ(store.write(4002, 3), 0);  // erasing a missing profile changes nothing
  EXPECT_EQ(store.profiles().size(), 1U);
}

TEST_F(ProfileStoreTest, CreateIsRefusedWhenEveryNumberIsTaken) {
  ProfileStore small(2);
  small.set_profiles(default_profiles());
  EXPECT_EQ(small.write(4002, 1), 0);
  EXPECT_EQ(small.write(4002, 1), 3);
  EXPECT_EQ(small.profiles().size(), 2U);
}

TEST_F(ProfileStoreTest, InsertGoesBeforeTheSelectedStepAndDeleteRemovesIt) {
  store.select(1, 1);
  EXPECT_EQ(store.write(4002, 2), 0);  // [new, end], the new one selected
  EXPECT_EQ(*store.read(4003), 0);
  EXPECT_EQ(store.write(4003, 2), 0);
  EXPECT_EQ(type_of(1, 2), 5);
  store.select(1, 2);
  EXPECT_EQ(store.write(4002, 2), 0);  // [2, new, end]
  EXPECT_EQ(store.write(4003, 7), 0);
  EXPECT_EQ(type_of(1, 1), 2);
  EXPECT_EQ(type_of(1, 2), 7);
  EXPECT_EQ(type_of(1, 3), 5);
  EXPECT_EQ(type_of(1, 4), -2);  // no such step

  store.select(1, 1);
  EXPECT_EQ(store.write(4002, 4), 0);  // delete step 1
  EXPECT_EQ(type_of(1, 1), 7);
  store.select(1, 2);
  EXPECT_EQ(store.write(4002, 4), 3);  // the end step stays
  store.select(1, 3);
  EXPECT_EQ(store.write(4002, 2), 3);  // nothing after the end step
  EXPECT_EQ(store.write(4002, 9), 3);
}

TEST_F(ProfileStoreTest, StepTypesFollowTheEndStepRule) {
  store.select(1, 1);
  EXPECT_EQ(store.write(4003, 5), 0);  // the end step keeps type 5
  EXPECT_EQ(store.write(4003, 0), 3);
  store.write(4002, 2);
  EXPECT_EQ(store.write(4003, 5), 3);  // only one end step
  EXPECT_EQ(store.write(4003, 13), 3);
  EXPECT_EQ(store.write(4003, -1), 3);
  EXPECT_EQ(store.write(4003, 12), 0);
  store.select(3, 1);
  EXPECT_EQ(store.write(4003, 1), 2);  // no profile selected
}

TEST_F(ProfileStoreTest, NameRegistersAreAWindowOntoTheSelectedProfile) {
  store.write(4002, 1);  // profile 2, selected
  EXPECT_EQ(store.write(3500, 'A'), 0);
  EXPECT_EQ(store.write(3519, 'Z'), 0);  // 3510 + 9 reaches the same name
  EXPECT_EQ(store.profiles().at(2).name[0], 'A');
  EXPECT_EQ(store.profiles().at(2).name[9], 'Z');
  EXPECT_EQ(store.profiles().at(1).name[0], ' ');
  EXPECT_EQ(*store.read(3510), 'A');
  EXPECT_EQ(store.write(3501, 256), 3);
  store.select(5, 1);
  EXPECT_FALSE(store.read(3500).has_value());
  EXPECT_EQ(store.write(3500, 'B'), 2);
}

TEST_F(ProfileStoreTest, StepRegistersNeedAStepAndAValueInRange) {
  store.select(1, 1);
  EXPECT_EQ(store.write(4060, 2), 0);
  EXPECT_EQ(*store.read(4060), 2);
  EXPECT_EQ(store.write(4060, 4), 3);
  EXPECT_EQ(store.write(4017, 0), 3);
  store.select(1, 2);
  EXPECT_FALSE(store.read(4060).has_value());
  EXPECT_EQ(store.write(4004, 1), 2);
  EXPECT_FALSE(ProfileStore::holds(4036));
  EXPECT_FALSE(ProfileStore::holds(3900));
  EXPECT_TRUE(ProfileStore::holds(3899));
}

// The round trip holds only when a demo step differs from a fresh step in the
// registers its type's section lists, since a save reads no others.
TEST(DemoProfiles, StepsDifferFromDefaultsOnlyInTheirSectionRegisters) {
  for (int model : {kModel6180, kModel6170}) {
    const Profiles profiles = demo_profiles(model);
    EXPECT_GE(profiles.size(), 2U);
    bool has_call = false;
    for (const auto& [number, profile] : profiles) {
      EXPECT_LE(number, max_profiles(model));
      ASSERT_FALSE(profile.steps.empty());
      EXPECT_EQ(profile.steps.back().type, 5);
      for (const Step& step : profile.steps) {
        has_call = has_call || step.type == 4;
        const StepTypeInfo& info = kStepTypes.at(static_cast<std::size_t>(step.type));
        const Step fresh = make_step(step.type);
        for (const auto& [reg, value] : step.values) {
          if (value == fresh.values.at(reg)) continue;
          const auto* end = info.registers.begin() + info.count;
          EXPECT_NE(std::find(info.registers.begin(), end, reg), end)
              << "profile " << number << " register " << reg;
        }
      }
    }
    EXPECT_TRUE(has_call) << model;
  }
}

// ---- save and restore, register by register ----

struct SequenceFiles {
  std::vector<int> registers;  // the .cds register lines
  int profile_count = 0;
  std::map<int, std::vector<int>> sections;  // step type -> registers
};

SequenceFiles read_sequence_files(int model) {
  SequenceFiles f;
  std::istringstream cds(download_sequence_file(model));
  std::string line;
  std::getline(cds, line);
  EXPECT_EQ(line.substr(0, 3), "YES");
  while (std::getline(cds, line))
    f.registers.push_back(std::stoi(line));

  std::istringstream pds(profile_sequence_file(model));
  std::getline(pds, line);
  f.profile_count = std::stoi(line);
  std::getline(pds, line);  // free text
  std::map<std::string, int> index;
  std::string section;
  while (std::getline(pds, line)) {
    if (line.empty()) continue;
    if (line[0] == '[') {
      section = line.substr(1, line.size() - 2);
      EXPECT_EQ(index.count(section), 1U) << section;
      f.sections[index[section]];
    } else if (section.empty()) {
      const auto blank = line.find(' ');
      index[line.substr(blank + 1)] = std::stoi(line.substr(0, blank));
    } else {
      f.sections[index[section]].push_back(std::stoi(line));
    }
  }
  return f;
}

using Lines = std::vector<std::pair<int, int>>;

bool is_digital_input(int reg) {
  return (reg >= 1060 && reg <= 1067) || (reg >= 1075 && reg <= 1082);
}

// The reads of a save: registers of the .cds (those answering exception 2 left
// out, digital inputs last), then every profile p = 1..P as a block of
// creation, end-step, name and step lines, then the type-4 steps once more.
Lines save_walk(LineMaster& m, int model) {
  const SequenceFiles files = read_sequence_files(model);
  Lines out;
  Lines digital;
  for (int reg : files.registers) {
    const auto r = m.read(reg);
    EXPECT_TRUE(r.answered) << reg;
    if (r.exception != 0) continue;
    (is_digital_input(reg) ? digital : out).emplace_back(reg, r.value);
  }
  EXPECT_EQ(digital.size(), 16U);

  Lines deferred;
  for (int p = 1; p <= files.profile_count; ++p) {
    Lines profile_lines;
    bool named = false;
    EXPECT_EQ(m.write(4000, p).exception, 0);
    for (int s = 1; s <= 256; ++s) {
      EXPECT_EQ(m.write(4001, s).exception, 0);
      const int type = m.read_value(4003, 1);
      if (type < 0) break;
      const std::vector<int>& section = files.sections.at(type);
      if (!named) {
        out.insert(out.end(), {{4000, p}, {4002, 1}, {4001, 1}});
        profile_lines.insert(profile_lines.end(), {{4002, 2}, {4002, 4}});
        for (int k = 0; k < 10; ++k) {
          const int reg = reg::profile_name_register(p, k);
          profile_lines.emplace_back(reg, m.read_value(reg, 1));
        }
        named = true;
      }
      if (type == 5) {
        for (int reg : section) {
          const auto r = m.read(reg);
          if (r.exception == 0) out.emplace_back(reg, r.value);
          if (reg == 4060 && r.value != 3) break;
        }
        out.insert(out.end(), profile_lines.begin(), profile_lines.end());
        break;
      }
      if (type == 4) deferred.insert(deferred.end(), {{4000, p}, {4001, s}, {4003, 4}});
      profile_lines.insert(profile_lines.end(), {{4001, s}, {4002, 2}, {4003, type}});
      for (int reg : section) {
        const auto r = m.read(reg);
        if (r.exception != 0) continue;
        if (type == 4) deferred.emplace_back(reg, r.value);
        profile_lines.emplace_back(reg, r.value);
      }
    }
  }
  out.insert(out.end(), deferred.begin(), deferred.end());
  out.insert(out.end(), digital.begin(), digital.end());
  out.emplace_back(25, 0);
  return out;
}

class Restorer {
 public:
  Restorer(LineMaster& m, FakeClock& clock) : m_(m), clock_(clock) {}

  // The writes of a restore into a controller returned to its defaults.
  void run(const Lines& lines) {
    m_.write(1602, 800);
    EXPECT_FALSE(m_.read(1300).answered);  // silent while it resets
    EXPECT_EQ(m_.read_value(1300), 0);
    write(4000, 1);  // erase profile 1
    write(4002, 3);
    int current = 0;
    for (const auto& [reg, value] : lines) {
      if (reg == 4000) current = value;
      if (reg == 4002 && value == 1) ensure_placeholders(current);
      if (reg == 25) {
        m_.write(25, value);
        clock_.sleep_ms(13000);
      }
      write(reg, value);
    }
    for (int n : placeholders) {
      write(4000, n);
      write(4002, 3);
    }
  }

  std::vector<int> placeholders;
  std::vector<std::pair<int, int>> refused;

 private:
  void write(int reg, int value) {
    const auto r = m_.write(reg, value);
    ASSERT_TRUE(r.answered) << reg << " := " << value;
    if (r.exception != 0) refused.emplace_back(reg, value);
  }

  void ensure_placeholders(int current) {
    for (int k = 1; k <= 40 && k != current; ++k) {
      write(4000, k);
      write(4001, 1);
      if (m_.read_value(4003, 1) >= 0) continue;
      create_delete_profile(current);
      placeholders.push_back(k);
    }
  }

  // The 26 writes of a placeholder profile named DELETE.
  void create_delete_profile(int profile_number) {
    const Lines writes = {{4000, profile_number},
                          {4002, 1},
                          {4001, 1},
                          {4060, 2},
                          {4002, 2},
                          {4002, 4},
                          {3500, 68},
                          {3501, 69},
                          {3502, 76},
                          {3503, 69},
                          {3504, 84},
                          {3505, 69},
                          {3506, 32},
                          {3507, 32},
                          {3508, 32},
                          {3509, 32},
                          {4001, 1},
                          {4002, 2},
                          {4003, 0},
                          {4004, 0},
                          {4005, 1},
                          {4006, 1},
                          {4007, 2000},
                          {4009, 1},
                          {4010, 0},
                          {4011, 0}};
    for (const auto& [reg, value] : writes)
      write(reg, value);
  }

  LineMaster& m_;
  FakeClock& clock_;
};

class RoundTrip : public ::testing::TestWithParam<int> {
 protected:
  RoundTrip() : sim(GetParam()), port(sim.port_factory().create_port()), m(*port) { port->open(); }
  Restorer restore_all(const Lines& lines) {
    Restorer r(m, *sim.fake_clock());
    r.run(lines);
    return r;
  }

  Simulation sim;
  std::unique_ptr<SerialPort> port;
  LineMaster m;
};

TEST_P(RoundTrip, DemoSetupComesBackWithItsProfileNumbers) {
  const Snapshot before = sim.controller().snapshot();
  const Lines lines = save_walk(m, GetParam());
  // Registers the controller does not hold are left out of the file.
  for (const ParameterRegister& r : parameter_registers(GetParam())) {
    const bool saved =
        std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.first == r.number; });
    EXPECT_EQ(saved, r.held) << r.number;
  }
  const Restorer r = restore_all(lines);
  EXPECT_TRUE(r.refused.empty());
  EXPECT_EQ(r.placeholders, GetParam() == kModel6180 ? std::vector<int>{3} : std::vector<int>{2});
  EXPECT_EQ(sim.controller().snapshot(), before);
}

TEST_P(RoundTrip, ProfilesWithGapsGetPlaceholdersThatAreErasedAgain) {
  Profiles gap;
  gap[3] = make_profile(
      "THREE", {make_step(0, {{4004, 33}}), make_step(4, {{4017, 5}}), make_step(5, {{4060, 1}})});
  gap[5] = make_profile("FIVE", {make_step(2, {{4007, 55}}), make_step(5)});
  sim.controller().set_profiles(gap);
  const Snapshot before = sim.controller().snapshot();
  const Restorer r = restore_all(save_walk(m, GetParam()));
  EXPECT_TRUE(r.refused.empty());
  EXPECT_EQ(r.placeholders, (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(sim.controller().snapshot(), before);
}

// A placeholder writes its name to 3500..3509; profile 1, restored before it,
// must keep its own name.
TEST_P(RoundTrip, PlaceholderAfterProfileOneLeavesItsNameAlone) {
  Profiles gap;
  gap[1] = make_profile("FIRST", {make_step(5)});
  gap[3] = make_profile("THIRD", {make_step(8, {{4006, 3}}), make_step(5)});
  sim.controller().set_profiles(gap);
  const Snapshot before = sim.controller().snapshot();
  const Restorer r = restore_all(save_walk(m, GetParam()));
  EXPECT_EQ(r.placeholders, std::vector<int>{2});
  EXPECT_EQ(name_text(sim.controller().profiles().at(1)), "FIRST     ");
  EXPECT_EQ(sim.controller().snapshot(), before);
}

TEST_P(RoundTrip, AControllerWithoutProfilesSavesNoProfileLines) {
  sim.controller().set_profiles({});
  const Lines lines = save_walk(m, GetParam());
  EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                           [](const auto& l) { return l.first >= 3500 && l.first < 4100; }));
  restore_all(lines);
  EXPECT_TRUE(sim.controller().profiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Models, RoundTrip, ::testing::Values(kModel6180, kModel6170));

}  // namespace
}  // namespace r7::sim
