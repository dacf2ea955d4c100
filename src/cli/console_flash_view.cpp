#include "cli/console_flash_view.h"

namespace r7::cli {

void ConsoleFlashView::add_response(const std::string& text) {
  last_response_ = text;
  out_.line("response", text);
}

void ConsoleFlashView::set_progress_value(int value) {
  if (max_ <= 0) return;
  if (value == 0) {
    out_.end_progress();
    return;
  }
  out_.progress(static_cast<std::uint64_t>(value), static_cast<std::uint64_t>(max_), "bytes");
}

void ConsoleFlashView::set_warning_visible(bool visible) {
  if (visible == warning_) return;
  warning_ = visible;
  if (visible) out_.line("warning", "Warning: Download in process do NOT cycle power");
}

}  // namespace r7::cli
