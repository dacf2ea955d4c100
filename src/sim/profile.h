// Profiles of the simulated controller: numbered 1..max, each a name of ten
// character codes and a list of steps whose last one is the end step (type 5).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace r7::sim {

inline constexpr int kNameLength = 10;
inline constexpr int kMaxSteps = 256;  // end step included

struct Step {
  int type = 0;
  // Every step register (4004..4035, 4060) with its value.
  std::map<int, std::int16_t> values;

  bool operator==(const Step&) const = default;
};

struct Profile {
  std::array<std::int16_t, kNameLength> name{};
  std::vector<Step> steps;

  bool operator==(const Profile&) const = default;
};

using Profiles = std::map<int, Profile>;

// A step of `type` with every step register at its default, then `settings`.
Step make_step(int type, std::initializer_list<std::pair<int, int>> settings = {});
// A profile named `name` (cut or filled with blanks to ten characters).
Profile make_profile(const std::string& name, std::vector<Step> steps);
// The name as text (codes outside 32..126 shown as '?').
std::string name_text(const Profile& profile);

// The profile access registers (4000..4003), the name registers and the step
// registers, with the rules below.
//
//   4000  selects profile p (any number; reads back what was selected)
//   4001  selects step s of it (any number)
//   4003  reads the selected step's type: -1 when profile p does not exist,
//         -2 when it has no step s. A write sets the type of the selected step
//         (0..12; 5 only on the end step, which keeps type 5).
//   4002  command, reads 0:
//         1  creates a profile with the lowest free number, whatever 4000 holds;
//            it has one step, the end step, and is selected with step 1
//         2  inserts a new step (type 0, default settings) before the selected
//            step and selects it; refused (3) past the end step or at 256 steps
//         3  erases the selected profile; the others keep their numbers
//            (erasing a missing profile changes nothing)
//         4  deletes the selected step; refused (3) for the end step
//   3500 + 10j + k (j = 0..39, k = 0..9)
//         character k of the selected profile's name. Every ten registers reach
//         the same name, so 3500 + (p - 1) * 10 + k is profile p's name once p
//         is selected, and a new profile's name can be written at 3500..3509.
//   4004..4035, 4060
//         settings of the selected step.
// A register that needs a selected profile or step answers exception 2 when
// there is none; a value out of range gets exception 3.
//
// So writing (4000 p)(4002 1)(4001 1), the end step's registers, (4002 2)
// (4002 4), the name, and for s = 1..n-1 (4001 s)(4002 2)(4003 T) with the
// step's registers rebuilds profile p step by step in order, provided p is the
// lowest free number at that moment (a restore creates placeholders for that).
class ProfileStore {
 public:
  explicit ProfileStore(int max_profiles);

  static bool holds(int reg);
  // The register's value, or the exception code (2).
  std::optional<std::int16_t> read(int reg) const;
  // 0 when accepted, otherwise the exception code (2 or 3).
  int write(int reg, std::int16_t value);

  const Profiles& profiles() const { return profiles_; }
  void set_profiles(Profiles profiles);
  int max_profiles() const { return max_profiles_; }
  int selected_profile() const { return selected_profile_; }
  int selected_step() const { return selected_step_; }
  void select(int profile, int step);

 private:
  Profile* profile();
  const Profile* profile() const;
  Step* step();
  const Step* step() const;
  int command(std::int16_t value);

  int max_profiles_;
  Profiles profiles_;
  int selected_profile_ = 1;
  int selected_step_ = 1;
};

}  // namespace r7::sim
