// The simulated controller's state as a JSON file (r7sim --state FILE):
//
//   { "format": 1, "model": 6180, "serial": [21, 30517], "software": 2,
//     "revision": 1850,
//     "registers": { "100": 1, ..., "1300": 1 },
//     "profiles": [ { "number": 1, "name": [83, 79, ...],
//                     "steps": [ { "type": 0, "values": { "4004": 350, ... } } ] } ],
//     "firmware": { "state": "factory" | "erased" | "complete",
//                   "software_field": "523741420003", "flash_bytes": 196608,
//                   "flash_low": "008000", "flash_high": "037FFF",
//                   "flash_digest": "9A3F0C2D11E4B706" } }
//
// The flash image itself is not kept, only this summary and its field.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "sim/config.h"
#include "sim/controller.h"

namespace r7::sim {

struct StateFile {
  int model = 0;
  int serial_a = 0;
  int serial_b = 0;
  int software = 0;
  int revision = 0;
  SavedState state;
};

std::string state_json(Controller& controller);
// Throws std::runtime_error naming what is wrong.
StateFile parse_state(std::string_view json);

// Writes beside the file, then renames, so a reader never sees half a file.
// Throws std::runtime_error when it cannot be written.
void save_state_file(Controller& controller, const std::filesystem::path& file);
// nullopt when the file does not exist; throws std::runtime_error when it
// cannot be read or parsed.
std::optional<StateFile> load_state_file(const std::filesystem::path& file);

// Takes the saved identity (serial, software, revision) into `config` when the
// models agree.
void apply_identity(const StateFile& file, ControllerConfig& config);

}  // namespace r7::sim
