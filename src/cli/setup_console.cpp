#include "cli/setup_console.h"

#include "cli/stations.h"

#include <algorithm>
#include <filesystem>

namespace r7::cli {

void ConsoleSetupView::set_progress_visible(bool visible) {
  visible_ = visible;
  show();
}

void ConsoleSetupView::set_progress_range(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
  show();
}

void ConsoleSetupView::set_progress_value(int value) {
  value_ = value;
  show();
}

void ConsoleSetupView::show() {
  if (!visible_ || maximum_ <= minimum_) {
    out_.end_progress();
    return;
  }
  const int done = std::max(0, std::min(maximum_ - minimum_, value_ - minimum_));
  out_.progress(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(maximum_ - minimum_),
                "lines");
}

SetupCommandPrompts::SetupCommandPrompts(Prompts& console, ConsoleOutput& out,
                                         std::optional<std::string> file, bool bounded_retries,
                                         int retry_budget)
    : console_(console),
      out_(out),
      file_(std::move(file)),
      bounded_retries_(bounded_retries),
      retries_left_(retry_budget) {}

Answer SetupCommandPrompts::message_box(const MessageBox& box) {
  if (box.buttons == Buttons::RetryCancel && bounded_retries_ && retries_left_ <= 0) {
    MessageBox shown = box;
    shown.buttons = Buttons::Ok;
    shown.text += "\n(no answer after repeated retries: Cancel)";
    console_.message_box(shown);
    retries_exhausted_ = true;
    return Answer::Cancel;
  }
  const Answer a = console_.message_box(box);
  if (box.buttons == Buttons::RetryCancel && a == Answer::Retry) --retries_left_;
  return a;
}

std::optional<std::string> SetupCommandPrompts::open_file(const FileDialog& /*dialog*/) {
  std::optional<std::string> path;
  if (file_) path = std::filesystem::absolute(*file_).string();
  out_.file("open", path);
  return path;
}

std::optional<std::string> SetupCommandPrompts::save_file(const FileDialog& dialog) {
  std::filesystem::path path = dialog.initial_dir;
  std::error_code ec;
  if (file_ && std::filesystem::is_directory(*file_, ec)) path = std::filesystem::absolute(*file_);
  path /= dialog.file_name;
  if (file_ && !std::filesystem::is_directory(*file_, ec)) {
    path = std::filesystem::absolute(*file_);
  } else if (claims_ != nullptr) {
    path = claims_->claim(path, station_tag_);
  }
  out_.file("save", path.string());
  return path.string();
}

}  // namespace r7::cli
