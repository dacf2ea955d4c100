// What several stations print into one stream: every line whole and led by
// its station's name; on a terminal, one live line per station (its progress
// or its latest line) kept under the lines that scroll.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace r7::cli {

class StationBoard {
 public:
  // `live`: draw the live lines (standard output is a terminal, text output).
  StationBoard(std::vector<std::string> names, bool live, std::FILE* out = stdout,
               std::FILE* err = stderr);
  ~StationBoard();
  StationBoard(const StationBoard&) = delete;
  StationBoard& operator=(const StationBoard&) = delete;

  bool live() const { return live_; }
  const std::string& name(std::size_t station) const { return names_.at(station); }

  // "NAME: TEXT" on standard output, or on standard error.
  void print(std::size_t station, const std::string& text, bool to_error = false);
  // A line as it stands (a JSON object that names its station, the table).
  void print_plain(const std::string& text);
  // The station's live line; nothing unless live.
  void set_status(std::size_t station, const std::string& text);
  // Takes the live lines away for good (before the summary).
  void close();

 private:
  std::string led(std::size_t station, const std::string& text) const;
  void erase_locked();
  void draw_locked();

  std::mutex mutex_;
  std::vector<std::string> names_;
  std::vector<std::string> status_;
  std::size_t name_width_ = 0;
  bool live_;
  std::FILE* out_;
  std::FILE* err_;
  bool drawn_ = false;
};

}  // namespace r7::cli
