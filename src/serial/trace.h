// The --trace of the serial link: one line per write and per reply, and the
// hex forms of bytes that it and the command line use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "seams/clock.h"

namespace r7 {

// Receives one line per write and per completed reply (--trace FILE).
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  // `transmitted`: a write (elapsed since transmit was called) or a reply
  // (elapsed since the write; an empty reply is the time-out).
  virtual void record(int slot, const std::string& device, bool transmitted, std::string_view bytes,
                      std::uint32_t elapsed_ms) = 0;
  // Bytes that came after a reply was over and were thrown away (a late
  // reply to an earlier request); `elapsed_ms` is the time spent waiting.
  virtual void discarded(int /*slot*/, const std::string& /*device*/, std::string_view /*bytes*/,
                         std::uint32_t /*elapsed_ms*/) {}
  // The echo of a write taken off before its reply; `elapsed_ms` since the write.
  virtual void echoed(int /*slot*/, const std::string& /*device*/, std::string_view /*bytes*/,
                      std::uint32_t /*elapsed_ms*/) {}
};

// Appends trace lines to a file, opened and closed for each line:
//   2025-03-03 14:05:09 slot 1 /dev/ttyS1 TX 01 03 00 00 00 01 84 0A 0 ms
class FileTrace final : public TraceSink {
 public:
  FileTrace(std::filesystem::path file, Clock& clock);
  // What keeps `file` from taking trace lines (a directory, a file that cannot
  // be opened for appending; it is created when missing), or nullopt. A pipe
  // or a device is taken as it is: opening it here could wait.
  static std::optional<std::string> check(const std::filesystem::path& file);
  void record(int slot, const std::string& device, bool transmitted, std::string_view bytes,
              std::uint32_t elapsed_ms) override;
  // "... slot 1 /dev/ttyS1 DROP 01 03 ... 250 ms"
  void discarded(int slot, const std::string& device, std::string_view bytes,
                 std::uint32_t elapsed_ms) override;
  // "... slot 1 /dev/ttyS1 ECHO 01 03 ... 9 ms"
  void echoed(int slot, const std::string& device, std::string_view bytes,
              std::uint32_t elapsed_ms) override;

  // Called once, at the first line that cannot be written (a full disk), with
  // the file and the system's reason; later lines are tried and lost quietly.
  void set_on_lost(std::function<void(const std::string&)> on_lost) {
    on_lost_ = std::move(on_lost);
  }

  // The line as written, without the line end.
  std::string format_line(int slot, const std::string& device, bool transmitted,
                          std::string_view bytes, std::uint32_t elapsed_ms);

 private:
  std::string format(int slot, const std::string& device, const char* direction,
                     std::string_view bytes, std::uint32_t elapsed_ms);
  void append(const std::string& line);

  std::filesystem::path file_;
  Clock& clock_;
  std::function<void(const std::string&)> on_lost_;
  bool lost_told_ = false;
};

// Bytes as upper-case hex pairs separated by one blank ("01 03 02").
std::string hex_bytes(std::string_view bytes, bool blanks = true);
// "01 03 00 00 00 01 84 0A", "010300000001840a" -> the bytes; nullopt when the
// text is not whole pairs of hex digits (blanks, tabs and colons between them
// allowed) or has none.
std::optional<std::string> parse_hex_bytes(std::string_view text);

}  // namespace r7
