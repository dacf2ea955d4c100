// A FlashView that keeps everything the firmware download showed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "seams/flash_view.h"

namespace r7::test {

class RecordingFlashView : public FlashView {
 public:
  void add_command(const std::string& text) override {
    commands.push_back(text);
    if (on_command) on_command(text);
  }
  void add_response(const std::string& text) override { responses.push_back(text); }
  void scroll_histories_to_end() override {}
  void set_progress_max(int max) override { progress_max = max; }
  void set_progress_value(int value) override {
    progress_value = value;
    progress_values.push_back(value);
  }
  void set_warning_visible(bool visible) override {
    warning_visible = visible;
    warnings.push_back(visible);
  }
  void set_start_enabled(bool enabled) override { start_enabled = enabled; }
  void set_quit_enabled(bool enabled) override { quit_enabled = enabled; }
  void set_file_text(const std::string& text) override { file_text = text; }
  void set_erase_enabled(bool enabled) override { erase_enabled = enabled; }
  void begin_wait(const std::string& what, std::uint32_t up_to_ms) override {
    waits.push_back(what + " " + std::to_string(up_to_ms));
  }
  void end_wait() override { waits.push_back("end"); }
  void set_download_progress(const DownloadProgress& p) override { whole.push_back(p); }
  void show_summary(const DownloadSummary& s) override { summaries.push_back(s); }

  // Called after each command line is added (tests inject faults at a step).
  std::function<void(const std::string&)> on_command;

  std::vector<std::string> commands;
  std::vector<std::string> responses;
  std::vector<int> progress_values;
  std::vector<std::string> waits;  // "what up_to_ms", then "end"
  std::vector<bool> warnings;      // each showing and hiding of the red warning
  std::vector<DownloadProgress> whole;
  std::vector<DownloadSummary> summaries;
  int progress_max = 0;
  int progress_value = 0;
  bool warning_visible = false;
  bool start_enabled = true;
  bool quit_enabled = true;
  bool erase_enabled = false;
  std::string file_text = "File Path and Name";
};

}  // namespace r7::test
