// What the firmware download shows in the main window (frm_Flash).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace r7 {

// The whole download's progress, beside the bar of the step that runs.
struct DownloadProgress {
  int percent = 0;                            // of the whole download, never going back
  std::uint32_t elapsed_ms = 0;               // since the files were chosen
  std::optional<std::uint32_t> remaining_ms;  // an estimate; 0 once completed
  bool running = true;
};

// What a download found and did, for the engineer: the controller once it is
// identified; the file, the backup and the time taken once it has ended.
struct DownloadSummary {
  std::string controller;  // "model 6180, serial number 2130517, ..."; empty until identified
  bool ended = false;
  std::string outcome;                   // "completed", "failed at \"Erase Sectors (chip)\"", ...
  std::string firmware;                  // the firmware file, once chosen
  std::optional<int> firmware_software;  // its software number, when its field has one
  std::string backup;                    // the setup saved before download mode, if any
  int backup_refused = 0;                // values the controller refused in the backup
  std::uint32_t took_ms = 0;             // from Start to the end
};

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
  virtual void set_download_progress(const DownloadProgress& progress) = 0;
  virtual void show_summary(const DownloadSummary& summary) = 0;
};

}  // namespace r7
