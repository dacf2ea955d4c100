// The bootloader command protocol (the module FLASH1): frames
//   FF, command, length n, n data bytes, checksum (low 8 bits of the sum of all
//   preceding bytes)
// acknowledged by the two bytes FF and the command. Every command is tried at
// most three times on protocol slot 2 ("Xon Protocol").
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "errors/prompts.h"
#include "flash/flash_view.h"
#include "serial/comms.h"

namespace r7 {

inline constexpr std::uint8_t kCmdErase = 0x10;
inline constexpr std::uint8_t kCmdRecordS1 = 0x20;
inline constexpr std::uint8_t kCmdRecordS2 = 0x21;
inline constexpr std::uint8_t kCmdDownloadCompleted = 0x30;
inline constexpr std::uint8_t kCmdExecute = 0x31;

inline constexpr float kEraseTimeoutMs = 30000.0F;
inline constexpr float kCommandTimeoutMs = 2000.0F;
inline constexpr float kProbeTimeoutMs = 500.0F;
inline constexpr int kCommandTries = 3;

// The address the download application is started at.
inline constexpr std::string_view kDownloadAppAddress{"\x00\x08\x00\x04", 4};

// The checks of check_srecord_line on their own: warns through `prompts` and
// returns the converted address-and-data bytes.
std::string check_srecord_fields(const std::string& byte_count, const std::string& address_and_data,
                                 const std::string& checksum, Prompts& prompts);

class Bootloader {
 public:
  Bootloader(Comms& comms, Prompts& prompts, FlashView& view)
      : comms_(comms), prompts_(prompts), view_(view) {}

  // Low 8 bits of the sum of the bytes of `message`.
  static std::uint8_t bootloader_checksum(std::string_view message);

  // Checks one S-record line's byte count and checksum and leaves its
  // address-and-data bytes in flash_message; warns but never stops.
  void check_srecord_line(const std::string& byte_count, const std::string& address_and_data,
                          const std::string& checksum);

  int download_completed();
  int erase_flash();
  int execute_download_app(std::string_view address);
  // The unframed online probe (the byte 0x00, 500 ms, one try): the reply.
  std::string online_probe();
  // Sends every S1/S2 record of the file; 1 when all were acknowledged.
  int transfer_srecord_file(const std::filesystem::path& path);

  // Module state.
  std::string flash_message;
  std::string flash_reply;
  int flash_ok = 0;
  int flash_tries = 0;

 private:
  Comms& comms_;
  Prompts& prompts_;
  FlashView& view_;
};

}  // namespace r7
