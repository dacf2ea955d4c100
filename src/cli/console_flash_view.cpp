#include "cli/console_flash_view.h"

#include <unistd.h>

namespace r7::cli {

ConsoleFlashView::ConsoleFlashView(bool quiet, std::FILE* out)
    : quiet_(quiet), out_(out), terminal_(isatty(fileno(out)) != 0) {}

ConsoleFlashView::~ConsoleFlashView() {
  end_progress_line();
}

void ConsoleFlashView::end_progress_line() {
  if (!progress_line_open_) return;
  std::fputc('\n', out_);
  progress_line_open_ = false;
  shown_percent_ = -1;
}

void ConsoleFlashView::add_command(const std::string& text) {
  end_progress_line();
  if (!quiet_) std::fprintf(out_, "> %s\n", text.c_str());
  std::fflush(out_);
}

void ConsoleFlashView::add_response(const std::string& text) {
  end_progress_line();
  last_response_ = text;
  if (!quiet_) std::fprintf(out_, "< %s\n", text.c_str());
  std::fflush(out_);
}

void ConsoleFlashView::set_progress_value(int value) {
  if (quiet_ || !terminal_ || max_ <= 0) return;
  if (value == 0) return end_progress_line();
  const int percent = static_cast<int>(100LL * value / max_);
  if (percent == shown_percent_) return;
  shown_percent_ = percent;
  progress_line_open_ = true;
  std::fprintf(out_, "\rDownload Status: %3d %%", percent);
  std::fflush(out_);
}

void ConsoleFlashView::begin_wait(const std::string& what, std::uint32_t up_to_ms) {
  if (quiet_ || !terminal_) return;
  end_progress_line();
  std::fprintf(out_, "\r%s (up to %u s) ...", what.c_str(), up_to_ms / 1000);
  std::fflush(out_);
  progress_line_open_ = true;
}

void ConsoleFlashView::set_warning_visible(bool visible) {
  if (visible == warning_) return;
  warning_ = visible;
  if (visible && !quiet_) {
    end_progress_line();
    std::fputs("Warning: Download in process do NOT cycle power\n", out_);
  }
}

}  // namespace r7::cli
