#include "cli/setup_console.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace r7::cli {

ConsoleSetupView::ConsoleSetupView(bool quiet, std::FILE* out)
    : quiet_(quiet), out_(out), terminal_(isatty(fileno(out)) != 0) {}

ConsoleSetupView::~ConsoleSetupView() {
  clear_progress_line();
}

void ConsoleSetupView::print(const std::string& line) {
  clear_progress_line();
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
  draw_progress();
}

void ConsoleSetupView::add_history(const std::string& text) {
  if (!quiet_) print(text);
}

void ConsoleSetupView::add_error(const std::string& text) {
  print(text);
}

void ConsoleSetupView::set_progress_visible(bool visible) {
  visible_ = visible;
  if (visible) {
    draw_progress();
  } else {
    clear_progress_line();
  }
}

void ConsoleSetupView::set_progress_range(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
  draw_progress();
}

void ConsoleSetupView::set_progress_value(int value) {
  value_ = value;
  draw_progress();
}

void ConsoleSetupView::begin_wait(const std::string& what, std::uint32_t up_to_ms) {
  wait_ = what + " (up to " + std::to_string(up_to_ms / 1000) + " s) ...";
  draw_progress();
}

void ConsoleSetupView::end_wait() {
  wait_.clear();
  clear_progress_line();
  draw_progress();
}

void ConsoleSetupView::clear_progress_line() {
  if (!drawn_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  drawn_ = false;
}

void ConsoleSetupView::draw_progress() {
  if (!terminal_ || quiet_) return;
  if (!wait_.empty()) {
    std::fprintf(out_, "\r%s\033[K", wait_.c_str());
    std::fflush(out_);
    drawn_ = true;
    return;
  }
  if (!visible_ || maximum_ <= minimum_) return;
  constexpr int kWidth = 30;
  const int span = maximum_ - minimum_;
  const int done = std::max(0, std::min(span, value_ - minimum_));
  const int filled = done * kWidth / span;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), ' ');
  std::fprintf(out_, "\r[%s] %d/%d\033[K", bar.c_str(), done, span);
  std::fflush(out_);
  drawn_ = true;
}

SetupCommandPrompts::SetupCommandPrompts(Prompts& console, ConsoleSetupView& view,
                                         std::optional<std::string> file, bool bounded_retries,
                                         int retry_budget)
    : console_(console),
      view_(view),
      file_(std::move(file)),
      bounded_retries_(bounded_retries),
      retries_left_(retry_budget) {}

Answer SetupCommandPrompts::message_box(const MessageBox& box) {
  view_.clear_progress_line();
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
  if (!file_) return std::nullopt;
  return std::filesystem::absolute(*file_).string();
}

std::optional<std::string> SetupCommandPrompts::save_file(const FileDialog& dialog) {
  if (file_) return std::filesystem::absolute(*file_).string();
  std::filesystem::path proposed = dialog.initial_dir;
  proposed /= dialog.file_name;
  return proposed.string();
}

}  // namespace r7::cli
