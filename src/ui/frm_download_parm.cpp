#include "ui/frm_download_parm.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt_prompts.h"
#include "ui/frm_comms_settings.h"

namespace r7 {

namespace {

constexpr int kHighestAddress = 247;

QPushButton* make_button(QWidget* parent, const char* name, const char* caption,
                         const char* tool_tip = nullptr) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  if (tool_tip != nullptr) button->setToolTip(QString::fromLatin1(tool_tip));
  return button;
}

QLabel* make_label(QWidget* parent, const char* name, const char* caption) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

}  // namespace

FrmDownloadParm::FrmDownloadParm(const UiServices& services, Modbus& modbus,
                                 FrmCommsSettings& comms_settings,
                                 std::function<void()> port_settings_click, QWidget* parent)
    : QDialog(parent),
      services_(services),
      comms_settings_(comms_settings),
      port_settings_click_(std::move(port_settings_click)),
      transfer_(services.comms, modbus, services.prompts, *this, services.clock,
                services.program_dir) {
  setObjectName(QStringLiteral("frm_DownloadParm"));
  setWindowTitle(QStringLiteral("Save/Restore Setup"));
  build_controls();
  Form_Load();
}

FrmDownloadParm::~FrmDownloadParm() = default;

void FrmDownloadParm::build_controls() {
  auto* Frame1 = new QGroupBox(this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  lblCommPort_ = make_label(Frame1, "lblCommPort", "Comm Port");
  cmdChangePortSettings_ = make_button(Frame1, "cmdChangePortSettings", "Change Port Settings",
                                       "This will allow the user to change the Port Settings.");
  lblAddress_ = make_label(Frame1, "lblAddress", "Address");
  cmbAddress_ = new QComboBox(Frame1);
  cmbAddress_->setObjectName(QStringLiteral("cmbAddress"));
  cmbAddress_->setToolTip(QStringLiteral("Address of the controller."));
  lblAddress_->setBuddy(cmbAddress_);
  auto* frame_layout = new QVBoxLayout(Frame1);
  frame_layout->addWidget(lblCommPort_);
  frame_layout->addWidget(cmdChangePortSettings_);
  frame_layout->addSpacing(6);
  frame_layout->addWidget(lblAddress_);
  frame_layout->addWidget(cmbAddress_);

  cmdDownload_ =
      make_button(this, "cmdDownload", "Download",
                  "This will download the registers from the controller to a text file.");
  cmdUpload_ = make_button(this, "cmdUpload", "Upload",
                           "This will upload the registers from a text file to the controller.");
  cmdExit_ = make_button(this, "cmdExit", "E&xit");

  List1_ = new QListWidget(this);
  List1_->setObjectName(QStringLiteral("List1"));
  cmdClearListBox_ =
      make_button(this, "cmdClearListBox", "Clear", "Clear all items in the List Box.");
  List2_ = new QListWidget(this);
  List2_->setObjectName(QStringLiteral("List2"));
  cmdClearList2_ = make_button(this, "cmdClearList2", "Clear");
  for (QListWidget* list : {List1_, List2_})
    list->setSelectionMode(QAbstractItemView::SingleSelection);

  ProgressBar1_ = new QProgressBar(this);
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));

  // The frame and the three buttons on the left, the two lists on the right,
  // each with its "Clear" beside it; the progress bar across the bottom.
  auto* left = new QVBoxLayout;
  left->addWidget(Frame1);
  left->addSpacing(8);
  left->addWidget(cmdDownload_);
  left->addWidget(cmdUpload_);
  left->addWidget(cmdExit_);
  left->addStretch(1);

  auto* column_labels = new QHBoxLayout;
  column_labels->addWidget(make_label(this, "lblResponseFromControl", "Response From Control"));
  column_labels->addStretch(1);
  column_labels->addWidget(make_label(this, "lblRegisterValue", "Register No    Value"));
  column_labels->addStretch(1);

  auto* right = new QGridLayout;
  right->addWidget(make_label(this, "lblHistory", "Command/Response History"), 0, 0);
  right->addWidget(List1_, 1, 0);
  right->addWidget(cmdClearListBox_, 1, 1, Qt::AlignTop);
  right->addWidget(make_label(this, "lblErrors", "Read/Write Errors"), 2, 0);
  right->addLayout(column_labels, 3, 0);
  right->addWidget(List2_, 4, 0);
  right->addWidget(cmdClearList2_, 4, 1, Qt::AlignTop);
  right->setRowStretch(1, 3);
  right->setRowStretch(4, 2);

  auto* upper = new QHBoxLayout;
  upper->addLayout(left);
  upper->addLayout(right, 1);

  auto* main = new QVBoxLayout(this);
  main->addLayout(upper, 1);
  main->addWidget(ProgressBar1_);

  resize(720, 480);

  connect(cmdDownload_, &QPushButton::clicked, this, [this] { cmdDownload_Click(); });
  connect(cmdUpload_, &QPushButton::clicked, this, [this] { cmdUpload_Click(); });
  connect(cmdChangePortSettings_, &QPushButton::clicked, this,
          [this] { cmdChangePortSettings_Click(); });
  connect(cmdClearListBox_, &QPushButton::clicked, this, [this] { cmdClearListBox_Click(); });
  connect(cmdClearList2_, &QPushButton::clicked, this, [this] { cmdClearList2_Click(); });
  connect(cmdExit_, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
}

void FrmDownloadParm::Form_Load() {
  transfer_.Form_Load();  // digital-input table, counters, progress bar hidden

  for (int address = 1; address <= kHighestAddress; ++address)
    cmbAddress_->addItem(QString::number(address));
  cmbAddress_->setCurrentIndex(0);

  services_.comms.init_comms();
  comms_settings_.copy_slots_to_fields();
  lblCommPort_->setText(QStringLiteral("Comm Port: ") + comms_settings_.common_port_text());
}

void FrmDownloadParm::cmdDownload_Click() {
  transfer_.cmdDownload_Click();
}

void FrmDownloadParm::cmdUpload_Click() {
  transfer_.cmdUpload_Click();
}

void FrmDownloadParm::cmdChangePortSettings_Click() {
  port_settings_click_();
  lblCommPort_->setText(QStringLiteral("Comm Port: ") + comms_settings_.common_port_text());
}

void FrmDownloadParm::cmdClearListBox_Click() {
  transfer_.cmdClearListBox_Click();
}

void FrmDownloadParm::cmdClearList2_Click() {
  transfer_.cmdClearList2_Click();
}

void FrmDownloadParm::cmdExit_Click() {
  reject();
}

void FrmDownloadParm::ShowLogLine(const std::string& text) {
  transfer_.ShowLogLine(text);
}

void FrmDownloadParm::DisableButtons() {
  transfer_.DisableButtons();
}

void FrmDownloadParm::EnableButtons() {
  transfer_.EnableButtons();
}

void FrmDownloadParm::reject() {
  if (!isEnabled()) return;  // a save or restore is running
  QDialog::reject();
}

std::string FrmDownloadParm::address_text() {
  return from_qt(cmbAddress_->currentText());
}

void FrmDownloadParm::insert_history(int index, const std::string& text) {
  List1_->insertItem(index, to_qt(text));
  List1_->setCurrentRow(index);
}

void FrmDownloadParm::clear_history() {
  List1_->clear();
}

void FrmDownloadParm::insert_error(int index, const std::string& text) {
  List2_->insertItem(index, to_qt(text));
  List2_->setCurrentRow(index);
}

void FrmDownloadParm::clear_errors() {
  List2_->clear();
}

void FrmDownloadParm::set_progress_visible(bool visible) {
  ProgressBar1_->setVisible(visible);
}

void FrmDownloadParm::set_progress_range(int minimum, int maximum) {
  ProgressBar1_->setRange(minimum, maximum);
}

void FrmDownloadParm::set_progress_value(int value) {
  ProgressBar1_->setValue(value);
}

void FrmDownloadParm::set_window_enabled(bool enabled) {
  setEnabled(enabled);
}

}  // namespace r7
