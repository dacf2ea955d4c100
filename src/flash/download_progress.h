// The whole download's progress for a bar that does not restart with each
// step. Every step weighs what it usually takes, a file transfer by its size;
// the time left is what the steps still to come usually take, with the
// transfers at the pace measured so far.
//
// It is the download's FlashView: everything is passed on to the window's,
// and the step bar of a transfer moves the whole bar too.
#pragma once

#include <array>
#include <cstdint>

#include "seams/clock.h"
#include "seams/flash_view.h"

namespace r7 {

class WholeDownloadView final : public FlashView {
 public:
  enum class Step { Backup, DownloadMode, Pause, DownloadApp, StartApp, Erase, Firmware };

  WholeDownloadView(FlashView& view, Clock& clock) : view_(view), clock_(clock) {}

  // The files are chosen: the clock starts. The backup and the switch into
  // download mode count only when they come.
  void begin(bool backup, bool download_mode, std::uintmax_t app_bytes,
             std::uintmax_t firmware_bytes);
  bool active() const { return active_; }
  // `step` begins; the steps before it are done.
  void enter(Step step);
  // The share of the current step done (0..1), for steps that are not transfers.
  void within(double fraction);
  // The download ended: a completed one stands at 100 %, with nothing left.
  void end(bool completed);
  DownloadProgress progress() const;

  // FlashView: passed on; a transfer's bar moves the whole one.
  void add_command(const std::string& text) override { view_.add_command(text); }
  void add_response(const std::string& text) override { view_.add_response(text); }
  void scroll_histories_to_end() override { view_.scroll_histories_to_end(); }
  void set_progress_max(int max) override;
  void set_progress_value(int value) override;
  void set_warning_visible(bool visible) override { view_.set_warning_visible(visible); }
  void set_start_enabled(bool enabled) override { view_.set_start_enabled(enabled); }
  void set_quit_enabled(bool enabled) override { view_.set_quit_enabled(enabled); }
  void set_file_text(const std::string& text) override { view_.set_file_text(text); }
  void set_erase_enabled(bool enabled) override { view_.set_erase_enabled(enabled); }
  void begin_wait(const std::string& what, std::uint32_t up_to_ms) override {
    view_.begin_wait(what, up_to_ms);
  }
  void end_wait() override { view_.end_wait(); }
  void set_download_progress(const DownloadProgress& progress) override {
    view_.set_download_progress(progress);
  }
  void show_summary(const DownloadSummary& summary) override { view_.show_summary(summary); }

 private:
  static constexpr std::size_t kSteps = 7;
  static std::size_t index(Step s) { return static_cast<std::size_t>(s); }
  bool is_transfer(std::size_t step) const;
  // Shown when the percentage moved or half a second passed.
  void show(bool always = false);

  FlashView& view_;
  Clock& clock_;
  bool active_ = false;
  std::uint32_t started_ms_ = 0;
  std::array<double, kSteps> weight_ms_{};  // what each step usually takes; 0: it does not come
  std::array<double, kSteps> bytes_{};      // of the two transfers
  std::size_t step_ = 0;
  double fraction_ = 0;  // of the current step
  std::uint32_t step_started_ms_ = 0;
  double transfer_ms_ = 0;     // spent in finished transfers
  double transfer_bytes_ = 0;  // sent in them
  int progress_max_ = 0;
  int shown_percent_ = -1;
  std::uint32_t shown_ms_ = 0;
  bool ended_ = false;
};

}  // namespace r7
