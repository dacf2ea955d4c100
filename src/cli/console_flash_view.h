// The main window's histories and progress bar on the command line: every
// command history line is printed as "> TEXT", every response line as
// "< TEXT" (or as JSON objects with --json); the progress is the console's
// progress line.
#pragma once

#include <string>

#include "cli/console_output.h"
#include "seams/flash_view.h"

namespace r7::cli {

class ConsoleFlashView final : public FlashView {
 public:
  explicit ConsoleFlashView(ConsoleOutput& out) : out_(out) {}

  void add_command(const std::string& text) override { out_.line("command", text); }
  void add_response(const std::string& text) override;
  void scroll_histories_to_end() override {}
  void set_progress_max(int max) override { max_ = max; }
  void set_progress_value(int value) override;
  void set_warning_visible(bool visible) override;
  void set_start_enabled(bool) override {}
  void set_quit_enabled(bool) override {}
  void set_file_text(const std::string&) override {}
  void set_erase_enabled(bool) override {}
  void begin_wait(const std::string& what, std::uint32_t up_to_ms) override {
    out_.wait(what, up_to_ms);
  }
  void end_wait() override { out_.end_wait(); }
  // The progress line follows each file; the summary is the command's own.
  void set_download_progress(const DownloadProgress&) override {}
  void show_summary(const DownloadSummary&) override {}

  const std::string& last_response() const { return last_response_; }

 private:
  ConsoleOutput& out_;
  int max_ = 0;
  bool warning_ = false;
  std::string last_response_;
};

}  // namespace r7::cli
