// The main window's controls and their layout.
#include <QCheckBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/settings_file.h"
#include "platform/qt_prompts.h"
#include "ui/frm_flash.h"

namespace r7 {

namespace {

QPushButton* make_button(QWidget* parent, const char* name, const char* caption) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

QListWidget* make_history(QWidget* parent, const char* name) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  // Both lists scroll by whole lines, so the same scroll value is the same top line.
  list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list->setUniformItemSizes(true);
  // Ctrl+C copies the list that has the focus, so the focus must show; the
  // border keeps its width either way and the lines do not move.
  list->setStyleSheet(
      QStringLiteral("QListWidget { border: 2px solid palette(mid); }"
                     "QListWidget:focus { border: 2px solid palette(highlight); }"));
  return list;
}

}  // namespace

void FrmFlash::build_controls() {
  cmd_Start_ = make_button(this, "cmd_Start", "&Start");
  cmdTest_ = make_button(this, "cmdTest", "Save/Restore Setup");
  cmd_PortSettings_ = make_button(this, "cmd_PortSettings", "Port Settings");
  cmd_About_ = make_button(this, "cmd_About", "About");
  cmd_Clear_ = make_button(this, "cmd_Clear", "Clear");
  cmd_SaveLog_ = make_button(this, "cmd_SaveLog", "Save log...");
  cmd_ServiceLog_ = make_button(this, "cmd_ServiceLog", "Service log...");
  cmd_Quit_ = make_button(this, "cmd_Quit", "&Quit");

  lbl_Warning_ =
      new QLabel(QStringLiteral("Warning: Download in process do NOT cycle power"), this);
  lbl_Warning_->setObjectName(QStringLiteral("lbl_Warning"));
  lbl_Warning_->setAlignment(Qt::AlignCenter);
  lbl_Warning_->setAutoFillBackground(true);
  lbl_Warning_->setStyleSheet(QStringLiteral(
      "QLabel { background-color: #d00000; color: white; font-weight: bold; padding: 6px; }"));
  QSizePolicy keep = lbl_Warning_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);  // the window keeps its shape when it comes and goes
  lbl_Warning_->setSizePolicy(keep);
  lbl_Warning_->hide();

  auto* status_label = new QLabel(QStringLiteral("Download Status:"), this);
  status_label->setObjectName(QStringLiteral("lbl_DownloadStatus"));
  ProgressBar1_ = new QProgressBar(this);
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1_->setRange(0, 100);
  ProgressBar1_->setValue(0);

  auto* whole_label = new QLabel(QStringLiteral("Whole download:"), this);
  whole_label->setObjectName(QStringLiteral("lbl_WholeDownload"));
  ProgressBar_Download_ = new QProgressBar(this);
  ProgressBar_Download_->setObjectName(QStringLiteral("ProgressBar_Download"));
  ProgressBar_Download_->setRange(0, 100);
  ProgressBar_Download_->setValue(0);
  download_clock_ = new QTimer(this);
  download_clock_->setInterval(1000);
  connect(download_clock_, &QTimer::timeout, this, [this] { show_download_time(); });

  lbl_Summary_ = new QLabel(this);
  lbl_Summary_->setObjectName(QStringLiteral("lbl_Summary"));
  lbl_Summary_->setWordWrap(true);
  lbl_Summary_->setTextFormat(Qt::RichText);
  lbl_Summary_->setTextInteractionFlags(Qt::TextBrowserInteraction);
  // The backup's path opens the file.
  connect(lbl_Summary_, &QLabel::linkActivated, this,
          [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });

  lbl_Status_ = new QLabel(this);
  lbl_Status_->setObjectName(QStringLiteral("lbl_Status"));
  wait_ = new WaitIndicator(lbl_Status_, ProgressBar1_, this);

  auto* left = new QVBoxLayout;
  left->addLayout(build_histories(), 1);
  left->addWidget(lbl_Warning_);
  auto* progress = new QGridLayout;
  progress->addWidget(status_label, 0, 0);
  progress->addWidget(ProgressBar1_, 0, 1);
  progress->addWidget(whole_label, 1, 0);
  progress->addWidget(ProgressBar_Download_, 1, 1);
  progress->setColumnStretch(1, 1);
  left->addLayout(progress);
  left->addWidget(lbl_Status_);
  left->addWidget(lbl_Summary_);
  build_save_setup_option();
  left->addWidget(chk_SaveSetup_);
  if (services_.simulated_model) {
    lbl_Controller_ =
        new QLabel(QStringLiteral("Simulated controller %1").arg(*services_.simulated_model), this);
    lbl_Controller_->setObjectName(QStringLiteral("lbl_Controller"));
    lbl_Controller_->setStyleSheet(QStringLiteral("QLabel { font-weight: bold; }"));
    left->addWidget(lbl_Controller_);
  }
  lbl_ProgramDir_ = new QLabel(to_qt(services_.program_dir.description()), this);
  lbl_ProgramDir_->setObjectName(QStringLiteral("lbl_ProgramDir"));
  lbl_ProgramDir_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lbl_ProgramDir_->setWordWrap(true);
  left->addWidget(lbl_ProgramDir_);
  left->addLayout(build_engineering());

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {cmd_Start_, cmdTest_, cmd_PortSettings_, cmd_About_, cmd_Clear_,
                         cmd_SaveLog_, cmd_ServiceLog_})
    buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(cmd_Quit_);

  auto* main = new QHBoxLayout(this);
  main->addLayout(left, 1);
  main->addLayout(buttons);
  resize(780, 520);  // room for the histories under both bars and the summary
  connect_handlers();
}

void FrmFlash::build_save_setup_option() {
  chk_SaveSetup_ = new QCheckBox(
      QStringLiteral("Save the controller's setup to \"Reg Downloads\" before the download"), this);
  chk_SaveSetup_->setObjectName(QStringLiteral("chk_SaveSetup"));
  const auto settings = services_.program_dir.settings_file();
  chk_SaveSetup_->setChecked(read_profile_int(kOptionsSection, kSaveSetupKey, 1, settings) != 0);
  connect(chk_SaveSetup_, &QCheckBox::toggled, this, [this, settings](bool on) {
    if (write_profile_string(kOptionsSection, kSaveSetupKey, on ? "1" : "0", settings) == 0) {
      services_.prompts.message("The setting could not be stored in " + settings.string() + ".",
                                "Settings File", Icon::Exclamation);
    }
  });
}

// The command and response histories side by side, with their headings.
QGridLayout* FrmFlash::build_histories() {
  lst_CommsCommand_ = make_history(this, "lst_CommsCommand");
  lst_CommsCommandResponse_ = make_history(this, "lst_CommsCommandResponse");
  auto* command_label = new QLabel(QStringLiteral("Command History"), this);
  command_label->setObjectName(QStringLiteral("lbl_CommandHistory"));
  auto* response_label = new QLabel(QStringLiteral("Response History"), this);
  response_label->setObjectName(QStringLiteral("lbl_ResponseHistory"));
  auto* histories = new QGridLayout;
  histories->addWidget(command_label, 0, 0);
  histories->addWidget(response_label, 0, 1);
  histories->addWidget(lst_CommsCommand_, 1, 0);
  histories->addWidget(lst_CommsCommandResponse_, 1, 1);
  histories->setColumnStretch(0, 3);
  histories->setColumnStretch(1, 2);
  histories->setRowStretch(1, 1);
  return histories;
}

// The hidden engineering controls: the firmware file row, the online probe
// and the sector erase with its selection.
QVBoxLayout* FrmFlash::build_engineering() {
  lbl_File_ = new QLabel(QStringLiteral("File:"), this);
  lbl_File_->setObjectName(QStringLiteral("lbl_File"));
  txt_File_ = new QLineEdit(QStringLiteral("File Path and Name"), this);
  txt_File_->setObjectName(QStringLiteral("txt_File"));
  cmd_BrowseFile_ = make_button(this, "cmd_BrowseFile", "<< Browse");
  cmd_TransferFile_ = make_button(this, "cmd_TransferFile", "Transfer File");
  cmd_IsDeviceOnline_ = make_button(this, "cmd_IsDeviceOnline", "Is device online");
  cmd_EraseSectors_ = make_button(this, "cmd_EraseSectors", "Erase Sectors");

  fram_SectorSelect_ = new QGroupBox(QStringLiteral("Sector(s) to Erase"), this);
  fram_SectorSelect_->setObjectName(QStringLiteral("fram_SectorSelect"));
  // Two rows of check boxes, so that showing the frame does not widen the window.
  auto* sectors = new QGridLayout(fram_SectorSelect_);
  for (std::size_t i = 0; i < chk_Sector_.size(); ++i) {
    auto* box = new QCheckBox(QStringLiteral("Sector %1").arg(i), fram_SectorSelect_);
    box->setObjectName(QStringLiteral("chk_Sector(%1)").arg(i));
    box->setChecked(true);
    sectors->addWidget(box, static_cast<int>(i / 4), static_cast<int>(i % 4));
    chk_Sector_[i] = box;
  }

  auto* file_row = new QHBoxLayout;
  file_row->addWidget(lbl_File_);
  file_row->addWidget(txt_File_, 1);
  file_row->addWidget(cmd_BrowseFile_);
  file_row->addWidget(cmd_TransferFile_);

  auto* engineering_row = new QHBoxLayout;
  auto* engineering_buttons = new QVBoxLayout;
  engineering_buttons->addWidget(cmd_IsDeviceOnline_);
  engineering_buttons->addWidget(cmd_EraseSectors_);
  engineering_row->addLayout(engineering_buttons);
  engineering_row->addWidget(fram_SectorSelect_, 1);
  auto* rows = new QVBoxLayout;
  rows->addLayout(file_row);
  rows->addLayout(engineering_row);
  return rows;
}

}  // namespace r7
