// What the simulated R7 controllers hold: the setup registers of each model,
// the profile step registers and step types, and the demonstration setup they
// start with. The sample sequence files are written from the same tables, so
// the files and the simulator always agree.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/profile.h"

namespace r7::sim {

inline constexpr int kModel6180 = 6180;
inline constexpr int kModel6170 = 6170;

// Where a firmware image keeps its software-number field: 4 bytes model tag,
// then the software number (2 bytes, high byte first).
inline constexpr std::uint32_t kSoftwareFieldAddress = 0x010000;

bool is_known_model(int model);
// The model tag a firmware file carries at 010000 ("R7AB" / "R7DS") as hex text.
std::string device_code(int model);
// Profiles a model keeps (numbers 1..n).
int max_profiles(int model);

struct ParameterRegister {
  int number = 0;
  std::string description;
  std::int16_t default_value = 0;
  std::int16_t demo_value = 0;  // value in the demonstration setup
  std::int16_t min = 0;
  std::int16_t max = 0;
  // False for the few registers the sequence file lists but the model does not
  // have: they answer exception 2 and a save leaves them out.
  bool held = true;
};

// The setup registers of a model in sequence-file order (digital inputs
// 1060..1067 and 1075..1082 included).
std::vector<ParameterRegister> parameter_registers(int model);

struct StepRegister {
  int number;
  const char* description;
  std::int16_t default_value;
  std::int16_t min;
  std::int16_t max;
};

inline constexpr std::array<StepRegister, 33> kStepRegisters{{
    {4004, "Target setpoint 1", 0, -1999, 9999},
    {4005, "Target setpoint 2", 0, -1999, 9999},
    {4006, "Event outputs", 0, 0, 255},
    {4007, "Step time", 0, 0, 9999},
    {4008, "Step time units", 1, 0, 2},
    {4009, "Guaranteed soak mode", 0, 0, 3},
    {4010, "Guaranteed soak band", 0, 0, 9999},
    {4011, "PID set", 0, 0, 1},
    {4012, "Ramp rate", 10, 0, 9999},
    {4013, "Ramp rate units", 1, 0, 2},
    {4014, "Soak deviation alarm", 0, 0, 9999},
    {4015, "Jump to step", 1, 1, 256},
    {4016, "Jump repeat count", 1, 0, 9999},
    {4017, "Called profile", 1, 1, 40},
    {4018, "Call repeat count", 1, 1, 999},
    {4019, "Return action", 0, 0, 1},
    {4020, "End state", 0, 0, 3},
    {4021, "End setpoint 1", 0, -1999, 9999},
    {4022, "End setpoint 2", 0, -1999, 9999},
    {4023, "Wait input number", 1, 1, 16},
    {4024, "Wait input state", 1, 0, 1},
    {4025, "Wait time-out", 0, 0, 9999},
    {4026, "Wait process band", 5, 0, 9999},
    {4027, "Autotune loop", 1, 1, 2},
    {4028, "Output number", 1, 1, 8},
    {4029, "Output level", 0, 0, 100},
    {4030, "Start hour", 0, 0, 23},
    {4031, "Start minute", 0, 0, 59},
    {4032, "Start days", 127, 0, 127},
    {4033, "Wait process source", 0, 0, 3},
    {4034, "Step alarm enable", 0, 0, 1},
    {4035, "Step note", 0, 0, 999},
    {4060, "End action", 0, 0, 3},
}};

const StepRegister* find_step_register(int reg);

inline constexpr int kStepTypeCount = 13;  // types 0..12
inline constexpr int kMaxSectionRegisters = 9;

struct StepTypeInfo {
  int type;
  const char* name;  // the section name in the profile sequence file
  int count;
  std::array<int, kMaxSectionRegisters> registers;  // saved for a step of this type
};

// The end step's registers end with 4060, as a save reads them.
inline constexpr std::array<StepTypeInfo, kStepTypeCount> kStepTypes{{
    {0, "Ramp Time", 9, {4004, 4005, 4006, 4007, 4008, 4009, 4010, 4011, 4034}},
    {1, "Ramp Rate", 8, {4004, 4005, 4006, 4012, 4013, 4009, 4010, 4011}},
    {2, "Soak", 7, {4006, 4007, 4008, 4009, 4010, 4014, 4011}},
    {3, "Jump", 2, {4015, 4016}},
    {4, "Call Profile", 4, {4017, 4018, 4019, 4006}},
    {5, "End", 5, {4020, 4021, 4022, 4006, 4060}},
    {6, "Wait For Input", 4, {4023, 4024, 4025, 4006}},
    {7, "Wait For Process", 4, {4026, 4033, 4025, 4006}},
    {8, "Set Events", 2, {4006, 4035}},
    {9, "Autotune", 3, {4027, 4004, 4006}},
    {10, "Set Output", 3, {4028, 4029, 4006}},
    {11, "Wait For Time", 4, {4030, 4031, 4032, 4006}},
    {12, "Instant Change", 4, {4004, 4005, 4006, 4011}},
}};

// The order in which the profile sequence file's index lists the types.
inline constexpr std::array<int, kStepTypeCount> kStepTypeIndexOrder{0, 10, 1, 2, 11, 3, 12,
                                                                     4, 6,  7, 8, 9,  5};

// The profiles of the demonstration setup (with a gap in their numbers).
Profiles demo_profiles(int model);
// The profiles of a controller at its defaults: profile 1, end step only.
Profiles default_profiles();

}  // namespace r7::sim
