// The simulated R7 controller: its Modbus application (ModbusSlave), its
// resident bootloader with the download application (SimulatedBootloader) and
// the serial line they answer on (SimulatedLine), with the power that restarts
// them. Controller owns the three and gives the ports, r7sim and the state file
// one interface.
//
// Power: power_cycle() restarts the controller (silent for Timing::power_up_ms).
// The bootloader then decides what runs. After a completed download the first
// Modbus request for its address, at any baud rate, power-cycles the controller
// by itself (as the engineer would have done when asked) and is then answered.
// Faults::power_cut_after cuts the power once, in the middle of a download.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "seams/clock.h"
#include "sim/catalog.h"
#include "sim/config.h"
#include "sim/memory_image.h"
#include "sim/modbus_slave.h"
#include "sim/profile.h"
#include "sim/simulated_bootloader.h"
#include "sim/simulated_line.h"

namespace r7::sim {

// What a state file keeps besides the identity (which lives in the config).
struct SavedState {
  Snapshot setup;
  FirmwareState firmware = FirmwareState::Factory;
  std::string software_field;  // hex text of the image's field, "" when none
  std::size_t flash_bytes = 0;
  std::uint32_t flash_low = 0;
  std::uint32_t flash_high = 0;
  std::uint64_t flash_digest = 0;  // MemoryImage::digest()
};

class Controller {
 public:
  Controller(ControllerConfig config, Clock& clock);
  // The parts refer to the configuration and to each other.
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // ---- the line (SimulatedPort and r7sim) ----
  int attach_port() { return line_.attach_port(); }
  void detach_port(int port) { line_.detach_port(port); }
  // Bytes a master wrote through `port`, whose line is set to `settings`.
  void receive(int port, std::string_view bytes, std::string_view settings);
  std::size_t due_count(int port) { return line_.due_count(port); }
  // The next byte that has arrived for `port`, or -1.
  int pop_due(int port) { return line_.pop_due(port); }
  std::string take_due(int port) { return line_.take_due(port); }
  // Discards what has arrived; bytes still on their way stay.
  void clear_due(int port) { line_.clear_due(port); }
  // Discards everything for `port`, also bytes on their way (a closed port).
  void drop_all(int port) { line_.drop_all(port); }
  // Line time (ms) when the next byte for `port` arrives, if one is on its way.
  std::optional<std::uint64_t> next_due_ms(int port) { return line_.next_due_ms(port); }
  Clock& clock() { return line_.clock(); }
  std::uint64_t now_ms() { return line_.now_ms(); }
  std::uint64_t now_us() { return line_.now_us(); }
  // Whether the line dropped (Faults::hangup_after) after `since_us` and by now.
  bool hung_up_since(std::uint64_t since_us) { return line_.hung_up_since(since_us); }
  // Line drops up to now (r7sim replaces its pseudo-terminal for each), and
  // the line time (ms) of drop number `index` (0 for the first) once it is due.
  std::size_t hangups_until_now() { return line_.hangups_until_now(); }
  std::optional<std::uint64_t> hangup_ms(std::size_t index) const { return line_.hangup_ms(index); }

  // ---- the controller ----
  void power_cycle();
  // Back to the defaults at once (what 1602 := 800 does, without the silence).
  void restore_defaults() { modbus_.restore_defaults(); }
  // As a download that broke off after its erase leaves the controller: the
  // flash erased, the bootloader running, and so after every power cycle
  // until a download completes.
  void break_off_download() { loader_.break_off_download(); }

  // A register as a Modbus read sees it; nullopt where the answer is exception 2.
  std::optional<std::int16_t> read_register(int reg) const { return modbus_.read_register(reg); }
  // A Modbus write of one register, with its effects (silences, mode changes);
  // returns 0 or the exception code. Faults::refuse is not applied here.
  int write_register(int reg, std::int16_t value);
  // Sets a setup register or 1300 directly, without range checks; throws
  // std::out_of_range for other registers.
  void set_register(int reg, std::int16_t value) { modbus_.set_register(reg, value); }

  const Profiles& profiles() const { return modbus_.profile_store().profiles(); }
  void set_profiles(Profiles profiles) { modbus_.set_profiles(std::move(profiles)); }
  const ProfileStore& profile_store() const { return modbus_.profile_store(); }

  Snapshot snapshot() const { return modbus_.snapshot(); }
  SavedState saved_state() const;
  // Restores registers, profiles and the firmware state of a saved state (the
  // flash contents themselves are not kept); unknown registers are skipped.
  void load(const SavedState& state);

  Mode mode() const { return loader_.mode(); }
  FirmwareState firmware_state() const { return loader_.firmware_state(); }
  bool application_loaded() const { return loader_.application_loaded(); }
  const MemoryImage& flash() const { return loader_.flash(); }
  const MemoryImage& application_image() const { return loader_.application_image(); }
  // The 12 hex digits at 010000 of the flash image, when all six bytes are there.
  std::optional<std::string> software_field() const { return loader_.software_field(); }

  const ControllerConfig& config() const { return config_; }
  Faults& faults() { return config_.faults; }
  LineModel& line() { return config_.line; }
  int software() const { return modbus_.software(); }

  // Requests answered (or answered and lost to a fault).
  std::uint64_t exchanges() const { return line_.exchanges(); }
  // Counts changes of what a state file keeps.
  std::uint64_t changes() const { return changes_ + modbus_.changes() + loader_.changes(); }
  // Line time until which the controller does not listen.
  std::uint64_t silent_until_ms() const { return line_.silent_until_us() / kUsPerMs; }

 private:
  void process(std::uint64_t at);
  bool step(std::uint64_t at);
  bool step_after_download(std::uint64_t at);
  void restart(std::uint64_t at, std::uint32_t silence_ms, bool keep_input);
  void cut_power_when_due(std::uint64_t at);

  ControllerConfig config_;
  SimulatedLine line_;
  SimulatedBootloader loader_;
  ModbusSlave modbus_;
  std::uint64_t changes_ = 0;  // power cycles
  bool power_cut_ = false;     // Faults::power_cut_after has struck
};

}  // namespace r7::sim
