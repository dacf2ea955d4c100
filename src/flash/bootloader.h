// The bootloader command protocol: frames
//   FF, command, length n, n data bytes, checksum (low 8 bits of the sum of all
//   preceding bytes)
// acknowledged by the two bytes FF and the command. Every command is tried at
// most three times on protocol slot 2 ("Xon Protocol").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "flash/srecord.h"
#include "seams/flash_view.h"
#include "seams/prompts.h"
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
// A record sent again writes the same bytes to the same addresses, so a noisy
// line may take many tries; a dead one is given up after 10 x (2 s + 2 s of
// drain) = 40 s without progress.
inline constexpr int kRecordTries = 10;

// The address the download application is started at.
inline constexpr std::string_view kDownloadAppAddress{"\x00\x08\x00\x04", 4};

// Low 8 bits of the sum of the bytes of `message`.
std::uint8_t bootloader_checksum(std::string_view message);

// FF, command, length, data, checksum.
std::string bootloader_frame(std::uint8_t command, std::string_view data);

// A command succeeded when the reply is exactly FF and the command byte.
bool is_acknowledgement(std::string_view reply, std::uint8_t command);

// What the online probe found: no reply, a first byte 01, anything else.
enum class OnlineState { Online, NoResponse, UnknownReply };
OnlineState online_state(std::string_view reply);

class Bootloader {
 public:
  Bootloader(Comms& comms, Prompts& prompts, FlashView& view)
      : comms_(comms), prompts_(prompts), view_(view) {}

  bool download_completed();
  // The download-completed command, one try: true when a resident bootloader
  // acknowledges it (a controller whose application no longer runs).
  bool resident();
  bool erase_flash();
  bool execute_download_app(std::string_view address, int tries = kCommandTries);
  // The unframed online probe (the byte 0x00, 500 ms, one try): the reply.
  std::string online_probe();
  // Sends every S1/S2 record, in order, until one is not acknowledged; true
  // when all were. The progress bar runs to `progress_max` by the records'
  // characters; other records send nothing (S0, S8, S9 silently).
  bool transfer(const std::vector<SRecord>& records, int progress_max);

  // The frame last sent, its last reply and the tries it took.
  const std::string& last_frame() const { return frame_; }
  const std::string& last_reply() const { return reply_; }
  int tries() const { return tries_; }

 private:
  // Sends frame_ up to `tries` times; true on the acknowledgement FF + command.
  bool exchange(std::uint8_t command, float timeout_ms, int tries = kCommandTries);
  // The frame of one S1/S2 record; false when it was not acknowledged.
  bool send_record(const SRecord& record, std::size_t line_count);
  void report_record_failure(const std::string& record_type, std::size_t line_count);

  Comms& comms_;
  Prompts& prompts_;
  FlashView& view_;
  std::string frame_;
  std::string reply_;
  int tries_ = 0;
};

}  // namespace r7
