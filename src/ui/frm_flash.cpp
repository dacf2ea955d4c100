#include "ui/frm_flash.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>
#include <filesystem>

#include "app/settings_file.h"
#include "app/version.h"
#include "base/numbers.h"
#include "platform/qt_prompts.h"
#include "setup/setup_backup.h"
#include "setup/setup_file.h"
#include "ui/frm_comms_settings.h"
#include "ui/frm_download_parm.h"
#include "ui/frm_service_log.h"
#include "ui/history_log.h"
#include "ui/service_job.h"

namespace r7 {

FrmFlash::FrmFlash(const UiServices& services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      job_prompts_(services.prompts),
      firmware_(services.comms, job_prompts_, *this, services.clock, services.program_dir),
      runner_(services.comms, this) {
  setObjectName(QStringLiteral("frm_Flash"));
  build_controls();
  comms_settings_ = new FrmCommsSettings(services_, this);
  comms_settings_->setModal(true);
  firmware_.set_recovery_advice([](const BrokenOffDownload&) {
    return std::string(
        "Press Start again to finish the download: the bootloader is found and you are asked "
        "for the controller's model.");
  });
  update_controls();
}

FrmFlash::~FrmFlash() {
  runner_.wait();
}

void FrmFlash::connect_handlers() {
  connect(cmd_Start_, &QPushButton::clicked, this, [this] { cmd_Start_Click(); });
  connect(cmdTest_, &QPushButton::clicked, this, [this] { cmdTest_Click(); });
  connect(cmd_PortSettings_, &QPushButton::clicked, this, [this] { cmd_PortSettings_Click(); });
  connect(cmd_About_, &QPushButton::clicked, this, [this] { cmd_About_Click(); });
  connect(cmd_Clear_, &QPushButton::clicked, this, [this] { cmd_Clear_Click(); });
  connect(cmd_Quit_, &QPushButton::clicked, this, [this] { cmd_Quit_Click(); });
  connect(cmd_BrowseFile_, &QPushButton::clicked, this, [this] { cmd_BrowseFile_Click(); });
  connect(cmd_TransferFile_, &QPushButton::clicked, this, [this] { cmd_TransferFile_Click(); });
  connect(cmd_IsDeviceOnline_, &QPushButton::clicked, this, [this] { cmd_IsDeviceOnline_Click(); });
  connect(cmd_EraseSectors_, &QPushButton::clicked, this, [this] { cmd_EraseSectors_Click(); });
  connect(cmd_SaveLog_, &QPushButton::clicked, this, [this] { cmd_SaveLog_Click(); });
  connect(cmd_ServiceLog_, &QPushButton::clicked, this, [this] { cmd_ServiceLog_Click(); });
  auto* save_log = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
  save_log->setObjectName(QStringLiteral("key_SaveLog"));
  connect(save_log, &QShortcut::activated, this, [this] {
    if (!running_) cmd_SaveLog_Click();
  });

  for (QListWidget* list : {lst_CommsCommand_, lst_CommsCommandResponse_})
    list->installEventFilter(this);
  connect(lst_CommsCommand_, &QListWidget::clicked, this,
          [this] { align_histories(lst_CommsCommand_, lst_CommsCommandResponse_); });
  connect(lst_CommsCommandResponse_, &QListWidget::clicked, this,
          [this] { align_histories(lst_CommsCommandResponse_, lst_CommsCommand_); });

  auto* engineering = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), this);
  engineering->setObjectName(QStringLiteral("key_Engineering"));
  connect(engineering, &QShortcut::activated, this,
          [this] { set_engineering_visible(!engineering_visible_); });

  // Hidden until asked for; Transfer File is reached through Start only.
  set_engineering_visible(false);
  cmd_TransferFile_->setEnabled(false);
  erase_wanted_ = false;  // until "Is device online" finds a bootloader
}

void FrmFlash::set_engineering_visible(bool visible) {
  engineering_visible_ = visible;
  for (QWidget* w :
       std::initializer_list<QWidget*>{lbl_File_, txt_File_, cmd_BrowseFile_, cmd_TransferFile_,
                                       cmd_IsDeviceOnline_, cmd_EraseSectors_, fram_SectorSelect_})
    w->setVisible(visible);
}

void FrmFlash::run(std::function<void()> job) {
  if (running_) return;
  running_ = true;
  update_controls();
  runner_.start(std::move(job), [this] {
    running_ = false;
    update_controls();
  });
}

void FrmFlash::update_controls() {
  const bool idle = !running_;
  for (QWidget* w :
       std::initializer_list<QWidget*>{cmdTest_, cmd_PortSettings_, cmd_About_, cmd_Clear_,
                                       cmd_BrowseFile_, cmd_IsDeviceOnline_, chk_SaveSetup_})
    w->setEnabled(idle);
  cmd_Start_->setEnabled(idle && start_wanted_);
  cmd_Quit_->setEnabled(idle && quit_wanted_);
  cmd_EraseSectors_->setEnabled(idle && erase_wanted_);
  fram_SectorSelect_->setEnabled(idle && sectors_wanted_);
}

void FrmFlash::cmd_Start_Click() {
  if (running_) return;
  if (chk_SaveSetup_->isChecked()) {
    firmware_.set_setup_backup([this] {
      return save_setup_backup(services_.comms, job_prompts_, services_.clock,
                               services_.program_dir, kFirmwareAddress);
    });
  } else {
    firmware_.set_setup_backup(nullptr);
  }
  run([this] {
    run_recorded_job(services_, job_prompts_, "flash", kModbusSlot, [this](ServiceRecord& record) {
      const Outcome outcome = firmware_.download_firmware();
      firmware_.note_in(record);
      return outcome;
    });
  });
}

void FrmFlash::cmd_TransferFile_Click() {
  run([this] {
    run_recorded_job(services_, job_prompts_, "transfer", kXonSlot, [this](ServiceRecord& record) {
      const Outcome outcome = firmware_.bootloader_download();
      firmware_.note_in(record);
      return outcome;
    });
  });
}

void FrmFlash::cmd_BrowseFile_Click() {
  run([this] { firmware_.browse_firmware_file(); });
}

void FrmFlash::cmd_IsDeviceOnline_Click() {
  run([this] {
    run_recorded_job(services_, job_prompts_, "online", kXonSlot, [this](ServiceRecord&) {
      return firmware_.probe_online() == OnlineState::Online ? Outcome{}
                                                             : Outcome(Ending::NoController);
    });
  });
}

void FrmFlash::cmd_EraseSectors_Click() {
  std::array<bool, 7> sectors{};
  for (std::size_t i = 0; i < sectors.size(); ++i)
    sectors[i] = chk_Sector_[i]->isChecked();
  run([this, sectors] {
    run_recorded_job(services_, job_prompts_, "erase", kXonSlot, [this, sectors](ServiceRecord&) {
      return firmware_.erase_flash_sectors(sectors);
    });
  });
}

void FrmFlash::cmd_Clear_Click() {
  lst_CommsCommand_->clear();
  lst_CommsCommandResponse_->clear();
}

void FrmFlash::cmd_Quit_Click() {
  close();
}

void FrmFlash::closeEvent(QCloseEvent* event) {
  // No closing while the controller is in download mode (Quit is disabled then).
  if (!cmd_Quit_->isEnabled()) {
    event->ignore();
    return;
  }
  event->accept();
}

std::string FrmFlash::about_text() {
  return std::string(kProgramTitle) + "\r\r" + "Version " + kVersionText + "\r\r" +
         "r7flash Service Tools\r" + "Field Service Department\r" + "support@r7flash.invalid\r";
}

void FrmFlash::cmd_About_Click() {
  services_.prompts.message(about_text(), "About", Icon::Information);
}

void FrmFlash::cmd_PortSettings_Click() {
  if (running_) return;  // the dialog rebuilds the slots a job is using
  comms_settings_->exec();
}

void FrmFlash::cmdTest_Click() {
  if (running_) return;
  FrmDownloadParm setup(
      services_, *comms_settings_, [this] { cmd_PortSettings_Click(); }, this);
  setup.exec();
}

void FrmFlash::align_histories(QListWidget* from, QListWidget* to) {
  const int row = from->currentRow();
  if (row >= 0 && row < to->count()) to->setCurrentRow(row);
  to->verticalScrollBar()->setValue(from->verticalScrollBar()->value());
}

void FrmFlash::copy_history(const QListWidget* list) {
  QClipboard* clipboard = QApplication::clipboard();
  clipboard->clear();
  QString text;
  for (int i = 0; i < list->count(); ++i)
    text += list->item(i)->text() + QStringLiteral("\r\n");
  if (!text.isEmpty()) clipboard->setText(text);
}

bool FrmFlash::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      (watched == lst_CommsCommand_ || watched == lst_CommsCommandResponse_)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // Exactly Ctrl: Ctrl+Shift+C and friends do not copy.
    if (key->key() == Qt::Key_C && key->modifiers() == Qt::ControlModifier) {
      copy_history(static_cast<QListWidget*>(watched));
      return true;
    }
    if (key->matches(QKeySequence::Copy)) return true;  // no copy of a single line either
  }
  return QWidget::eventFilter(watched, event);
}

namespace {

// A history line keeps the time it was added, for the saved log.
void add_timed(QListWidget* list, const std::string& text, const LocalTime& t) {
  auto* item = new QListWidgetItem(to_qt(text));
  item->setData(Qt::UserRole, QStringLiteral("%1:%2:%3")
                                  .arg(t.hour, 2, 10, QLatin1Char('0'))
                                  .arg(t.minute, 2, 10, QLatin1Char('0'))
                                  .arg(t.second, 2, 10, QLatin1Char('0')));
  list->addItem(item);
}

std::vector<HistoryEntry> timed_lines(const QListWidget* list) {
  std::vector<HistoryEntry> lines;
  for (int i = 0; i < list->count(); ++i) {
    const QListWidgetItem* item = list->item(i);
    lines.push_back({from_qt(item->data(Qt::UserRole).toString()), from_qt(item->text())});
  }
  return lines;
}

}  // namespace

void FrmFlash::add_command(const std::string& text) {
  const LocalTime now = services_.clock.local_time();
  gui([this, text, now] { add_timed(lst_CommsCommand_, text, now); });
}

void FrmFlash::add_response(const std::string& text) {
  const LocalTime now = services_.clock.local_time();
  gui([this, text, now] { add_timed(lst_CommsCommandResponse_, text, now); });
}

void FrmFlash::cmd_SaveLog_Click() {
  const LocalTime t = services_.clock.local_time();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  FileDialog dialog;
  dialog.file_name = "r7flash log " + std::string(stamp, 10) + ".txt";
  dialog.filter = kSetupFileFilter;
  dialog.initial_dir = services_.program_dir.setups_dir().string();
  const auto chosen = services_.prompts.save_file(dialog);
  if (!chosen) return;
  const std::string path = with_default_extension(*chosen);
  std::error_code ec;
  if (std::filesystem::exists(path, ec) &&
      !services_.prompts.ask_yes("File already exists. Do you want to overwrite this file?",
                                 "Overwrite Log File")) {
    return;
  }
  HistoryLog log;
  log.heading = std::string(kProgramTitle) + ", version " + kVersionText + ", log saved " + stamp;
  log.identity = firmware_.identity_text();
  log.outcome = last_download_;
  log.commands = timed_lines(lst_CommsCommand_);
  log.responses = timed_lines(lst_CommsCommandResponse_);
  try {
    SetupFileWriter file(path);
    for (const std::string& line : history_log_lines(log))
      file.write_line(line);
    file.commit();
  } catch (const RunError& e) {
    services_.prompts.message(std::string("The log could not be saved: ") + e.what(), "Save Log",
                              Icon::Critical);
  }
}

void FrmFlash::cmd_ServiceLog_Click() {
  FrmServiceLog log(services_.program_dir, this);
  log.exec();
}

void FrmFlash::scroll_histories_to_end() {
  gui([this] {
    for (QListWidget* list : {lst_CommsCommand_, lst_CommsCommandResponse_})
      list->setCurrentRow(list->count() - 1);
  });
}

void FrmFlash::set_progress_max(int max) {
  gui([this, max] { ProgressBar1_->setMaximum(max); });
}

void FrmFlash::set_progress_value(int value) {
  gui([this, value] { ProgressBar1_->setValue(value); });
}

void FrmFlash::set_warning_visible(bool visible) {
  gui([this, visible] { lbl_Warning_->setVisible(visible); });
}

void FrmFlash::set_start_enabled(bool enabled) {
  gui([this, enabled] {
    start_wanted_ = enabled;
    update_controls();
  });
}

void FrmFlash::set_quit_enabled(bool enabled) {
  gui([this, enabled] {
    quit_wanted_ = enabled;
    update_controls();
  });
}

void FrmFlash::set_file_text(const std::string& text) {
  gui([this, text] { txt_File_->setText(to_qt(text)); });
}

void FrmFlash::begin_wait(const std::string& what, std::uint32_t up_to_ms) {
  gui([this, what, up_to_ms] { wait_->begin(to_qt(what), up_to_ms); });
}

void FrmFlash::end_wait() {
  gui([this] { wait_->end(); });
}

void FrmFlash::set_download_progress(const DownloadProgress& progress) {
  const std::uint32_t now = services_.clock.tick_ms();
  gui([this, progress, now] {
    download_progress_ = progress;
    progress_received_ms_ = now;
    show_download_time();
    if (progress.running && !download_clock_->isActive()) download_clock_->start();
    if (!progress.running) download_clock_->stop();
  });
}

void FrmFlash::show_download_time() {
  const DownloadProgress& p = download_progress_;
  const std::uint32_t since = p.running ? services_.clock.tick_ms() - progress_received_ms_ : 0;
  const auto text = [](std::uint32_t ms) { return to_qt(minutes_seconds(ms / 1000)); };
  ProgressBar_Download_->setValue(p.percent);
  QString times;
  if (!p.running) {
    times = (p.percent == 100 ? QStringLiteral("done in %1") : QStringLiteral("ended after %1"))
                .arg(text(p.elapsed_ms));
  } else {
    const std::uint32_t left = p.remaining_ms.value_or(0);
    times = QStringLiteral("%1 elapsed, about %2 left")
                .arg(text(p.elapsed_ms + since), text(left > since ? left - since : 0));
  }
  ProgressBar_Download_->setFormat(QStringLiteral("%p %   ") + times);
}

void FrmFlash::show_summary(const DownloadSummary& summary) {
  gui([this, summary] {
    QStringList lines;
    if (!summary.controller.empty()) {
      lines << QStringLiteral("Controller: %1").arg(to_qt(summary.controller).toHtmlEscaped());
    }
    if (summary.ended) {
      last_download_ = summary.outcome;
      QString line = QStringLiteral("Download %1 in %2")
                         .arg(to_qt(summary.outcome).toHtmlEscaped(),
                              to_qt(minutes_seconds(summary.took_ms / 1000)));
      if (!summary.firmware.empty()) {
        line += QStringLiteral(": %1").arg(to_qt(summary.firmware).toHtmlEscaped());
        if (summary.firmware_software) {
          line += QStringLiteral(" (software number %1)").arg(*summary.firmware_software);
        }
      }
      lines << line;
    }
    if (!summary.backup.empty()) {
      const QString path = to_qt(summary.backup);
      QString line =
          QStringLiteral("Setup saved before the download: <a href=\"%1\">%2</a>")
              .arg(QUrl::fromLocalFile(path).toString().toHtmlEscaped(), path.toHtmlEscaped());
      if (summary.backup_refused > 0) {
        line += QStringLiteral(" (%1 refused)")
                    .arg(summary.backup_refused == 1
                             ? QStringLiteral("1 value")
                             : QStringLiteral("%1 values").arg(summary.backup_refused));
      }
      lines << line;
    }
    lbl_Summary_->setText(lines.join(QStringLiteral("<br>")));
  });
}

void FrmFlash::set_erase_enabled(bool enabled) {
  gui([this, enabled] {
    erase_wanted_ = enabled;
    sectors_wanted_ = enabled;
    update_controls();
  });
}

}  // namespace r7
