#include "sim/profile.h"

#include "modbus/registers.h"
#include "sim/catalog.h"

namespace r7::sim {

namespace {

constexpr int kNameWindowEnd = reg::kProfileNameBase + 40 * kNameLength;  // 3900
constexpr int kNoProfile = -1;
constexpr int kNoStep = -2;
constexpr int kIllegalAddress = 2;
constexpr int kIllegalValue = 3;
// What this controller makes of the edit commands 2 and 4.
constexpr int kInsertStep = reg::kProfileEditA;
constexpr int kDeleteStep = reg::kProfileEditB;

bool is_name_register(int reg) {
  return reg >= reg::kProfileNameBase && reg < kNameWindowEnd;
}

}  // namespace

Step make_step(int type, std::initializer_list<std::pair<int, int>> settings) {
  Step s;
  s.type = type;
  for (const StepRegister& r : kStepRegisters)
    s.values[r.number] = r.default_value;
  for (const auto& [reg, value] : settings)
    s.values[reg] = static_cast<std::int16_t>(value);
  return s;
}

Profile make_profile(const std::string& name, std::vector<Step> steps) {
  Profile p;
  for (int k = 0; k < kNameLength; ++k) {
    p.name[static_cast<std::size_t>(k)] = static_cast<std::int16_t>(
        k < static_cast<int>(name.size()) ? name[static_cast<std::size_t>(k)] : ' ');
  }
  p.steps = std::move(steps);
  return p;
}

std::string name_text(const Profile& profile) {
  std::string s;
  for (std::int16_t c : profile.name)
    s += (c >= 32 && c <= 126) ? static_cast<char>(c) : '?';
  return s;
}

ProfileStore::ProfileStore(int max_profiles) : max_profiles_(max_profiles) {}

bool ProfileStore::holds(int reg) {
  return is_name_register(reg) || (reg >= reg::kProfileSelect && reg <= reg::kStepType) ||
         find_step_register(reg) != nullptr;
}

void ProfileStore::set_profiles(Profiles profiles) {
  profiles_ = std::move(profiles);
}

void ProfileStore::select(int profile, int step) {
  selected_profile_ = profile;
  selected_step_ = step;
}

Profile* ProfileStore::profile() {
  auto it = profiles_.find(selected_profile_);
  return it == profiles_.end() ? nullptr : &it->second;
}

const Profile* ProfileStore::profile() const {
  auto it = profiles_.find(selected_profile_);
  return it == profiles_.end() ? nullptr : &it->second;
}

Step* ProfileStore::step() {
  Profile* p = profile();
  if (p == nullptr || selected_step_ < 1 || selected_step_ > static_cast<int>(p->steps.size())) {
    return nullptr;
  }
  return &p->steps[static_cast<std::size_t>(selected_step_ - 1)];
}

const Step* ProfileStore::step() const {
  const Profile* p = profile();
  if (p == nullptr || selected_step_ < 1 || selected_step_ > static_cast<int>(p->steps.size())) {
    return nullptr;
  }
  return &p->steps[static_cast<std::size_t>(selected_step_ - 1)];
}

std::optional<std::int16_t> ProfileStore::read(int reg) const {
  if (reg == reg::kProfileSelect) return static_cast<std::int16_t>(selected_profile_);
  if (reg == reg::kStepSelect) return static_cast<std::int16_t>(selected_step_);
  if (reg == reg::kProfileCommand) return 0;
  if (reg == reg::kStepType) {
    if (profile() == nullptr) return kNoProfile;
    const Step* s = step();
    return static_cast<std::int16_t>(s == nullptr ? kNoStep : s->type);
  }
  if (is_name_register(reg)) {
    const Profile* p = profile();
    if (p == nullptr) return std::nullopt;
    return p->name[static_cast<std::size_t>((reg - reg::kProfileNameBase) % kNameLength)];
  }
  if (find_step_register(reg) != nullptr) {
    const Step* s = step();
    if (s == nullptr) return std::nullopt;
    return s->values.at(reg);
  }
  return std::nullopt;
}

int ProfileStore::write(int reg, std::int16_t value) {
  if (reg == reg::kProfileSelect) {
    selected_profile_ = value;
    return 0;
  }
  if (reg == reg::kStepSelect) {
    selected_step_ = value;
    return 0;
  }
  if (reg == reg::kProfileCommand) return command(value);
  if (reg == reg::kStepType) {
    Step* s = step();
    if (s == nullptr) return kIllegalAddress;
    if (value < 0 || value >= kStepTypeCount) return kIllegalValue;
    const bool end = s->type == reg::kStepTypeEnd;
    if (end != (value == reg::kStepTypeEnd)) return kIllegalValue;
    s->type = value;
    return 0;
  }
  if (is_name_register(reg)) {
    Profile* p = profile();
    if (p == nullptr) return kIllegalAddress;
    if (value < 0 || value > 255) return kIllegalValue;
    p->name[static_cast<std::size_t>((reg - reg::kProfileNameBase) % kNameLength)] = value;
    return 0;
  }
  if (const StepRegister* r = find_step_register(reg)) {
    Step* s = step();
    if (s == nullptr) return kIllegalAddress;
    if (value < r->min || value > r->max) return kIllegalValue;
    s->values[reg] = value;
    return 0;
  }
  return kIllegalAddress;
}

int ProfileStore::command(std::int16_t value) {
  switch (value) {
    case reg::kProfileCreate: {
      int number = 1;
      while (profiles_.count(number) != 0)
        ++number;
      if (number > max_profiles_) return kIllegalValue;
      Profile p;
      p.name.fill(' ');
      p.steps.push_back(make_step(reg::kStepTypeEnd));
      profiles_[number] = std::move(p);
      select(number, 1);
      return 0;
    }
    case kInsertStep: {
      Profile* p = profile();
      if (p == nullptr) return kIllegalAddress;
      if (step() == nullptr || static_cast<int>(p->steps.size()) >= kMaxSteps) {
        return kIllegalValue;
      }
      p->steps.insert(p->steps.begin() + (selected_step_ - 1), make_step(0));
      return 0;
    }
    case reg::kProfileErase:
      profiles_.erase(selected_profile_);
      return 0;
    case kDeleteStep: {
      Profile* p = profile();
      if (p == nullptr) return kIllegalAddress;
      const Step* s = step();
      if (s == nullptr || s->type == reg::kStepTypeEnd) return kIllegalValue;
      p->steps.erase(p->steps.begin() + (selected_step_ - 1));
      return 0;
    }
    default:
      return kIllegalValue;
  }
}

}  // namespace r7::sim
