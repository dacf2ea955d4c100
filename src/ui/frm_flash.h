// frm_Flash, the main window: the firmware download (Start) with its command
// and response histories and progress bar, the buttons that open the port
// settings dialog, the setup window and the About box, and two engineering
// functions (online probe, sector erase) hidden until Ctrl+Shift+E.
//
// The jobs run on a worker thread (JobRunner); what they show reaches the
// window through its FlashView, whose calls are queued for the GUI thread.
#pragma once

#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <string>

#include "flash/firmware_download.h"
#include "platform/gui_thread.h"
#include "seams/flash_view.h"
#include "ui/job_runner.h"
#include "ui/ui_services.h"
#include "ui/wait_indicator.h"

class QCheckBox;
class QGridLayout;
class QVBoxLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

namespace r7 {

class FrmCommsSettings;

inline constexpr const char* kMainWindowTitle = "R7P and R7RS Varnel/Flash Download";
inline constexpr const char* kProgramTitle = "R7P and R7RS Varnel/Flash Download Software";

class FrmFlash final : public QWidget, public FlashView {
  Q_OBJECT

 public:
  explicit FrmFlash(const UiServices& services, QWidget* parent = nullptr);
  ~FrmFlash() override;

  FirmwareDownload& firmware() { return firmware_; }
  FrmCommsSettings& comms_settings() { return *comms_settings_; }
  JobRunner& runner() { return runner_; }

  // Handlers.
  void cmd_Start_Click();
  void cmd_TransferFile_Click();
  void cmd_BrowseFile_Click();
  void cmd_IsDeviceOnline_Click();
  void cmd_EraseSectors_Click();
  void cmd_Clear_Click();
  // "Save log..." (Ctrl+S): both histories with their times, the controller
  // and the last download's outcome, into a text file the user names.
  void cmd_SaveLog_Click();
  // "Service log...": every job on the controllers of this program directory.
  void cmd_ServiceLog_Click();
  void cmd_Quit_Click();
  void cmd_About_Click();
  // Shows the port settings dialog modally (public: the setup window calls it).
  void cmd_PortSettings_Click();
  // "Save/Restore Setup": the setup window, modally.
  void cmdTest_Click();

  // The engineering controls (Ctrl+Shift+E shows and hides them).
  void set_engineering_visible(bool visible);
  bool engineering_visible() const { return engineering_visible_; }

  // The About box's text: title, version, maker and contact lines.
  static std::string about_text();

  // FlashView.
  void add_command(const std::string& text) override;
  void add_response(const std::string& text) override;
  void scroll_histories_to_end() override;
  void set_progress_max(int max) override;
  void set_progress_value(int value) override;
  void set_warning_visible(bool visible) override;
  void set_start_enabled(bool enabled) override;
  void set_quit_enabled(bool enabled) override;
  void set_file_text(const std::string& text) override;
  void set_erase_enabled(bool enabled) override;
  void begin_wait(const std::string& what, std::uint32_t up_to_ms) override;
  void end_wait() override;
  void set_download_progress(const DownloadProgress& progress) override;
  void show_summary(const DownloadSummary& summary) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void build_controls();
  QGridLayout* build_histories();
  QVBoxLayout* build_engineering();
  void connect_handlers();
  // chk_SaveSetup, as the settings file has it; each change is stored there.
  void build_save_setup_option();
  // Runs a job on the worker thread; the controls that could start another
  // one (or rebuild the serial link under it) stay disabled meanwhile.
  void run(std::function<void()> job);
  void update_controls();
  // Runs `f` on the GUI thread (queued when a job calls).
  void gui(std::function<void()> f) { post_to_gui_thread(this, std::move(f)); }
  // ProgressBar_Download: the whole download, its times counted on from the
  // last report.
  void show_download_time();
  // A click in `from` selects the same line in `to` and gives it the same top line.
  void align_histories(QListWidget* from, QListWidget* to);
  // All lines of `list`, each followed by CR LF, onto the clipboard.
  static void copy_history(const QListWidget* list);

  UiServices services_;
  GuiThreadPrompts job_prompts_;
  FirmwareDownload firmware_;
  JobRunner runner_;
  FrmCommsSettings* comms_settings_ = nullptr;

  bool running_ = false;
  bool start_wanted_ = true;
  bool quit_wanted_ = true;
  bool erase_wanted_ = false;    // cmd_EraseSectors: once the device answered online
  bool sectors_wanted_ = false;  // fram_SectorSelect: usable once the device answered online
  bool engineering_visible_ = false;
  std::string last_download_ = "none in this session";  // cmd_SaveLog's outcome line
  DownloadProgress download_progress_;
  std::uint32_t progress_received_ms_ = 0;
  bool download_running_ = false;

  QPushButton* cmd_Start_ = nullptr;
  QCheckBox* chk_SaveSetup_ = nullptr;  // save the setup before download mode
  QPushButton* cmdTest_ = nullptr;
  QPushButton* cmd_PortSettings_ = nullptr;
  QPushButton* cmd_About_ = nullptr;
  QPushButton* cmd_Clear_ = nullptr;
  QPushButton* cmd_SaveLog_ = nullptr;
  QPushButton* cmd_ServiceLog_ = nullptr;
  QPushButton* cmd_Quit_ = nullptr;
  QListWidget* lst_CommsCommand_ = nullptr;
  QListWidget* lst_CommsCommandResponse_ = nullptr;
  QProgressBar* ProgressBar1_ = nullptr;
  QProgressBar* ProgressBar_Download_ = nullptr;  // the whole download, with its times
  QTimer* download_clock_ = nullptr;              // moves the times on between reports
  QLabel* lbl_Summary_ = nullptr;                 // the controller, and what the last download did
  QLabel* lbl_Status_ = nullptr;  // what a long wait is for, and how long it took so far
  WaitIndicator* wait_ = nullptr;
  QLabel* lbl_Warning_ = nullptr;
  QLabel* lbl_Controller_ = nullptr;  // with --simulate: "Simulated controller 6180"
  QLabel* lbl_ProgramDir_ = nullptr;  // which program directory is in use
  QPushButton* cmd_BrowseFile_ = nullptr;
  QLabel* lbl_File_ = nullptr;
  QLineEdit* txt_File_ = nullptr;
  QPushButton* cmd_TransferFile_ = nullptr;
  QPushButton* cmd_IsDeviceOnline_ = nullptr;
  QPushButton* cmd_EraseSectors_ = nullptr;
  QGroupBox* fram_SectorSelect_ = nullptr;
  std::array<QCheckBox*, 7> chk_Sector_{};
};

}  // namespace r7
