#include "flash/bootloader.h"

#include <algorithm>
#include <cstdio>

#include "base/run_error.h"
#include "flash/srecord.h"

namespace r7 {

namespace {

// How long a late acknowledgement is waited for and thrown away after a try
// that failed (the erase's 30 s time-out is not waited out again).
constexpr double kLateReplyMs = 2000;
constexpr double kAfterWrongReplyMs = 50;

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

// Characters 5 up to (not including) the last two; empty for lines under six characters.
std::string address_and_data_field(const std::string& line) {
  return line.size() < 6 ? std::string() : line.substr(4, line.size() - 6);
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

bool Bootloader::execute_download_app(std::string_view address) {
  frame_ = bootloader_frame(kCmdExecute, address);
  return exchange(kCmdExecute, kCommandTimeoutMs);
}

std::string Bootloader::online_probe() {
  return comms_.transmit(kXonSlot, std::string(1, '\0'), kProbeTimeoutMs, expect_bytes(1)).reply;
}

bool Bootloader::send_record(const std::string& line, std::size_t line_count) {
  const std::string record_type = line.substr(0, 2);
  const std::string byte_count = line.size() > 2 ? line.substr(2, 2) : std::string();
  const std::string data = address_and_data_field(line);
  const std::string checksum = line.substr(line.size() < 2 ? 0 : line.size() - 2);
  const std::uint8_t command = record_type == "S1" ? kCmdRecordS1 : kCmdRecordS2;
  // The frame's length byte is half the field's length, halves to the even
  // number; for an odd field it and the converted bytes disagree, and the
  // bootloader refuses the frame.
  const std::size_t half = data.size() / 2;
  const std::size_t n = data.size() % 2 == 0 || half % 2 == 0 ? half : half + 1;
  std::string f;
  f += '\xFF';
  f += static_cast<char>(command);
  f += static_cast<char>(n);
  f += check_srecord_fields(byte_count, data, checksum, prompts_);
  f += static_cast<char>(bootloader_checksum(f));
  frame_ = f;
  // Every record is acknowledged alike; a late acknowledgement of a failed
  // try was waited for and thrown away before the next try (see exchange).
  const bool acknowledged = exchange(command, kCommandTimeoutMs);
  if (!acknowledged) report_record_failure(record_type, line_count);
  return acknowledged;
}

void Bootloader::report_record_failure(const std::string& record_type, std::size_t line_count) {
  const std::string where =
      "Failed at case record_type=" + record_type + " line_count=" + std::to_string(line_count);
  if (record_type == "S1") {
    prompts_.message(where);
    prompts_.message("Sending message: " + frame_);
    prompts_.message("Response: " + reply_);
  } else {
    prompts_.message(where + "\rSending message: " + hex_dump(frame_) +
                     "\rResponse: " + hex_dump(reply_));
  }
}

bool Bootloader::transfer_srecord_file(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  try {
    lines = read_srecord_lines(path);
  } catch (const RunError&) {
    prompts_.message("The file " + path.string() + " could not be read.");
    return false;
  }
  view_.set_progress_max(ec ? 0 : static_cast<int>(size));
  int progress = 0;
  view_.set_progress_value(progress);

  bool ok = true;
  for (std::size_t line_count = 0; line_count < lines.size() && ok; ++line_count) {
    const std::string& line = lines[line_count];
    progress += static_cast<int>(line.size());
    view_.set_progress_value(progress);
    const std::string record_type = line.substr(0, 2);
    if (record_type == "S1" || record_type == "S2") {
      ok = send_record(line, line_count);
    } else if (record_type != "S0" && record_type != "S8" && record_type != "S9") {
      // header and end records send nothing; anything else is skipped
      prompts_.message("Didn't know how to interpret this line");
    }
  }
  view_.set_progress_value(0);
  return ok;
}

}  // namespace r7
