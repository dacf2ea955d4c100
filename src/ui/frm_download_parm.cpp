#include "ui/frm_download_parm.h"
#include "ui/service_job.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "modbus/modbus.h"
#include "platform/qt_prompts.h"
#include "setup/setup_restore.h"
#include "setup/setup_save.h"
#include "ui/frm_comms_settings.h"
#include "ui/frm_compare.h"

namespace r7 {

namespace {

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

// The port a save or restore talks on: the Modbus slot's, or slot 0's, which
// stands in for a Modbus slot that is not defined.
QString comm_port_caption(const Comms& comms) {
  const int slot = comms.slot_defined(kModbusSlot) ? kModbusSlot : kFullProtocolSlot;
  return QStringLiteral("Comm Port: ") + QString::number(comms.port_number(slot));
}

// Where a typical error line puts its register number: after a refused
// write's reply text ("1 134 -32002 8065 ") and five blanks:
//   "1 134 -32002 8065      110             150    Error"
constexpr int kRegisterColumn = 23;

}  // namespace

FrmDownloadParm::FrmDownloadParm(const UiServices& services, FrmCommsSettings& comms_settings,
                                 std::function<void()> port_settings_click, QWidget* parent)
    : QDialog(parent),
      services_(services),
      comms_settings_(comms_settings),
      port_settings_click_(std::move(port_settings_click)),
      job_prompts_(services.prompts),
      session_(*this),
      runner_(services.comms, this) {
  setObjectName(QStringLiteral("frm_DownloadParm"));
  setWindowTitle(QStringLiteral("Save/Restore Setup"));
  build_controls();
  Form_Load();
}

FrmDownloadParm::~FrmDownloadParm() {
  runner_.wait();
}

QGroupBox* FrmDownloadParm::build_frame() {
  auto* Frame1 = new QGroupBox(this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  lblCommPort_ = make_label(Frame1, "lblCommPort", "Comm Port");
  cmdChangePortSettings_ = make_button(Frame1, "cmdChangePortSettings", "Change Port Settings",
                                       "This will allow the user to change the Port Settings.");
  lblAddress_ = make_label(Frame1, "lblAddress", "Address");
  cmbAddress_ = new QComboBox(Frame1);
  cmbAddress_->setObjectName(QStringLiteral("cmbAddress"));
  cmbAddress_->setToolTip(QStringLiteral("Address of the controller."));
  // About ten rows when opened, also in styles that would pop up the whole list.
  cmbAddress_->setMaxVisibleItems(10);
  cmbAddress_->setStyleSheet(QStringLiteral("combobox-popup: 0;"));
  lblAddress_->setBuddy(cmbAddress_);
  auto* frame_layout = new QVBoxLayout(Frame1);
  frame_layout->addWidget(lblCommPort_);
  frame_layout->addWidget(cmdChangePortSettings_);
  frame_layout->addSpacing(6);
  frame_layout->addWidget(lblAddress_);
  frame_layout->addWidget(cmbAddress_);
  return Frame1;
}

// The history list and the error list with its column labels, each with its
// "Clear" beside it.
QGridLayout* FrmDownloadParm::build_lists() {
  List1_ = new QListWidget(this);
  List1_->setObjectName(QStringLiteral("List1"));
  cmdClearListBox_ =
      make_button(this, "cmdClearListBox", "Clear", "Clear all items in the List Box.");
  List2_ = new QListWidget(this);
  List2_->setObjectName(QStringLiteral("List2"));
  cmdClearList2_ = make_button(this, "cmdClearList2", "Clear");
  for (QListWidget* list : {List1_, List2_})
    list->setSelectionMode(QAbstractItemView::SingleSelection);

  // The error lines are padded with blanks into columns, so the list and its
  // headings use a fixed-pitch font; the headings start where the list's text
  // does, "Register No" over a typical line's register number.
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  List2_->setFont(fixed);
  auto* reply_heading = make_label(this, "lblResponseFromControl", "Response From Control");
  auto* register_heading = make_label(this, "lblRegisterValue", "Register No    Value");
  reply_heading->setFont(fixed);
  register_heading->setFont(fixed);
  reply_heading->setFixedWidth(
      QFontMetrics(fixed).horizontalAdvance(QString(kRegisterColumn, QLatin1Char(' '))));
  const int text_start =
      List2_->frameWidth() +
      List2_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, List2_) + 1;
  auto* column_labels = new QHBoxLayout;
  column_labels->setContentsMargins(text_start, 0, 0, 0);
  column_labels->setSpacing(0);
  column_labels->addWidget(reply_heading);
  column_labels->addWidget(register_heading);
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
  return right;
}

void FrmDownloadParm::build_controls() {
  QGroupBox* Frame1 = build_frame();
  cmdDownload_ =
      make_button(this, "cmdDownload", "Download",
                  "This will download the registers from the controller to a text file.");
  cmdUpload_ = make_button(this, "cmdUpload", "Upload",
                           "This will upload the registers from a text file to the controller.");
  cmdCompare_ =
      make_button(this, "cmdCompare", "Compare",
                  "This will compare the registers in a text file with those of the controller.");
  cmdExit_ = make_button(this, "cmdExit", "E&xit");
  ProgressBar1_ = new QProgressBar(this);
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));

  // The frame and the four buttons on the left, the two lists on the right,
  // each with its "Clear" beside it; the progress bar across the bottom.
  auto* left = new QVBoxLayout;
  left->addWidget(Frame1);
  left->addSpacing(8);
  left->addWidget(cmdDownload_);
  left->addWidget(cmdUpload_);
  left->addWidget(cmdCompare_);
  left->addWidget(cmdExit_);
  left->addStretch(1);

  auto* upper = new QHBoxLayout;
  upper->addLayout(left);
  upper->addLayout(build_lists(), 1);

  lblStatus_ = make_label(this, "lblStatus", "");
  wait_ = new WaitIndicator(lblStatus_, nullptr, this);

  lbl_Summary_ = make_label(this, "lbl_Summary", "");
  lbl_Summary_->setWordWrap(true);
  lbl_Summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* main = new QVBoxLayout(this);
  main->addLayout(upper, 1);
  main->addWidget(lblStatus_);
  main->addWidget(ProgressBar1_);
  main->addWidget(lbl_Summary_);

  resize(720, 480);

  connect(cmdDownload_, &QPushButton::clicked, this, [this] { cmdDownload_Click(); });
  connect(cmdUpload_, &QPushButton::clicked, this, [this] { cmdUpload_Click(); });
  connect(cmdCompare_, &QPushButton::clicked, this, [this] { cmdCompare_Click(); });
  connect(cmdChangePortSettings_, &QPushButton::clicked, this,
          [this] { cmdChangePortSettings_Click(); });
  connect(cmdClearListBox_, &QPushButton::clicked, this, [this] { cmdClearListBox_Click(); });
  connect(cmdClearList2_, &QPushButton::clicked, this, [this] { cmdClearList2_Click(); });
  connect(cmdExit_, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
}

void FrmDownloadParm::Form_Load() {
  ProgressBar1_->hide();
  for (int address = kFirstAddress; address <= kLastAddress; ++address)
    cmbAddress_->addItem(QString::number(address));
  cmbAddress_->setCurrentIndex(0);

  services_.comms.init_comms(read_protocol_slots(services_.program_dir.settings_file()));
  comms_settings_.copy_slots_to_fields();
  lblCommPort_->setText(comm_port_caption(services_.comms));
}

void FrmDownloadParm::run(std::function<void(int address)> job, std::function<void()> then) {
  if (runner_.busy()) return;
  const int address = cmbAddress_->currentText().toInt();
  runner_.start([job = std::move(job), address] { job(address); },
                [this, then = std::move(then)] {
                  update_enabled();
                  if (then) then();
                });
  update_enabled();
}

void FrmDownloadParm::update_enabled() {
  setEnabled(!locked_ && !runner_.busy());
}

void FrmDownloadParm::cmdDownload_Click() {
  run([this](int address) {
    run_recorded_job(services_, job_prompts_, "save", kModbusSlot, [&](ServiceRecord& record) {
      SaveSetup save(services_.comms, job_prompts_, session_, services_.clock,
                     services_.program_dir, address);
      const Outcome outcome = save.save_setup();
      if (outcome.completed()) note_setup_file(record, save.file_path());
      show_summary(session_.summary(
          save.file_path().empty() ? std::string("Save") : "Save to " + save.file_path(), outcome));
      return outcome;
    });
  });
}

void FrmDownloadParm::cmdUpload_Click() {
  run([this](int address) {
    run_recorded_job(services_, job_prompts_, "restore", kModbusSlot, [&](ServiceRecord& record) {
      RestoreSetup restore(services_.comms, job_prompts_, session_, services_.clock,
                           services_.program_dir, address);
      const Outcome outcome = restore.restore_setup();
      if (!restore.file_path().empty()) note_setup_file(record, restore.file_path());
      show_summary(session_.summary(restore.file_path().empty()
                                        ? std::string("Restore")
                                        : "Restore of " + restore.file_path(),
                                    outcome));
      return outcome;
    });
  });
}

// The differences also go into the history, one line each.
void FrmDownloadParm::cmdCompare_Click() {
  auto comparison = std::make_shared<Comparison>();
  run(
      [this, comparison](int address) {
        CompareSetup job(services_.comms, job_prompts_, session_, services_.program_dir, address);
        comparison->outcome = run_recorded_job(services_, job_prompts_, "compare", kModbusSlot,
                                               [&](ServiceRecord& record) {
                                                 const Outcome outcome = job.compare_setup();
                                                 if (!job.file_path().empty())
                                                   note_setup_file(record, job.file_path());
                                                 return outcome;
                                               });
        comparison->differences = job.differences();
        comparison->file = job.file_path();
        for (const SetupDifference& d : comparison->differences)
          session_.show(difference_line(d));
      },
      [this, comparison] { show_comparison(*comparison); });
}

void FrmDownloadParm::show_comparison(const Comparison& comparison) {
  if (comparison.outcome.completed()) {
    services_.prompts.message("The controller holds the setup of " + comparison.file + ".",
                              "Compare Complete", Icon::Information);
    return;
  }
  if (comparison.outcome.ending != Ending::Differs) return;  // the job has said why
  delete compare_;
  compare_ = new FrmCompare(comparison.file, comparison.differences, this);
  compare_->setAttribute(Qt::WA_DeleteOnClose);
  compare_->show();
}

void FrmDownloadParm::cmdChangePortSettings_Click() {
  if (runner_.busy()) return;
  port_settings_click_();
  lblCommPort_->setText(comm_port_caption(services_.comms));  // as saved, not as typed
}

void FrmDownloadParm::cmdClearListBox_Click() {
  if (!runner_.busy()) session_.clear_history();
}

void FrmDownloadParm::cmdClearList2_Click() {
  if (!runner_.busy()) session_.clear_errors();
}

void FrmDownloadParm::cmdExit_Click() {
  reject();
}

void FrmDownloadParm::reject() {
  if (runner_.busy() || !isEnabled()) return;  // a save or restore is running
  QDialog::reject();
}

void FrmDownloadParm::show_summary(const std::string& text) {
  gui([this, text] { lbl_Summary_->setText(to_qt(text)); });
}

void FrmDownloadParm::add_history(const std::string& text) {
  gui([this, text] {
    List1_->addItem(to_qt(text));
    List1_->setCurrentRow(List1_->count() - 1);
  });
}

void FrmDownloadParm::clear_history() {
  gui([this] { List1_->clear(); });
}

void FrmDownloadParm::add_error(const std::string& text) {
  gui([this, text] {
    List2_->addItem(to_qt(text));
    List2_->setCurrentRow(List2_->count() - 1);
  });
}

void FrmDownloadParm::clear_errors() {
  gui([this] { List2_->clear(); });
}

void FrmDownloadParm::set_progress_visible(bool visible) {
  gui([this, visible] { ProgressBar1_->setVisible(visible); });
}

void FrmDownloadParm::set_progress_range(int minimum, int maximum) {
  gui([this, minimum, maximum] { ProgressBar1_->setRange(minimum, maximum); });
}

void FrmDownloadParm::set_progress_value(int value) {
  gui([this, value] { ProgressBar1_->setValue(value); });
}

void FrmDownloadParm::begin_wait(const std::string& what, std::uint32_t up_to_ms) {
  gui([this, what, up_to_ms] { wait_->begin(to_qt(what), up_to_ms); });
}

void FrmDownloadParm::end_wait() {
  gui([this] { wait_->end(); });
}

void FrmDownloadParm::set_window_enabled(bool enabled) {
  gui([this, enabled] {
    locked_ = !enabled;
    update_enabled();
  });
}

}  // namespace r7
