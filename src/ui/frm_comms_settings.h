// frm_CommsSettings, "Comm Port Setting": the serial port and line settings of
// the three protocol slots. The logic is CommsSettingsForm; this dialog binds
// its line edits to the form's texts.
#pragma once

#include <QDialog>
#include <QString>

#include <array>

#include "ui/comms_settings_form.h"
#include "ui/ui_services.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace r7 {

class FrmCommsSettings final : public QDialog {
  Q_OBJECT

 public:
  explicit FrmCommsSettings(const UiServices& services, QWidget* parent = nullptr);

  CommsSettingsForm& form() { return form_; }

  // The setup window's copy of the slots into the fields (without rereading
  // the settings file).
  void copy_slots_to_fields();

  // Replaces the line naming the devices behind the port numbers (--simulate).
  void set_port_devices_note(const QString& note) { port_devices_note_ = note; }

  // Handlers.
  void cmd_OK_Click();
  void cmd_SaveChanges_Click(int index);

 public slots:
  // Cancel, the close box and Escape: the unsaved edits are dropped, nothing
  // is written.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* make_field(const QString& name, int index, CommsField field);
  // Shows the form's texts in the line edits (setText is no user edit).
  void refresh_fields();
  void refresh_port_devices();
  void refuse_closing();

  const PortNames& port_names_;
  CommsSettingsForm form_;
  QString port_devices_note_;

  struct Frame {
    QGroupBox* box = nullptr;
    std::array<QLineEdit*, 5> fields{};  // in CommsField order
    QPushButton* save = nullptr;
  };
  std::array<Frame, kProtocolFrames> frames_{};
  QLineEdit* common_port_ = nullptr;  // txt_Port(3)
  QPushButton* cmd_OK_ = nullptr;
  QPushButton* cmd_Cancel_ = nullptr;
  QLabel* port_devices_ = nullptr;
};

}  // namespace r7
