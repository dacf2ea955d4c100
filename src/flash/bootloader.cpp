#include "flash/bootloader.h"

#include <algorithm>
#include <cstdio>

namespace r7 {

namespace {

// How long a late acknowledgement is waited for and thrown away after a try
// that failed (the erase's 30 s time-out is not waited out again).
constexpr double kLateReplyMs = 2000;
constexpr double kAfterWrongReplyMs = 50;
constexpr const char* kRecordFailedTitle = "Record Not Acknowledged";

// "FF 21 5 1 0 0 52 37 AF ": upper-case hex without leading zeros, a blank after each byte.
std::string hex_dump(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned char>(c));
    out += buf;
    out += ' ';
  }
  return out;
}

}  // namespace

std::uint8_t bootloader_checksum(std::string_view message) {
  unsigned sum = 0;
  for (char c : message)
    sum += static_cast<unsigned char>(c);
  return static_cast<std::uint8_t>(sum & 0xFFU);
}

bool is_acknowledgement(std::string_view reply, std::uint8_t command) {
  return reply.size() == 2 && static_cast<unsigned char>(reply[0]) == 0xFF &&
         static_cast<unsigned char>(reply[1]) == command;
}

OnlineState online_state(std::string_view reply) {
  if (reply.empty()) return OnlineState::NoResponse;
  return reply[0] == '\x01' ? OnlineState::Online : OnlineState::UnknownReply;
}

std::string bootloader_frame(std::uint8_t command, std::string_view data) {
  std::string f;
  f += '\xFF';
  f += static_cast<char>(command);
  f += static_cast<char>(data.size());
  f += data;
  f += static_cast<char>(bootloader_checksum(f));
  return f;
}

// Only the echo of this command counts, and after a try that failed the line
// is left to fall quiet before the next one, so a late acknowledgement of
// another frame (or of an earlier try) never passes for this one.
bool Bootloader::exchange(std::uint8_t command, float timeout_ms, int tries) {
  for (tries_ = 1; tries_ <= tries; ++tries_) {
    Exchange done = comms_.transmit(kXonSlot, frame_, timeout_ms, expect_bytes(2));
    reply_ = std::move(done.reply);
    if (is_acknowledgement(reply_, command)) return true;
    if (done.result == ExchangeResult::PortUnavailable ||
        done.result == ExchangeResult::LineDropped) {
      continue;  // nothing late can come on a port opened afresh
    }
    // Nothing came: the acknowledgement may still be on its way. A wrong
    // reply came: only what follows it is thrown away.
    const double quiet = reply_.empty() ? std::min(static_cast<double>(timeout_ms), kLateReplyMs)
                                        : kAfterWrongReplyMs;
    comms_.drain(kXonSlot, quiet, 2 * quiet);
  }
  tries_ = tries;
  return false;
}

bool Bootloader::download_completed() {
  frame_ = bootloader_frame(kCmdDownloadCompleted, {});
  return exchange(kCmdDownloadCompleted, kCommandTimeoutMs);
}

bool Bootloader::resident() {
  frame_ = bootloader_frame(kCmdDownloadCompleted, {});
  return exchange(kCmdDownloadCompleted, kCommandTimeoutMs, 1);
}

bool Bootloader::erase_flash() {
  frame_ = bootloader_frame(kCmdErase, {});
  return exchange(kCmdErase, kEraseTimeoutMs);
}

bool Bootloader::execute_download_app(std::string_view address, int tries) {
  frame_ = bootloader_frame(kCmdExecute, address);
  return exchange(kCmdExecute, kCommandTimeoutMs, tries);
}

std::string Bootloader::online_probe() {
  return comms_.transmit(kXonSlot, std::string(1, '\0'), kProbeTimeoutMs, expect_bytes(1)).reply;
}

bool Bootloader::send_record(const SRecord& record, std::size_t line_count) {
  const std::string record_type(record.type_field());
  const TransferRecord data = record.transfer();
  const std::uint8_t command = record_type == "S1" ? kCmdRecordS1 : kCmdRecordS2;
  // The frame's length byte is half the field's length, halves to the even
  // number; for an odd field it and the converted bytes disagree, and the
  // bootloader refuses the frame.
  const std::size_t half = data.data_digits / 2;
  const std::size_t n = data.data_digits % 2 == 0 || half % 2 == 0 ? half : half + 1;
  for (const TransferWarning warning : data.warnings)
    prompts_.message(transfer_warning_text(warning), "S-Record Check", Icon::Exclamation);
  std::string f;
  f += '\xFF';
  f += static_cast<char>(command);
  f += static_cast<char>(n);
  f += data.bytes;
  f += static_cast<char>(bootloader_checksum(f));
  frame_ = f;
  // Every record is acknowledged alike; a late acknowledgement of a failed
  // try was waited for and thrown away before the next try (see exchange).
  const bool acknowledged = exchange(command, kCommandTimeoutMs, kRecordTries);
  if (!acknowledged) report_record_failure(record_type, line_count);
  return acknowledged;
}

void Bootloader::report_record_failure(const std::string& record_type, std::size_t line_count) {
  // A port that could not be used has said why; a dump of frames that never
  // reached the line would only hide it.
  if (!comms_.port_available()) return;
  const std::string where =
      "Failed at case record_type=" + record_type + " line_count=" + std::to_string(line_count);
  if (record_type == "S1") {
    prompts_.message(where, kRecordFailedTitle, Icon::Critical);
    prompts_.message("Sending message: " + frame_, kRecordFailedTitle, Icon::Critical);
    prompts_.message("Response: " + reply_, kRecordFailedTitle, Icon::Critical);
  } else {
    prompts_.message(
        where + "\rSending message: " + hex_dump(frame_) + "\rResponse: " + hex_dump(reply_),
        kRecordFailedTitle, Icon::Critical);
  }
}

bool Bootloader::transfer(const std::vector<SRecord>& records, int progress_max) {
  view_.set_progress_max(progress_max);
  int progress = 0;
  view_.set_progress_value(progress);
  bool ok = true;
  for (std::size_t line_count = 0; line_count < records.size() && ok; ++line_count) {
    const SRecord& record = records[line_count];
    progress += static_cast<int>(record.length());
    view_.set_progress_value(progress);
    const std::string_view record_type = record.type_field();
    if (record.sent()) {
      ok = send_record(record, line_count);
    } else if (record_type != "S0" && record_type != "S8" && record_type != "S9") {
      // header and end records send nothing; anything else is skipped
      prompts_.message("Didn't know how to interpret this line", "S-Record Check",
                       Icon::Exclamation);
    }
  }
  view_.set_progress_value(0);
  return ok;
}

}  // namespace r7
