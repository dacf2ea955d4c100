#include "sim/catalog.h"

#include <algorithm>
#include <span>

namespace r7::sim {

namespace {

struct Param {
  const char* name;
  std::int16_t def;
  std::int16_t min;
  std::int16_t max;
};

constexpr Param kSystem[] = {
    {"Display units", 0, 0, 1},
    {"Display decimal point", 1, 0, 3},
    {"Display brightness", 7, 1, 10},
    {"Display time-out", 0, 0, 120},
    {"Keypad lock", 0, 0, 2},
    {"Password", 0, 0, 9999},
    {"Language", 0, 0, 4},
    {"Power-up mode", 0, 0, 2},
    {"Power-fail recovery", 1, 0, 2},
    {"Clock format", 0, 0, 1},
    {"Tag number", 0, -32768, 32767},  // any 16-bit word
};

constexpr Param kInput[] = {
    {"type", 1, 0, 20},
    {"range low", 0, -1999, 9999},
    {"range high", 1000, -1999, 9999},
    {"offset", 0, -999, 999},
    {"filter", 1, 0, 60},
    {"span adjust", 0, -999, 999},
    {"sensor break action", 0, 0, 2},
    {"square root", 0, 0, 1},
    {"low cut-off", 0, 0, 1000},
    {"cold-junction compensation", 1, 0, 1},
    {"units", 0, 0, 2},
    {"decimal point", 1, 0, 3},
};

constexpr Param kLoop[] = {
    {"control mode", 2, 0, 3},
    {"control action", 0, 0, 1},
    {"proportional band", 50, 1, 9999},
    {"integral time", 240, 0, 9999},
    {"derivative time", 60, 0, 9999},
    {"cycle time", 20, 1, 120},
    {"setpoint", 0, -1999, 9999},
    {"setpoint low limit", 0, -1999, 9999},
    {"setpoint high limit", 1000, -1999, 9999},
    {"output low limit", 0, 0, 100},
    {"output high limit", 100, 0, 100},
    {"on/off hysteresis", 2, 0, 999},
    {"manual reset", 0, 0, 100},
    {"setpoint ramp rate", 0, 0, 9999},
    {"cooling proportional band", 50, 1, 9999},
    {"cooling cycle time", 20, 1, 120},
    {"dead band", 0, -999, 999},
    {"autotune mode", 0, 0, 2},
    {"output on sensor break", 0, 0, 100},
    {"heater current limit", 0, 0, 999},
    {"PID set 2 proportional band", 50, 1, 9999},
    {"PID set 2 integral time", 240, 0, 9999},
    {"PID set 2 derivative time", 60, 0, 9999},
    {"PID set switch point", 0, -1999, 9999},
    {"display name", 0, 0, 15},
};

constexpr Param kAlarm[] = {
    {"type", 0, 0, 12},        {"source", 0, 0, 3},   {"setpoint", 0, -1999, 9999},
    {"hysteresis", 1, 0, 999}, {"latching", 0, 0, 1}, {"inhibit", 0, 0, 1},
    {"delay", 0, 0, 600},      {"output", 0, 0, 8},
};

constexpr Param kOutput[] = {
    {"function", 0, 0, 9},        {"action", 0, 0, 1},     {"minimum on time", 0, 0, 999},
    {"power limit", 100, 0, 100}, {"fail state", 0, 0, 2},
};

constexpr Param kRetransmission[] = {
    {"source", 0, 0, 5},      {"scale low", 0, -1999, 9999}, {"scale high", 1000, -1999, 9999},
    {"signal type", 0, 0, 3}, {"fail value", 0, 0, 100},     {"trim", 0, -999, 999},
};

constexpr Param kDigitalInputCommon[] = {
    {"Digital input debounce time", 20, 0, 500},
    {"Digital input polarity", 0, 0, 255},
};

constexpr Param kEvent[] = {
    {"type", 0, 0, 6},
    {"on time", 0, 0, 9999},
    {"off time", 0, 0, 9999},
    {"output", 0, 0, 8},
};

constexpr Param kTimer[] = {
    {"mode", 0, 0, 3},
    {"preset", 0, 0, 9999},
};

constexpr Param kLog[] = {
    {"Log interval", 60, 1, 3600},
    {"Log channels", 1, 0, 255},
    {"Log mode", 0, 0, 2},
    {"Log trigger", 0, 0, 4},
    {"Log pre-trigger", 0, 0, 100},
    {"Log on alarm", 0, 0, 1},
    {"Log channel 1 source", 0, 0, 7},
    {"Log channel 2 source", 1, 0, 7},
    {"Log channel 3 source", 2, 0, 7},
    {"Log channel 4 source", 3, 0, 7},
    {"Log file rollover", 1, 0, 1},
    {"Log date stamp", 1, 0, 1},
};

// A value of the demonstration setup that differs from the default for about
// two registers in three, spread by a multiplicative hash of the number.
std::int16_t demo_value(int reg, std::int16_t def, std::int16_t min, std::int16_t max) {
  std::uint32_t h = static_cast<std::uint32_t>(reg) * 2654435761U;
  h ^= h >> 15;
  if (h % 3 == 0) return def;
  const int span = max - min + 1;
  int v = 0;
  if (span > 1000) {
    v = std::clamp(def + static_cast<int>((h >> 4) % 400) - 100, static_cast<int>(min),
                   static_cast<int>(max));
  } else {
    v = min + static_cast<int>((h >> 4) % static_cast<std::uint32_t>(span));
  }
  if (v == def) v = v == max ? min : v + 1;
  return static_cast<std::int16_t>(v);
}

class Builder {
 public:
  void single(int first, std::span<const Param> params) {
    int reg = first;
    for (const Param& p : params)
      add(reg++, p.name, p);
  }
  void block(int first, int stride, int instances, const std::string& prefix,
             std::span<const Param> params) {
    for (int i = 0; i < instances; ++i) {
      int reg = first + i * stride;
      for (const Param& p : params) {
        add(reg++, prefix + " " + std::to_string(i + 1) + " " + p.name, p);
      }
    }
  }
  void digital_inputs() {
    const Param p{"function", 0, 0, 15};
    for (int i = 0; i < 16; ++i) {
      const int reg = i < 8 ? 1060 + i : 1075 + (i - 8);
      add(reg, "Digital input " + std::to_string(i + 1) + " function", p);
    }
  }
  void missing(int reg, const std::string& description) {
    regs_.push_back({reg, description, 0, 0, 0, 0, false});
  }
  std::vector<ParameterRegister> take() {
    std::sort(regs_.begin(), regs_.end(),
              [](const auto& a, const auto& b) { return a.number < b.number; });
    return std::move(regs_);
  }

 private:
  void add(int reg, std::string description, const Param& p) {
    regs_.push_back({reg, std::move(description), p.def, demo_value(reg, p.def, p.min, p.max),
                     p.min, p.max, true});
  }
  std::vector<ParameterRegister> regs_;
};

}  // namespace

bool is_known_model(int model) {
  return model == kModel6180 || model == kModel6170;
}

std::string device_code(int model) {
  return model == kModel6170 ? "52374453" : "52374142";
}

int max_profiles(int model) {
  return model == kModel6170 ? 20 : 40;
}

std::vector<ParameterRegister> parameter_registers(int model) {
  const bool big = model != kModel6170;
  Builder b;
  b.single(100, kSystem);
  b.block(200, 20, big ? 2 : 1, "Input", kInput);
  b.block(300, 40, big ? 2 : 1, "Loop", kLoop);
  b.block(400, 10, 4, "Alarm", kAlarm);
  b.block(500, 5, big ? 8 : 4, "Output", kOutput);
  b.block(600, 10, big ? 2 : 1, "Retransmission", kRetransmission);
  b.block(700, 4, big ? 16 : 8, "Event", kEvent);
  b.block(800, 2, 5, "Timer", kTimer);
  b.single(900, kLog);
  b.digital_inputs();
  b.single(1070, kDigitalInputCommon);
  // Listed in the sequence files, absent from the controller.
  b.missing(1099, "Digital input spare");
  if (big) {
    b.missing(118, "Service interval");
    b.missing(919, "Log memory size");
  } else {
    b.missing(340, "Loop 2 control mode");
    b.missing(341, "Loop 2 control action");
    b.missing(342, "Loop 2 proportional band");
    b.missing(343, "Loop 2 integral time");
  }
  return b.take();
}

const StepRegister* find_step_register(int reg) {
  for (const StepRegister& r : kStepRegisters) {
    if (r.number == reg) return &r;
  }
  return nullptr;
}

Profiles demo_profiles(int model) {
  Profiles p;
  p[1] = make_profile(
      "SOAK 350",
      {make_step(0, {{4004, 350}, {4006, 1}, {4007, 45}, {4009, 1}, {4010, 10}, {4034, 1}}),
       make_step(2, {{4006, 3}, {4007, 90}, {4009, 2}, {4010, 5}, {4014, 15}}),
       make_step(1, {{4004, 120}, {4012, 25}, {4011, 1}}), make_step(5, {{4020, 1}, {4021, 50}})});
  if (model == kModel6170) {
    p[3] = make_profile("DRY 2H", {make_step(12, {{4004, 90}, {4006, 2}}),
                                   make_step(4, {{4017, 1}, {4018, 3}, {4006, 4}}),
                                   make_step(2, {{4007, 2}, {4008, 2}, {4006, 2}}),
                                   make_step(5, {{4020, 2}, {4006, 1}, {4060, 1}})});
    return p;
  }
  p[2] = make_profile("CURE CYCLE",
                      {make_step(12, {{4004, 80}, {4005, 20}, {4006, 4}}),
                       make_step(6, {{4023, 3}, {4025, 600}, {4006, 4}}),
                       make_step(4, {{4017, 1}, {4018, 2}, {4006, 8}}),
                       make_step(11, {{4030, 6}, {4031, 30}, {4032, 62}}),
                       make_step(0, {{4004, 180}, {4005, 60}, {4007, 30}, {4008, 1}, {4011, 1}}),
                       make_step(5, {{4020, 2}, {4006, 0}, {4060, 1}})});
  p[4] = make_profile(
      "ANNEAL 4H", {make_step(1, {{4004, 540}, {4012, 90}, {4013, 2}, {4006, 1}}),
                    make_step(7, {{4026, 8}, {4033, 1}, {4025, 300}, {4006, 2}}),
                    make_step(2, {{4007, 4}, {4008, 2}, {4009, 3}, {4010, 12}}),
                    make_step(3, {{4015, 2}, {4016, 3}}), make_step(10, {{4028, 5}, {4029, 40}}),
                    make_step(4, {{4017, 2}, {4018, 1}, {4019, 1}}),
                    make_step(9, {{4027, 2}, {4004, 200}}), make_step(8, {{4006, 16}, {4035, 12}}),
                    make_step(5, {{4020, 3}, {4021, 25}, {4022, 25}, {4060, 2}})});
  return p;
}

Profiles default_profiles() {
  Profiles p;
  p[1] = make_profile("", {make_step(5)});
  return p;
}

}  // namespace r7::sim
