// What the setup save and restore show in the setup window (frm_DownloadParm).
// A job may call it from a worker thread; the window forwards the calls to
// the GUI thread.
#pragma once

#include <cstdint>
#include <string>

namespace r7 {

class SetupView {
 public:
  virtual ~SetupView() = default;
  // List1 (history): append one line and select it.
  virtual void add_history(const std::string& text) = 0;
  virtual void clear_history() = 0;
  // List2 (Read/Write Errors): append one line and select it.
  virtual void add_error(const std::string& text) = 0;
  virtual void clear_errors() = 0;
  // ProgressBar1.
  virtual void set_progress_visible(bool visible) = 0;
  virtual void set_progress_range(int minimum, int maximum) = 0;
  virtual void set_progress_value(int value) = 0;
  // The whole window is locked while a save or restore runs.
  virtual void set_window_enabled(bool enabled) = 0;
  // A wait of up to `up_to_ms` (0: no known bound) begins (`what` says for
  // what): the window shows the time passing until end_wait().
  virtual void begin_wait(const std::string& what, std::uint32_t up_to_ms) = 0;
  virtual void end_wait() = 0;
};

}  // namespace r7
