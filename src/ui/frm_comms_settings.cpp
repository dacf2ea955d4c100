#include "ui/frm_comms_settings.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/qt_prompts.h"
#include "platform/qt_serial_port.h"

namespace r7 {

namespace {

struct FieldInfo {
  const char* text_name;
  const char* label_name;
  const char* caption;
  int width;
};

constexpr std::array<FieldInfo, 5> kFields{{
    {"txt_Port", "lbl_Port", "Port", 44},
    {"txt_Baud", "lbl_Baud", "Baud", 64},
    {"txt_Parity", "lbl_Parity", "Parity", 44},
    {"txt_DataBits", "lbl_DataBits", "Data Bits", 64},
    {"txt_StopBits", "lbl_StopBits", "Stop Bits", 64},
}};

QString indexed(const char* name, int index) {
  return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

}  // namespace

FrmCommsSettings::FrmCommsSettings(const UiServices& services, QWidget* parent)
    : QDialog(parent),
      port_names_(services.port_names),
      form_(services.comms, services.prompts, services.program_dir.settings_file()) {
  setObjectName(QStringLiteral("frm_CommsSettings"));
  setWindowTitle(QStringLiteral("Comm Port Setting"));

  auto* layout = new QVBoxLayout(this);
  for (int i = 0; i < kProtocolFrames; ++i) {
    Frame& frame = frames_[static_cast<std::size_t>(i)];
    frame.box = new QGroupBox(QString::fromLatin1(protocol_frame_caption(i)), this);
    frame.box->setObjectName(indexed("fram_Protocol", i));
    auto* grid = new QGridLayout(frame.box);
    for (std::size_t f = 0; f < kFields.size(); ++f) {
      auto* label = new QLabel(QString::fromLatin1(kFields[f].caption), frame.box);
      label->setObjectName(indexed(kFields[f].label_name, i));
      grid->addWidget(label, 0, static_cast<int>(f));
      frame.fields[f] =
          make_field(QString::fromLatin1(kFields[f].text_name), i, static_cast<CommsField>(f));
      frame.fields[f]->setFixedWidth(kFields[f].width);
      grid->addWidget(frame.fields[f], 1, static_cast<int>(f));
    }
    frame.save = new QPushButton(QStringLiteral("Save Changes"), frame.box);
    frame.save->setObjectName(indexed("cmd_SaveChanges", i));
    frame.save->setAutoDefault(false);
    grid->addWidget(frame.save, 1, static_cast<int>(kFields.size()));
    grid->setColumnStretch(static_cast<int>(kFields.size()), 1);
    connect(frame.save, &QPushButton::clicked, this, [this, i] { cmd_SaveChanges_Click(i); });
    layout->addWidget(frame.box);
  }

  auto* bottom = new QHBoxLayout;
  auto* common_label = new QLabel(QStringLiteral("Comm Port:"), this);
  common_label->setObjectName(indexed("lbl_Port", kCommonPortField));
  common_port_ = make_field(QStringLiteral("txt_Port"), kCommonPortField, CommsField::Port);
  common_port_->setFixedWidth(kFields[0].width);
  common_label->setBuddy(common_port_);
  cmd_OK_ = new QPushButton(QStringLiteral("OK"), this);
  cmd_OK_->setObjectName(QStringLiteral("cmd_OK"));
  cmd_OK_->setDefault(true);
  connect(cmd_OK_, &QPushButton::clicked, this, [this] { cmd_OK_Click(); });
  cmd_Cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cmd_Cancel_->setObjectName(QStringLiteral("cmd_Cancel"));
  cmd_Cancel_->setAutoDefault(false);
  connect(cmd_Cancel_, &QPushButton::clicked, this, &FrmCommsSettings::reject);
  bottom->addWidget(common_label);
  bottom->addWidget(common_port_);
  bottom->addStretch(1);
  bottom->addWidget(cmd_OK_);
  bottom->addWidget(cmd_Cancel_);
  layout->addLayout(bottom);

  port_devices_ = new QLabel(this);
  port_devices_->setObjectName(QStringLiteral("lbl_PortDevices"));
  port_devices_->setWordWrap(true);
  port_devices_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  port_devices_->setToolTip(
      QStringLiteral("The device behind each port number (section \"PORT NAMES\" of the "
                     "settings file, key \"PORT n\", names another)."));
  layout->addWidget(port_devices_);

  refresh_fields();
}

QLineEdit* FrmCommsSettings::make_field(const QString& name, int index, CommsField field) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QStringLiteral("%1(%2)").arg(name).arg(index));
  edit->installEventFilter(this);
  // textEdited: typing, pasting, undoing; never the program's setText.
  connect(edit, &QLineEdit::textEdited, this, [this, index, field](const QString& text) {
    if (index == kCommonPortField) {
      form_.set_common_port(from_qt(text));
    } else {
      form_.set_text(index, field, from_qt(text));
    }
  });
  return edit;
}

void FrmCommsSettings::refresh_fields() {
  for (int i = 0; i < kProtocolFrames; ++i) {
    Frame& frame = frames_[static_cast<std::size_t>(i)];
    for (std::size_t f = 0; f < frame.fields.size(); ++f)
      frame.fields[f]->setText(to_qt(form_.text(i, static_cast<CommsField>(f))));
  }
  common_port_->setText(to_qt(form_.common_port()));
}

void FrmCommsSettings::refresh_port_devices() {
  if (!port_devices_note_.isEmpty()) {
    port_devices_->setText(port_devices_note_);
    return;
  }
  std::vector<FoundPort> found;
  for (const platform::PortInfo& info : platform::available_ports()) {
    std::string description = info.description;
    if (!info.usb_id.empty())
      description += (description.empty() ? "USB " : ", USB ") + info.usb_id;
    found.push_back({info.name, info.location, description});
  }
  port_devices_->setText(to_qt(port_devices_line(port_names_, found)));
}

void FrmCommsSettings::copy_slots_to_fields() {
  form_.copy_slots_to_fields();
  refresh_fields();
}

void FrmCommsSettings::showEvent(QShowEvent* event) {
  form_.Form_Activate();
  refresh_fields();
  refresh_port_devices();
  // The device line wraps; grow to fit it rather than squeeze the fields.
  if (hasHeightForWidth() && heightForWidth(width()) > height())
    resize(width(), heightForWidth(width()));
  QDialog::showEvent(event);
}

bool FrmCommsSettings::eventFilter(QObject* watched, QEvent* event) {
  // Entering a field selects its whole text (after the click that placed the cursor).
  if (event->type() == QEvent::FocusIn) {
    if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
      QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void FrmCommsSettings::cmd_SaveChanges_Click(int index) {
  form_.cmd_SaveChanges_Click(index);
  refresh_fields();
}

void FrmCommsSettings::refuse_closing() {
  common_port_->setFocus();
  common_port_->selectAll();
}

void FrmCommsSettings::cmd_OK_Click() {
  const bool allowed = form_.cmd_OK_Click();
  refresh_fields();  // the common port may have been copied or refused
  if (allowed) {
    accept();
  } else {
    refuse_closing();
  }
}

void FrmCommsSettings::reject() {
  form_.cmd_Cancel_Click();
  refresh_fields();
  QDialog::reject();
}

}  // namespace r7
