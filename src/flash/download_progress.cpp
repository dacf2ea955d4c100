#include "flash/download_progress.h"

#include <algorithm>
#include <cmath>

namespace r7 {

namespace {

// What the steps take on a controller at 38400 baud (r7sim, paced, measured).
constexpr double kBackupMs = 15000;
constexpr double kDownloadModeMs = 8000;
constexpr double kPauseMs = 5000;
constexpr double kStartAppMs = 1000;
constexpr double kEraseMs = 5000;
constexpr double kTransferMsPerByte = 0.22;  // of the S-record file
// Below this many bytes sent the measured pace says little.
constexpr double kPaceAfterBytes = 4096;
constexpr std::uint32_t kShowEveryMs = 500;

}  // namespace

void WholeDownloadView::begin(bool backup, bool download_mode, std::uintmax_t app_bytes,
                              std::uintmax_t firmware_bytes) {
  active_ = true;
  ended_ = false;
  started_ms_ = clock_.tick_ms();
  step_started_ms_ = started_ms_;
  bytes_ = {};
  bytes_[index(Step::DownloadApp)] = static_cast<double>(app_bytes);
  bytes_[index(Step::Firmware)] = static_cast<double>(firmware_bytes);
  weight_ms_ = {backup ? kBackupMs : 0,
                download_mode ? kDownloadModeMs : 0,
                download_mode ? kPauseMs : 0,
                static_cast<double>(app_bytes) * kTransferMsPerByte,
                kStartAppMs,
                kEraseMs,
                static_cast<double>(firmware_bytes) * kTransferMsPerByte};
  step_ = 0;
  fraction_ = 0;
  transfer_ms_ = 0;
  transfer_bytes_ = 0;
  shown_percent_ = -1;
  show(true);
}

bool WholeDownloadView::is_transfer(std::size_t step) const {
  return step == index(Step::DownloadApp) || step == index(Step::Firmware);
}

void WholeDownloadView::enter(Step step) {
  if (!active_ || index(step) < step_) return;
  const std::uint32_t now = clock_.tick_ms();
  if (is_transfer(step_) && fraction_ > 0) {
    transfer_ms_ += now - step_started_ms_;
    transfer_bytes_ += bytes_[step_] * fraction_;
  }
  step_ = index(step);
  step_started_ms_ = now;
  fraction_ = 0;
  show(true);
}

void WholeDownloadView::within(double fraction) {
  if (!active_) return;
  fraction_ = std::clamp(std::max(fraction, fraction_), 0.0, 1.0);
  show();
}

void WholeDownloadView::end(bool completed) {
  if (!active_) return;
  if (completed) {
    step_ = kSteps - 1;
    fraction_ = 1;
  }
  ended_ = true;
  show(true);
  active_ = false;
}

DownloadProgress WholeDownloadView::progress() const {
  const std::uint32_t now = clock_.tick_ms();
  DownloadProgress p;
  p.elapsed_ms = now - started_ms_;
  p.running = !ended_;
  double total = 0;
  double done = 0;
  for (std::size_t i = 0; i < kSteps; ++i) {
    total += weight_ms_[i];
    if (i < step_) done += weight_ms_[i];
  }
  done += weight_ms_[step_] * fraction_;
  const bool complete = ended_ && step_ == kSteps - 1 && fraction_ >= 1;
  p.percent = complete ? 100 : total > 0 ? std::min(99, static_cast<int>(100 * done / total)) : 0;
  if (ended_) {
    if (complete) p.remaining_ms = 0;
    return p;
  }
  // The transfers at the pace seen so far, the current one included.
  double sent = transfer_bytes_;
  double sending_ms = transfer_ms_;
  if (is_transfer(step_)) {
    sent += bytes_[step_] * fraction_;
    sending_ms += now - step_started_ms_;
  }
  const double per_byte = sent >= kPaceAfterBytes ? sending_ms / sent : kTransferMsPerByte;
  const double in_step_ms = now - step_started_ms_;
  double left = 0;
  for (std::size_t i = step_; i < kSteps; ++i) {
    if (is_transfer(i)) {
      left += (i == step_ ? 1 - fraction_ : 1) * bytes_[i] * per_byte;
    } else if (i != step_) {
      left += weight_ms_[i];
    } else {  // a wait that tells no share of its own counts down its usual time
      left += fraction_ > 0 ? (1 - fraction_) * weight_ms_[i]
                            : std::max(0.0, weight_ms_[i] - in_step_ms);
    }
  }
  p.remaining_ms = static_cast<std::uint32_t>(std::lround(left));
  return p;
}

void WholeDownloadView::set_progress_max(int max) {
  progress_max_ = max;
  view_.set_progress_max(max);
}

void WholeDownloadView::set_progress_value(int value) {
  view_.set_progress_value(value);
  if (active_ && is_transfer(step_) && progress_max_ > 0 && value > 0) {
    within(static_cast<double>(value) / progress_max_);
  }
}

void WholeDownloadView::show(bool always) {
  const DownloadProgress p = progress();
  const std::uint32_t now = clock_.tick_ms();
  if (!always && p.percent == shown_percent_ && now - shown_ms_ < kShowEveryMs) return;
  shown_percent_ = p.percent;
  shown_ms_ = now;
  view_.set_download_progress(p);
}

}  // namespace r7
