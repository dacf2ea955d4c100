// Holding registers of the R7 controller that the tool reads and writes.
#pragma once

#include <array>

namespace r7::reg {

inline constexpr int kDeviceType = 0;      // device type / model number (6180, 6170)
inline constexpr int kSerialHigh = 1;      // serial number, first part
inline constexpr int kSerialLow = 2;       // serial number, second part
inline constexpr int kSoftwareNumber = 3;  // software number
inline constexpr int kRevision = 4;        // software revision; 2000 or more: newer loader
inline constexpr int kRestart = 25;        // last line of every setup file

// The digital-input settings, in the order a save writes their lines (last).
inline constexpr std::array<int, 16> kDigitalInputs{1060, 1061, 1062, 1063, 1064, 1065, 1066, 1067,
                                                    1075, 1076, 1077, 1078, 1079, 1080, 1081, 1082};

inline constexpr int kDefaultsFlag = 1300;     // reads 0 once the controller is at its defaults
inline constexpr int kDefaultsCommand = 1602;  // 800 returns the controller to its defaults
inline constexpr int kDefaultsValue = 800;

inline constexpr int kDownloadMode = 1950;           // download-mode command register
inline constexpr int kDownloadModeArm = 1941;        // first write
inline constexpr int kDownloadModeLoader = 1414;     // enter the bootloader, older loader
inline constexpr int kDownloadModeNewLoader = 1515;  // enter the bootloader, newer loader

inline constexpr int kProfileNameBase = 3500;  // 3500 + (p - 1) * 10 + k, k = 0..9
inline constexpr int kProfileNameLength = 10;

inline constexpr int kProfileSelect = 4000;     // profile number p
inline constexpr int kStepSelect = 4001;        // step number s
inline constexpr int kProfileCommand = 4002;    // 1 create, 2 and 4 edit, 3 erase
inline constexpr int kStepType = 4003;          // type of the selected step; negative: no profile
inline constexpr int kStepSettingFirst = 4004;  // 4004..4011 step settings
inline constexpr int kStepSettingLast = 4011;
inline constexpr int kEndStepLast = 4060;  // ends the end step's section unless it holds 3

inline constexpr int kProfileCreate = 1;
inline constexpr int kProfileEditA = 2;
inline constexpr int kProfileErase = 3;
inline constexpr int kProfileEditB = 4;

inline constexpr int kStepTypeDeferred = 4;  // recorded a second time after all profiles
inline constexpr int kStepTypeEnd = 5;       // the last step of a profile

constexpr int profile_name_register(int profile, int k) {
  return kProfileNameBase + (profile - 1) * kProfileNameLength + k;
}

}  // namespace r7::reg
