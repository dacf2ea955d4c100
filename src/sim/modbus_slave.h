// The simulated controller's application: a Modbus RTU slave at `address`
// with function codes 3 and 6 (others get exception 1, registers it does not
// hold exception 2, values out of range exception 3; frames with a bad CRC or
// for another address are ignored, and so is everything at another rate than
// ControllerConfig::modbus_baud when that is set):
//   0 device type (6180/6170), 1 and 2 serial number, 3 software number,
//   4 revision: read only (writes get exception 2)
//   25    write: stores the setup; when it changed since the last store, the
//         controller is silent for Timing::store_ms while it writes
//   1300  1 while configured, 0 at the defaults; written 0 or 1; any accepted
//         setup or profile write sets it to 1
//   1602  write 800: returns to the defaults at once and is silent for
//         Timing::defaults_ms (other values: exception 3)
//   1950  write 1941: accepted (echoed); 1414 or 1515: the controller restarts
//         into its bootloader, silent for Timing::bootloader_ms; others: exception 3
//   the setup registers of the model (catalog.h) and the profile registers
//   (profile.h: 3500.., 4000..4035, 4060)
// At the defaults the setup registers hold their default values and profile 1
// (end step only) is the only profile. Faults::refuse and Faults::forget
// change the answers to writes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "sim/catalog.h"
#include "sim/config.h"
#include "sim/profile.h"
#include "sim/simulated_bootloader.h"
#include "sim/simulated_line.h"

namespace r7::sim {

// The setup a save and a restore carry: setup registers (with 1300) and profiles.
struct Snapshot {
  std::map<int, std::int16_t> registers;
  Profiles profiles;

  bool operator==(const Snapshot&) const = default;
};

class ModbusSlave {
 public:
  struct WriteOutcome {
    int exception = 0;
    std::uint32_t silence_ms = 0;
  };

  // `config` is read at every use; a write of 1950 hands over to `loader`.
  ModbusSlave(const ControllerConfig& config, SimulatedLine& line, SimulatedBootloader& loader);

  // Takes the request at the front of the line's input and answers it; false
  // when it needs more bytes or skips the input.
  bool step(std::uint64_t at);
  // Whether `input` starts with this controller's address.
  bool addressed(std::string_view input) const;
  // Whether `frame` is a whole read (3) or write (6) request with a good CRC.
  static bool read_or_write_request(std::string_view frame);

  // A register as a Modbus read sees it; nullopt where the answer is exception 2.
  std::optional<std::int16_t> read_register(int reg) const;
  // A Modbus write of one register with its effects on the setup and the
  // bootloader; the silence it causes is the caller's. Faults are not applied.
  WriteOutcome write_register(int reg, std::int16_t value);
  // Sets a setup register or 1300 directly, without range checks; throws
  // std::out_of_range for other registers.
  void set_register(int reg, std::int16_t value);

  const ProfileStore& profile_store() const { return profiles_; }
  void set_profiles(Profiles profiles);
  void restore_defaults();
  Snapshot snapshot() const;
  // Takes the registers it holds and the profiles it can keep.
  void load(const Snapshot& setup);

  int software() const { return software_; }
  // Power-up with `software` (the number the running firmware carries).
  void power_up(std::optional<int> software);
  // Counts changes of the setup.
  std::uint64_t changes() const { return changes_; }

 private:
  void handle(const std::string& frame, std::uint64_t at);
  void answer_read(const std::string& frame, std::uint64_t at);
  void answer_write(const std::string& frame, std::uint64_t at);
  void send_exception(const std::string& frame, int code, std::uint64_t at);
  std::optional<WriteOutcome> command_effects(int reg, std::int16_t value);
  WriteOutcome setup_write(int reg, std::int16_t value);
  void mark_changed();

  const ControllerConfig& config_;
  SimulatedLine& line_;
  SimulatedBootloader& loader_;

  std::map<int, ParameterRegister> definitions_;
  std::map<int, std::int16_t> registers_;
  std::int16_t configured_ = 0;
  bool unstored_ = false;  // setup changed since the last write of 25
  ProfileStore profiles_;
  int software_;
  std::uint64_t changes_ = 0;
};

}  // namespace r7::sim
