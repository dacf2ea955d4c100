// frm_DownloadParm, "Save/Restore Setup": saving a controller's setup to a
// text file ("Download"), restoring it ("Upload") and comparing one with the
// controller ("Compare"). The jobs (SaveSetup, RestoreSetup, CompareSetup) run
// on a worker thread; the window shows their history and error lists and
// stays locked while one runs.
#pragma once

#include <QDialog>
#include <QPointer>

#include <functional>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "platform/gui_thread.h"
#include "seams/setup_view.h"
#include "setup/setup_compare.h"
#include "setup/setup_session.h"
#include "ui/job_runner.h"
#include "ui/ui_services.h"
#include "ui/wait_indicator.h"

class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace r7 {

class FrmCommsSettings;
class FrmCompare;

class FrmDownloadParm final : public QDialog, public SetupView {
  Q_OBJECT

 public:
  // `port_settings_click` is the main window's cmd_PortSettings_Click.
  FrmDownloadParm(const UiServices& services, FrmCommsSettings& comms_settings,
                  std::function<void()> port_settings_click, QWidget* parent = nullptr);
  ~FrmDownloadParm() override;

  SetupSession& session() { return session_; }
  JobRunner& runner() { return runner_; }

  // Handlers.
  void cmdDownload_Click();
  void cmdUpload_Click();
  void cmdCompare_Click();
  void cmdChangePortSettings_Click();
  void cmdClearListBox_Click();
  void cmdClearList2_Click();
  void cmdExit_Click();

  // SetupView.
  void add_history(const std::string& text) override;
  void clear_history() override;
  void add_error(const std::string& text) override;
  void clear_errors() override;
  void set_progress_visible(bool visible) override;
  void set_progress_range(int minimum, int maximum) override;
  void set_progress_value(int value) override;
  void set_window_enabled(bool enabled) override;
  void begin_wait(const std::string& what, std::uint32_t up_to_ms) override;
  void end_wait() override;

 public slots:
  // Exit, the close box and Escape; refused while the window is locked.
  void reject() override;

 private:
  void build_controls();
  // lbl_Summary, from a job's thread.
  void show_summary(const std::string& text);
  QGroupBox* build_frame();
  QGridLayout* build_lists();
  void Form_Load();
  // What the compare found, handed from the worker thread to the window.
  struct Comparison {
    Outcome outcome;
    std::vector<SetupDifference> differences;
    std::string file;
  };

  // Runs a job on the worker thread with the address the window shows;
  // `then` runs on the GUI thread once it has ended.
  void run(std::function<void(int address)> job, std::function<void()> then = {});
  // The differences in frm_Compare, or the box that there are none.
  void show_comparison(const Comparison& comparison);
  // Enabled unless a job runs or has locked the window.
  void update_enabled();
  void gui(std::function<void()> f) { post_to_gui_thread(this, std::move(f)); }

  UiServices services_;
  FrmCommsSettings& comms_settings_;
  std::function<void()> port_settings_click_;
  GuiThreadPrompts job_prompts_;
  SetupSession session_;
  JobRunner runner_;
  bool locked_ = false;

  QLabel* lblCommPort_ = nullptr;
  QPushButton* cmdChangePortSettings_ = nullptr;
  QLabel* lblAddress_ = nullptr;
  QComboBox* cmbAddress_ = nullptr;
  QPushButton* cmdDownload_ = nullptr;
  QPushButton* cmdUpload_ = nullptr;
  QPushButton* cmdCompare_ = nullptr;
  QPushButton* cmdExit_ = nullptr;
  QListWidget* List1_ = nullptr;
  QPushButton* cmdClearListBox_ = nullptr;
  QListWidget* List2_ = nullptr;
  QPushButton* cmdClearList2_ = nullptr;
  QProgressBar* ProgressBar1_ = nullptr;
  QLabel* lblStatus_ = nullptr;    // what a long wait is for, and how long it took so far
  QLabel* lbl_Summary_ = nullptr;  // what the last save, restore or compare did
  WaitIndicator* wait_ = nullptr;
  QPointer<FrmCompare> compare_;  // the last compare's differences, while shown
};

}  // namespace r7
