// Everything r7flash-cli shows on standard output goes through here: plain
// lines, or with --json one JSON object per line (history lines, progress,
// message boxes and questions with their answers, waits, the outcome); and on
// a terminal one progress line that is drawn over in place.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "base/outcome.h"
#include "cli/station_board.h"
#include "seams/prompts.h"

namespace r7::cli {

class ConsoleOutput {
 public:
  ConsoleOutput(bool json, bool quiet, std::FILE* out = stdout);
  ~ConsoleOutput();
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  // One station of several: every line goes through `board`, led by the
  // station's name (JSON objects carry "station"), the progress line is the
  // station's live line.
  void attach(StationBoard& board, std::size_t station);

  bool json() const { return json_; }
  bool terminal() const { return terminal_; }

  // A line of `kind`: "command" / "response" (the firmware download's
  // histories, printed "> TEXT" / "< TEXT"), "history" (the setup window's),
  // "error" (Read/Write Errors) and "result" (a command's result table), both
  // printed even with --quiet, "text" (anything else a command prints),
  // "warning".
  void line(const char* kind, const std::string& text);
  // A message box as "[TITLE] TEXT" (lines joined with " | "), and the
  // answer a question got.
  void message(const MessageBox& box, std::optional<Answer> answer);
  // One difference between a setup file and a controller (--json).
  void difference(const std::string& what, std::optional<int> register_no, const std::string& name,
                  const std::string& file_value, const std::string& controller_value);
  // Which file a dialog was answered with.
  void file(const char* dialog, const std::optional<std::string>& path);
  // Progress of a transfer: `done` of `total` (`unit`: "bytes", "lines").
  // On a terminal one updating line with the percentage, elapsed and
  // remaining time; with --json an object at every new percent.
  void progress(std::uint64_t done, std::uint64_t total, const char* unit);
  void end_progress();
  void wait(const std::string& what, std::uint32_t up_to_ms);
  void end_wait();
  // The last line with --json: how the command ended and its exit status.
  void outcome(const std::optional<Outcome>& outcome, int exit_status);

  // "[TITLE] TEXT" as printed.
  static std::string format(const MessageBox& box);

 private:
  void write_json(nlohmann::ordered_json object);
  void write_text(const std::string& text);
  void clear_line();
  void draw();

  bool json_;
  bool quiet_;
  std::FILE* out_;
  bool terminal_;
  bool drawn_ = false;
  std::uint64_t done_ = 0;
  std::uint64_t total_ = 0;
  const char* unit_ = "";
  int shown_percent_ = -1;
  std::int64_t shown_second_ = -1;
  std::chrono::steady_clock::time_point started_;
  std::string wait_;
  StationBoard* board_ = nullptr;
  std::size_t station_ = 0;
};

}  // namespace r7::cli
