// What the setup save and restore show in the setup window (frm_DownloadParm).
#pragma once

#include <string>

namespace r7 {

class SetupView {
 public:
  virtual ~SetupView() = default;
  // The text of cmbAddress (the controller address).
  virtual std::string address_text() = 0;
  // List1 (history): insert at `index` and select the new line.
  virtual void insert_history(int index, const std::string& text) = 0;
  virtual void clear_history() = 0;
  // List2 (errors): insert at `index` and select the new line.
  virtual void insert_error(int index, const std::string& text) = 0;
  virtual void clear_errors() = 0;
  // ProgressBar1.
  virtual void set_progress_visible(bool visible) = 0;
  virtual void set_progress_range(int minimum, int maximum) = 0;
  virtual void set_progress_value(int value) = 0;
  // DisableButtons / EnableButtons: the whole window.
  virtual void set_window_enabled(bool enabled) = 0;
};

}  // namespace r7
