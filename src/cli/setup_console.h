// The setup window on a terminal: what `save` and `restore` show, and how
// their file dialogs and Retry questions are answered on the command line.
#pragma once

#include <optional>
#include <string>

#include "cli/console_output.h"
#include "seams/prompts.h"
#include "seams/setup_view.h"

namespace r7::cli {

// History and error-list lines go to the console output (the history is left
// out with --quiet; error lines never are), the progress to its progress line.
class ConsoleSetupView final : public SetupView {
 public:
  explicit ConsoleSetupView(ConsoleOutput& out) : out_(out) {}

  void add_history(const std::string& text) override { out_.line("history", text); }
  void clear_history() override {}
  void add_error(const std::string& text) override { out_.line("error", text); }
  void clear_errors() override {}
  void set_progress_visible(bool visible) override;
  void set_progress_range(int minimum, int maximum) override;
  void set_progress_value(int value) override;
  void set_window_enabled(bool) override {}
  void begin_wait(const std::string& what, std::uint32_t up_to_ms) override {
    out_.wait(what, up_to_ms);
  }
  void end_wait() override { out_.end_wait(); }

 private:
  void show();

  ConsoleOutput& out_;
  bool visible_ = false;
  int minimum_ = 0;
  int maximum_ = 0;
  int value_ = 0;
};

class NameClaims;

// Prompts for one setup command: the file dialogs are answered with the
// command line's FILE (the save's default is the proposed name in the
// proposed folder, or in FILE when it names a folder), and with --yes a Retry/Cancel question is
// answered Retry at most `retry_budget` times in all, then Cancel, so that a silent controller
// cannot keep an unattended run going for ever.
class SetupCommandPrompts final : public Prompts {
 public:
  SetupCommandPrompts(Prompts& console, ConsoleOutput& out, std::optional<std::string> file,
                      bool bounded_retries, int retry_budget = 3);

  Answer message_box(const MessageBox& box) override;
  std::optional<int> choose(const Choice& choice) override { return console_.choose(choice); }
  std::optional<std::string> open_file(const FileDialog& dialog) override;
  std::optional<std::string> save_file(const FileDialog& dialog) override;
  void set_busy(bool busy) override { console_.set_busy(busy); }

  // One station of several: the save's proposed name is claimed in `claims`,
  // so that two controllers with the same serial number keep both files.
  void share_names(NameClaims& claims, std::string station_tag) {
    claims_ = &claims;
    station_tag_ = std::move(station_tag);
  }

  // A Retry question was answered Cancel because the budget was spent.
  bool retries_exhausted() const { return retries_exhausted_; }

 private:
  Prompts& console_;
  ConsoleOutput& out_;
  std::optional<std::string> file_;
  bool bounded_retries_;
  int retries_left_;
  bool retries_exhausted_ = false;
  NameClaims* claims_ = nullptr;
  std::string station_tag_;
};

}  // namespace r7::cli
