// The demo program directory, written by samples/make_samples at build time:
//
//   Download Sequences/6180.cds, 6180.pds, 6170.cds, 6170.pds
//   Reg Downloads/                       (empty)
//   Dnld_R7.s19, Mole_R7.s19             download applications
//   731-0000.S19, 8831-0000.S19, 730-0000.S19, 8830-0000.S19   firmware
//
// Everything comes from the simulator's own tables (sim/catalog.h), so the files
// fit the simulated controllers. The contents are deterministic. S-record lines
// end in CR LF; the sequence files are plain lines ending in LF.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace r7::sim {

struct FirmwareSample {
  const char* file;
  int model;
  bool newer_loader;   // revision 2000 or more
  int software;        // the software number in the field at 010000
  std::uint32_t size;  // image bytes
};

inline constexpr std::uint32_t kFirmwareBase = 0x008000;

inline constexpr std::array<FirmwareSample, 4> kFirmwareSamples{{
    {"731-0000.S19", 6180, false, 3, 192 * 1024},
    {"8831-0000.S19", 6180, true, 5, 224 * 1024},
    {"730-0000.S19", 6170, false, 3, 160 * 1024},
    {"8830-0000.S19", 6170, true, 5, 256 * 1024},
}};

// Sequence files.
std::string download_sequence_file(int model);  // model + ".cds"
std::string profile_sequence_file(int model);   // model + ".pds"

// S-record files.
std::string firmware_file(const FirmwareSample& sample);
// "Dnld_R7.s19" (S1 records at 0800, S9) or "Mole_R7.s19" (S2 records at
// 080000, S8).
std::string download_application(bool newer_loader);

// One S-record line without its line end: type ("S0".."S9"), address of
// `address_bytes` bytes, data; with its byte count and checksum.
std::string srecord_line(char type, std::uint32_t address, int address_bytes,
                         const std::string& data);

struct SampleFile {
  std::string path;  // relative, "/" between folder and name
  std::string content;
};

std::vector<SampleFile> sample_files();
// Folders to create even when empty.
std::vector<std::string> sample_folders();

}  // namespace r7::sim
