// The simulated R7 controller: a Modbus RTU slave with setup registers and
// profiles, a resident bootloader and the download application that a
// firmware download loads into it, behind a model of the serial line.
//
// Application (Modbus RTU at `address`, function codes 3 and 6; others get
// exception 1, registers it does not hold exception 2, values out of range
// exception 3; frames with a bad CRC or for another address are ignored):
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
// (end step only) is the only profile.
//
// Bootloader (any baud rate): frames FF cmd n data checksum (low byte of the
// sum of all bytes before it); the lone byte 00 is the online probe, answered
// 01. Accepted commands are answered FF cmd, refused ones FF (cmd | 0x80), a
// frame with a wrong checksum too. Other bytes are ignored until the line has
// been quiet for kResyncGapMs.
//   0x20 / 0x21  S1 / S2 record (2 / 3 address bytes, then data) into RAM
//   0x30         download completed: the RAM image is a loaded application
//   0x31         00 08 00 04 with a loaded application: acknowledged, then the
//                download application runs
// Download application: the same frames, answered only while the port is set
// to 38400 baud (at other rates it hears garbage and says nothing):
//   0x10         erases the flash: acknowledged after Timing::erase_ms, silent
//                meanwhile
//   0x20 / 0x21  records into the erased flash (different data over programmed
//                bytes is refused)
//   0x30         the firmware download is complete
// Power: power_cycle() restarts the controller (silent for Timing::power_up_ms).
// It comes up in the bootloader when the flash was erased and the download did
// not complete, or when the new image lacks its software-number field
// (010000: 4 bytes model tag, 2 bytes software number); otherwise it runs
// the application, after a completed download with the software number from
// the image (its model tag is not checked: the download checks it before). After a completed
// download the first Modbus request for its address, at any baud rate, power-cycles the controller
// by itself (as the engineer would have done when asked) and is then answered.
//
// The line: bytes written by a port reach the controller at once (or after
// their line time with LineModel::pace); replies are queued per port with the
// time they arrive, shaped by the LineModel and the Faults. Times are in
// microseconds of "line time", the clock's tick count made monotonic.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "seams/clock.h"
#include "sim/catalog.h"
#include "sim/config.h"
#include "sim/memory_image.h"
#include "sim/profile.h"

namespace r7::sim {

enum class Mode { Application, Bootloader, DownloadApp };
// Factory: the firmware it was built with; Erased: a download erased the flash
// and has not completed; Complete: a download completed.
enum class FirmwareState { Factory, Erased, Complete };

inline constexpr std::uint32_t kResyncGapMs = 20;
inline constexpr int kDownloadAppBaud = 38400;

// The setup a save and a restore carry: setup registers (with 1300) and profiles.
struct Snapshot {
  std::map<int, std::int16_t> registers;
  Profiles profiles;

  bool operator==(const Snapshot&) const = default;
};

// What a state file keeps besides the identity (which lives in the config).
struct SavedState {
  Snapshot setup;
  FirmwareState firmware = FirmwareState::Factory;
  std::string software_field;  // hex text of the image's field, "" when none
  std::size_t flash_bytes = 0;
  std::uint32_t flash_low = 0;
  std::uint32_t flash_high = 0;
};

class Controller {
 public:
  Controller(ControllerConfig config, Clock& clock);

  // ---- the line (SimulatedPort and r7sim) ----
  int attach_port();
  void detach_port(int port);
  // Bytes a master wrote through `port`, whose line is set to `settings`.
  void receive(int port, std::string_view bytes, std::string_view settings);
  std::size_t due_count(int port);
  // The next byte that has arrived for `port`, or -1.
  int pop_due(int port);
  std::string take_due(int port);
  // Discards what has arrived; bytes still on their way stay.
  void clear_due(int port);
  // Discards everything for `port`, also bytes on their way (a closed port).
  void drop_all(int port);
  // Line time (ms) when the next byte for `port` arrives, if one is on its way.
  std::optional<std::uint64_t> next_due_ms(int port);
  Clock& clock() { return clock_; }
  std::uint64_t now_ms();
  std::uint64_t now_us() { return now_ms() * 1000; }
  // Whether the line dropped (Faults::hangup_after) after `since_us` and by now.
  bool hung_up_since(std::uint64_t since_us);
  // Line drops up to now (r7sim replaces its pseudo-terminal for each), and
  // the line time (ms) of drop number `index` (0 for the first) once it is due.
  std::size_t hangups_until_now();
  std::optional<std::uint64_t> hangup_ms(std::size_t index) const;

  // ---- the controller ----
  void power_cycle();
  // Back to the defaults at once (what 1602 := 800 does, without the silence).
  void restore_defaults();
  // As a download that broke off after its erase leaves the controller: the
  // flash erased, the bootloader running, and so after every power cycle
  // until a download completes.
  void break_off_download();

  // A register as a Modbus read sees it; nullopt where the answer is exception 2.
  std::optional<std::int16_t> read_register(int reg) const;
  // A Modbus write of one register, with its effects (silences, mode changes);
  // returns 0 or the exception code. Faults::refuse is not applied here.
  int write_register(int reg, std::int16_t value);
  // Sets a setup register or 1300 directly, without range checks; throws
  // std::out_of_range for other registers.
  void set_register(int reg, std::int16_t value);

  const Profiles& profiles() const { return profiles_.profiles(); }
  void set_profiles(Profiles profiles);
  const ProfileStore& profile_store() const { return profiles_; }

  Snapshot snapshot() const;
  SavedState saved_state() const;
  // Restores registers, profiles and the firmware state of a saved state (the
  // flash contents themselves are not kept); unknown registers are skipped.
  void load(const SavedState& state);

  Mode mode() const { return mode_; }
  FirmwareState firmware_state() const { return firmware_; }
  bool application_loaded() const { return app_complete_; }
  const MemoryImage& flash() const { return flash_; }
  const MemoryImage& application_image() const { return ram_; }
  // The 12 hex digits at 010000 of the flash image, when all six bytes are there.
  std::optional<std::string> software_field() const;

  const ControllerConfig& config() const { return config_; }
  Faults& faults() { return config_.faults; }
  LineModel& line() { return config_.line; }
  int software() const { return software_; }

  // Requests answered (or answered and lost to a fault).
  std::uint64_t exchanges() const { return exchanges_; }
  // Counts changes of what a state file keeps.
  std::uint64_t changes() const { return changes_; }
  // Line time until which the controller does not listen.
  std::uint64_t silent_until_ms() const { return silent_until_us_ / 1000; }

 private:
  struct WriteOutcome {
    int exception = 0;
    std::uint32_t silence_ms = 0;
  };

  void process(std::uint64_t at);
  bool step_modbus(std::uint64_t at);
  bool step_loader(std::uint64_t at);
  void handle_modbus(const std::string& frame, std::uint64_t at);
  void handle_loader(int cmd, const std::string& data, std::uint64_t at);
  WriteOutcome write_effects(int reg, std::int16_t value);
  void reply(std::string bytes, std::uint64_t earliest_us);
  void skip_rest();
  void restart(std::uint64_t at, std::uint32_t silence_ms, bool keep_input);
  double uniform();

  ControllerConfig config_;
  Clock& clock_;
  std::uint32_t last_tick_;
  std::uint64_t line_ms_ = 0;

  std::map<int, ParameterRegister> definitions_;
  std::map<int, std::int16_t> registers_;
  std::int16_t configured_ = 0;
  bool unstored_ = false;  // setup changed since the last write of 25
  ProfileStore profiles_;
  int software_;

  Mode mode_ = Mode::Application;
  FirmwareState firmware_ = FirmwareState::Factory;
  MemoryImage ram_{MemoryImage::Kind::Ram};
  MemoryImage flash_{MemoryImage::Kind::Flash};
  bool app_complete_ = false;

  std::uint64_t silent_until_us_ = 0;
  std::string rx_;
  std::uint64_t last_rx_us_ = 0;
  bool skipping_ = false;
  int rx_port_ = -1;
  int rx_baud_ = 9600;

  std::map<int, std::multimap<std::uint64_t, char>> outputs_;
  int next_port_ = 1;
  std::uint64_t tx_free_us_ = 0;

  std::mt19937 rng_;
  std::uint64_t exchanges_ = 0;
  std::vector<std::uint64_t> hangups_us_;
  std::uint64_t changes_ = 0;
};

}  // namespace r7::sim
