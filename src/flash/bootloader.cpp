#include "flash/bootloader.h"

#include <cstdio>

#include "errors/run_error.h"
#include "flash/srecord.h"

namespace r7 {

namespace {

std::string frame(std::uint8_t command, std::string_view data) {
  std::string f;
  f += '\xFF';
  f += static_cast<char>(command);
  f += static_cast<char>(data.size());
  f += data;
  f += static_cast<char>(Bootloader::bootloader_checksum(f));
  return f;
}

std::string acknowledgement(std::uint8_t command) {
  return std::string("\xFF", 1) + static_cast<char>(command);
}

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

// Sends flash_message up to three times and waits for FF + command. Input left
// over from an earlier frame is discarded before each send, and only the echo
// of this command counts, so a late acknowledgement of another frame never
// passes for this one.
int exchange(Bootloader& boot, Comms& comms, Prompts& prompts, std::uint8_t command,
             float timeout_ms, bool yield_between_tries) {
  const std::string expected = acknowledgement(command);
  boot.flash_tries = 0;
  boot.flash_ok = 0;
  while (boot.flash_tries < kCommandTries && boot.flash_ok == 0) {
    ++boot.flash_tries;
    boot.flash_reply = comms.transmit(kXonSlot, boot.flash_message, timeout_ms, expect_bytes(2));
    if (boot.flash_reply == expected) {
      boot.flash_ok = 1;
    } else if (yield_between_tries) {
      prompts.process_events();
    }
  }
  return boot.flash_ok;
}

}  // namespace

int Bootloader::download_completed() {
  flash_message = frame(kCmdDownloadCompleted, {});
  return exchange(*this, comms_, prompts_, kCmdDownloadCompleted, kCommandTimeoutMs, false);
}

int Bootloader::erase_flash() {
  flash_message = frame(kCmdErase, {});
  return exchange(*this, comms_, prompts_, kCmdErase, kEraseTimeoutMs, true);
}

int Bootloader::execute_download_app(std::string_view address) {
  flash_message = frame(kCmdExecute, address);
  return exchange(*this, comms_, prompts_, kCmdExecute, kCommandTimeoutMs, false);
}

std::string Bootloader::online_probe() {
  return comms_.transmit(kXonSlot, std::string(1, '\0'), kProbeTimeoutMs, expect_bytes(1));
}

int Bootloader::transfer_srecord_file(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  try {
    lines = read_srecord_lines(path);
  } catch (const RunError&) {
    // Reported as a failed transfer, naming the file.
    prompts_.message("The file " + path.string() + " could not be read.");
    return 0;
  }
  view_.set_progress_max(ec ? 0 : static_cast<int>(size));
  int progress = 0;
  view_.set_progress_value(progress);

  flash_ok = 1;
  for (std::size_t line_count = 0; line_count < lines.size(); ++line_count) {
    const std::string& line = lines[line_count];
    progress += static_cast<int>(line.size());
    view_.set_progress_value(progress);

    const std::string record_type = line.substr(0, 2);
    const std::string byte_count = line.size() > 2 ? line.substr(2, 2) : std::string();
    const std::string data = address_and_data_field(line);
    const std::string checksum = line.substr(line.size() < 2 ? 0 : line.size() - 2);
    // Half the field's length, halves to the even number.
    const std::size_t half = data.size() / 2;
    const std::size_t n = data.size() % 2 == 0 ? half : (half % 2 == 0 ? half : half + 1);

    if (record_type == "S0" || record_type == "S8" || record_type == "S9") {
      // header and end records: nothing is sent
    } else if (record_type == "S1" || record_type == "S2") {
      const std::uint8_t command = record_type == "S1" ? kCmdRecordS1 : kCmdRecordS2;
      check_srecord_line(byte_count, data, checksum);
      std::string f;
      f += '\xFF';
      f += static_cast<char>(command);
      f += static_cast<char>(n);
      f += flash_message;
      f += static_cast<char>(bootloader_checksum(f));
      flash_message = f;
      const int acknowledged = exchange(*this, comms_, prompts_, command, kCommandTimeoutMs, false);
      if (acknowledged == 1 && flash_tries > 1) {
        // Every record is acknowledged alike, so an acknowledgement of one of
        // the earlier tries still on its way would pass for the next record's.
        // Wait it out and discard it before the next record goes.
        for (int pending = flash_tries - 1; pending > 0; --pending) {
          if (comms_.transmit(kXonSlot, {}, kCommandTimeoutMs, expect_bytes(2)).empty()) break;
        }
      }
      if (acknowledged == 0) {
        const std::string where = "Failed at case record_type=" + record_type +
                                  " line_count=" + std::to_string(line_count);
        if (command == kCmdRecordS1) {
          prompts_.message(where);
          prompts_.message("Sending message: " + flash_message);
          prompts_.message("Response: " + flash_reply);
        } else {
          prompts_.message(where + "\rSending message: " + hex_dump(flash_message) +
                           "\rResponse: " + hex_dump(flash_reply));
        }
      }
    } else {
      prompts_.message("Didn't know how to interpret this line");
    }
    if (line_count % 10 == 0) prompts_.process_events();
    if (flash_ok == 0) break;
  }
  view_.set_progress_value(0);
  return flash_ok;
}

}  // namespace r7
