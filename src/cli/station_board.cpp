#include "cli/station_board.h"

#include <algorithm>

#include "os/os.h"

namespace r7::cli {

StationBoard::StationBoard(std::vector<std::string> names, bool live, std::FILE* out,
                           std::FILE* err)
    : names_(std::move(names)), status_(names_.size()), live_(live), out_(out), err_(err) {
  for (const std::string& n : names_)
    name_width_ = std::max(name_width_, n.size());
}

StationBoard::~StationBoard() {
  close();
}

std::string StationBoard::led(std::size_t station, const std::string& text) const {
  std::string line = names_.at(station) + ":";
  line.append(name_width_ - names_[station].size() + 1, ' ');
  return line + text;
}

void StationBoard::print(std::size_t station, const std::string& text, bool to_error) {
  const std::string line = led(station, text) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  erase_locked();
  if (to_error) std::fflush(out_);
  std::fputs(line.c_str(), to_error ? err_ : out_);
  std::fflush(to_error ? err_ : out_);
  draw_locked();
}

void StationBoard::print_plain(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  erase_locked();
  std::fputs((text + "\n").c_str(), out_);
  std::fflush(out_);
  draw_locked();
}

void StationBoard::set_status(std::size_t station, const std::string& text) {
  if (!live_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (status_.at(station) == text) return;
  status_[station] = text;
  erase_locked();
  draw_locked();
}

void StationBoard::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  erase_locked();
  live_ = false;
}

void StationBoard::erase_locked() {
  if (!drawn_) return;
  // Up to the first live line, then clear to the end of the screen.
  std::fprintf(out_, "\r\033[%zuA\033[J", names_.size());
  drawn_ = false;
}

void StationBoard::draw_locked() {
  if (!live_) return;
  // A live line that wrapped would move every line above it: cut at the width.
  const auto width = static_cast<std::size_t>(os::terminal_columns(out_).value_or(80));
  std::string block;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    std::string line = led(i, status_[i]);
    if (line.size() >= width) {
      line.resize(width - 1);
      while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0U) == 0x80U)
        line.pop_back();  // not inside a UTF-8 character
    }
    block += line + "\n";
  }
  std::fputs(block.c_str(), out_);
  std::fflush(out_);
  drawn_ = true;
}

}  // namespace r7::cli
