// The main window's histories and progress bar on a terminal: every command
// history line is printed as "> TEXT", every response line as "< TEXT"; the
// progress bar is one updating line on a terminal and silent otherwise.
#pragma once

#include <cstdio>
#include <string>

#include "flash/flash_view.h"

namespace r7::cli {

class ConsoleFlashView final : public FlashView {
 public:
  explicit ConsoleFlashView(bool quiet, std::FILE* out = stdout);
  ~ConsoleFlashView() override;

  void add_command(const std::string& text) override;
  void add_response(const std::string& text) override;
  void scroll_histories_to_end() override {}
  void set_progress_max(int max) override { max_ = max; }
  void set_progress_value(int value) override;
  void set_warning_visible(bool visible) override;
  void set_start_enabled(bool) override {}
  void set_quit_enabled(bool) override {}
  void set_file_text(const std::string&) override {}
  void set_erase_enabled(bool) override {}
  // On a terminal "what (up to N s) ..." until the wait ends.
  void begin_wait(const std::string& what, std::uint32_t up_to_ms) override;
  void end_wait() override { end_progress_line(); }

  const std::string& last_response() const { return last_response_; }

 private:
  void end_progress_line();

  bool quiet_;
  std::FILE* out_;
  bool terminal_;
  int max_ = 0;
  int shown_percent_ = -1;
  bool progress_line_open_ = false;
  bool warning_ = false;
  std::string last_response_;
};

}  // namespace r7::cli
