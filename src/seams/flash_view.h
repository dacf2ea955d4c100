// What the firmware download shows in the main window (frm_Flash).
#pragma once

#include <cstdint>
#include <string>

namespace r7 {

class FlashView {
 public:
  virtual ~FlashView() = default;
  // lst_CommsCommand / lst_CommsCommandResponse: append one line.
  virtual void add_command(const std::string& text) = 0;
  virtual void add_response(const std::string& text) = 0;
  // Selects the last line of both history lists.
  virtual void scroll_histories_to_end() = 0;
  // ProgressBar1.
  virtual void set_progress_max(int max) = 0;
  virtual void set_progress_value(int value) = 0;
  // lbl_Warning "Warning: Download in process do NOT cycle power".
  virtual void set_warning_visible(bool visible) = 0;
  virtual void set_start_enabled(bool enabled) = 0;         // cmd_Start
  virtual void set_quit_enabled(bool enabled) = 0;          // cmd_Quit
  virtual void set_file_text(const std::string& text) = 0;  // txt_File
  virtual void set_erase_enabled(bool enabled) = 0;         // cmd_EraseSectors
  // A wait of up to `up_to_ms` (0: no known bound) begins (`what` says for
  // what): the window shows the time passing until end_wait().
  virtual void begin_wait(const std::string& what, std::uint32_t up_to_ms) = 0;
  virtual void end_wait() = 0;
};

}  // namespace r7
