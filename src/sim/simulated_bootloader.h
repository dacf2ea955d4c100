// The simulated controller's resident bootloader, the download application a
// firmware download loads into it, and the flash they program. The bootloader
// also decides at power-up what runs.
//
// Bootloader (any baud rate): frames FF cmd n data checksum (low byte of the
// sum of all bytes before it); the lone byte 00 is the online probe, answered
// 01. Accepted commands are answered FF cmd, refused ones FF (cmd | 0x80), a
// frame with a wrong checksum too. Other bytes are ignored until the line has
// been quiet (SimulatedLine::skip_rest).
//   0x20 / 0x21  S1 / S2 record (2 / 3 address bytes, then data) into RAM
//                (000800-001FFF, 080000-08FFFF); other addresses are refused:
//                only the download application can program the flash
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
// Power-up: the bootloader stays when the flash was erased and the download did
// not complete, or when the new image lacks its software-number field
// (010000: 4 bytes model tag, 2 bytes software number); otherwise the
// application runs, after a completed download with the software number from
// the image (its model tag is not checked: the download checks it before).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/config.h"
#include "sim/memory_image.h"
#include "sim/simulated_line.h"

namespace r7::sim {

enum class Mode { Application, Bootloader, DownloadApp };
// Factory: the firmware it was built with; Erased: a download erased the flash
// and has not completed; Complete: a download completed.
enum class FirmwareState { Factory, Erased, Complete };

inline constexpr int kDownloadAppBaud = 38400;

class SimulatedBootloader {
 public:
  // `timing` is read at every use.
  SimulatedBootloader(SimulatedLine& line, const Timing& timing);

  // What runs.
  Mode mode() const { return mode_; }
  // Takes the frame at the front of the line's input while the bootloader or
  // the download application runs; false when it needs more bytes or skips
  // the input.
  bool step(std::uint64_t at);

  // The application restarts into the bootloader.
  void enter();
  // Power-up: RAM is lost and the bootloader decides what runs. Returns the
  // software number of a completed download's image when that runs.
  std::optional<int> power_up();
  // As a download that broke off after its erase leaves the controller.
  void break_off_download();
  // The firmware state of a state file, with the image's field (12 hex digits,
  // else ignored) as the only flash contents; the application runs unless the
  // flash is erased.
  void load(FirmwareState firmware, const std::string& software_field);

  FirmwareState firmware_state() const { return firmware_; }
  bool application_loaded() const { return app_complete_; }
  const MemoryImage& flash() const { return flash_; }
  const MemoryImage& application_image() const { return ram_; }
  // The 12 hex digits at 010000 of the flash image, when all six bytes are there.
  std::optional<std::string> software_field() const;
  // Counts changes of the firmware state.
  std::uint64_t changes() const { return changes_; }
  // Records the download application has written into the flash.
  std::uint64_t flash_records() const { return flash_records_; }

 private:
  bool step_frame(std::uint64_t at);
  void handle_loader(int cmd, const std::string& data, std::uint64_t at);
  void handle_download_app(int cmd, const std::string& data, std::uint64_t at);
  bool record(int cmd, const std::string& data, MemoryImage& image) const;

  SimulatedLine& line_;
  const Timing& timing_;

  Mode mode_ = Mode::Application;
  FirmwareState firmware_ = FirmwareState::Factory;
  MemoryImage ram_{MemoryImage::Kind::Ram};
  MemoryImage flash_{MemoryImage::Kind::Flash};
  bool app_complete_ = false;
  std::uint64_t changes_ = 0;
  std::uint64_t flash_records_ = 0;
};

}  // namespace r7::sim
