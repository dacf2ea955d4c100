// frm_CommsSettings: filling on activation, typing, Save Changes, OK, Cancel,
// Escape and the close box.
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <utility>

#include "app/settings_file.h"
#include "gui_rig.h"
#include "gui_tests.h"
#include "ui/frm_comms_settings.h"

namespace r7::test {

namespace {

// Slot 0 on port 1, the Modbus slot on port 3, the bootloader slot on port 4.
constexpr const char* kSpreadSlots =
    "[COMMS CONTROLS]\r\n"
    "DEVICE 0 COMM PORT =1\r\nDEVICE 0 PORT SETTING =1200,e,7,2\r\n"
    "DEVICE 1 COMM PORT =3\r\nDEVICE 1 PORT SETTING =19200,O,8,1\r\n"
    "DEVICE 2 COMM PORT =4\r\nDEVICE 2 PORT SETTING =38400,n,8,1\r\n";

QLineEdit* field(const QWidget& dialog, const char* name, int index) {
  auto* edit =
      dialog.findChild<QLineEdit*>(QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index));
  if (edit == nullptr) qWarning("no field %s(%d)", name, index);
  return edit;
}

QStringList frame_texts(const QWidget& dialog, int index) {
  QStringList texts;
  for (const char* name : {"txt_Port", "txt_Baud", "txt_Parity", "txt_DataBits", "txt_StopBits"})
    texts << field(dialog, name, index)->text();
  return texts;
}

}  // namespace

class CommsSettingsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  // A first run shows the initial texts; Escape writes nothing, OK creates
  // the slots.
  void first_run_without_settings_file_and_every_activation_reads_the_file() {
    Rig rig;
    FrmCommsSettings dialog(rig.services());
    dialog.show();
    QCOMPARE(frame_texts(dialog, 0), (QStringList{"2", "9600", "N", "8", "1"}));
    QCOMPARE(frame_texts(dialog, 1), (QStringList{"2", "9600", "n", "8", "1"}));
    QCOMPARE(frame_texts(dialog, 2), (QStringList{"2", "38400", "n", "8", "1"}));
    QCOMPARE(field(dialog, "txt_Port", 3)->text(), QStringLiteral("2"));
    QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("lbl_PortDevices"))
                ->text()
                .startsWith(QStringLiteral("Port 1: ")));
    // A device line that wraps onto more lines makes the dialog taller
    // instead of squeezing the fields.
    dialog.hide();
    dialog.set_port_devices_note(
        QStringLiteral("Port n: /dev/serial/by-id/usb-adapter; ").repeated(8));
    dialog.show();
    QApplication::sendPostedEvents(&dialog, QEvent::LayoutRequest);
    for (auto* edit : dialog.findChildren<QLineEdit*>())
      QVERIFY(edit->height() >= edit->minimumSizeHint().height());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QVERIFY(!std::filesystem::exists(rig.ini()));
    dialog.show();
    QTest::mouseClick(child<QPushButton>(dialog, "cmd_OK"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(rig.setting(port_setting_key(2)), std::string("38400,n,8,1"));

    write_profile_string(kCommsSection, port_setting_key(1), "4800,E,7,2", rig.ini());
    dialog.show();
    QCOMPARE(frame_texts(dialog, 1), (QStringList{"2", "4800", "E", "7", "2"}));
  }

  // Filling the fields on opening is no edit: however the dialog is closed,
  // the settings file stays as it was and the bootloader slot stays on port 4;
  // so do edits that Cancel or Escape drop.
  void closing_writes_nothing_the_user_did_not_save() {
    Rig rig;
    rig.write_settings(kSpreadSlots);
    const std::string before = read_file(rig.ini());
    FrmCommsSettings dialog(rig.services());
    using Step = std::function<void()>;
    const Step nothing = [] {};
    const Step edit = [&] {
      type_into(field(dialog, "txt_Port", 3), QStringLiteral("2"));
      type_into(field(dialog, "txt_Baud", 1), QStringLiteral("4800"));
    };
    const Step escape = [&] { QTest::keyClick(&dialog, Qt::Key_Escape); };
    const Step close_box = [&] { QVERIFY(dialog.close()); };
    const Step ok = [&] { child<QPushButton>(dialog, "cmd_OK")->click(); };
    const Step cancel = [&] { child<QPushButton>(dialog, "cmd_Cancel")->click(); };
    const std::pair<Step, Step> ways[] = {{nothing, ok},  {nothing, escape}, {nothing, close_box},
                                          {edit, cancel}, {edit, escape},    {edit, close_box}};
    for (const auto& [change, close] : ways) {
      dialog.show();
      QCOMPARE(field(dialog, "txt_Port", 3)->text(), QStringLiteral("3"));
      change();
      close();
      QVERIFY(!dialog.isVisible());
      QCOMPARE(read_file(rig.ini()), before);
    }
    QCOMPARE(rig.comms->port_number(kXonSlot), 4);
    QVERIFY(rig.prompts.boxes.empty());
  }

  // OK (or Enter) with an edited frame that OK would not save asks once: Yes
  // saves it as Save Changes does, keeping the file's CR LF and every other
  // byte; No closes without it; Cancel keeps the dialog open.
  void ok_asks_before_it_drops_an_unsaved_frame() {
    const char* settings[] = {"1200,e,7,2", "19200,O,8,1", "38400,n,8,1"};
    for (int frame = 0; frame < 3; ++frame) {
      for (const Answer answer : {Answer::Yes, Answer::No, Answer::Cancel}) {
        Rig rig;
        rig.write_settings(kSpreadSlots);
        FrmCommsSettings dialog(rig.services());
        dialog.show();
        type_into(field(dialog, "txt_Baud", frame), QStringLiteral("4800"));
        rig.prompts.answer(answer);
        QTest::keyClick(field(dialog, "txt_Baud", frame), Qt::Key_Return);
        QCOMPARE(rig.prompts.boxes.size(), std::size_t{1});
        QCOMPARE(rig.prompts.boxes[0].text,
                 std::string("Save the changes to ") + protocol_frame_caption(frame) + "?");
        QCOMPARE(rig.prompts.boxes[0].default_answer, std::optional<Answer>(Answer::Yes));
        std::string expected = kSpreadSlots;
        const std::string old_setting = settings[frame];
        if (answer == Answer::Yes) {
          expected.replace(expected.find(old_setting), old_setting.find(','), "4800");
        }
        QCOMPARE(read_file(rig.ini()), expected);
        QCOMPARE(dialog.isVisible(), answer == Answer::Cancel);
      }
    }
  }

  // A refused value shows its message and gets its saved text back; an edited
  // common port goes into every frame with OK.
  void refused_values_are_restored_and_an_edited_common_port_is_saved() {
    Rig rig;
    rig.write_settings(kSpreadSlots);
    const std::string before = read_file(rig.ini());
    FrmCommsSettings dialog(rig.services());
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QLineEdit* baud = field(dialog, "txt_Baud", 2);
    baud->setFocus(Qt::TabFocusReason);  // entering a field selects its text
    QTRY_COMPARE(baud->selectedText(), QStringLiteral("38400"));
    QLineEdit* common = field(dialog, "txt_Port", 3);
    type_into(common, QStringLiteral("5"));
    baud->setFocus();

    QTest::mouseClick(child<QPushButton>(dialog, "cmd_OK"), Qt::LeftButton);
    QCOMPARE(rig.prompts.texts(), std::vector<std::string>{kBadPortMessage});
    QVERIFY(dialog.isVisible());
    QCOMPARE(QApplication::focusWidget(), common);
    QCOMPARE(common->text(), QStringLiteral("3"));

    type_into(baud, QStringLiteral("14400"));
    QTest::mouseClick(child<QPushButton>(dialog, "cmd_SaveChanges(2)"), Qt::LeftButton);
    QCOMPARE(rig.prompts.texts().back(), std::string(kBadBaudMessage));
    QCOMPARE(baud->text(), QStringLiteral("38400"));
    QCOMPARE(read_file(rig.ini()), before);

    type_into(common, QStringLiteral("2"));
    QTest::mouseClick(child<QPushButton>(dialog, "cmd_OK"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(rig.setting(comm_port_key(0)), std::string("2"));
    QCOMPARE(rig.setting(comm_port_key(2)), std::string("2"));
    QCOMPARE(field(dialog, "txt_Port", 0)->text(), QStringLiteral("2"));
  }
};

int run_comms_settings_dialog_tests(int argc, char** argv) {
  CommsSettingsDialogTest t;
  return QTest::qExec(&t, argc, argv);
}

}  // namespace r7::test

#include "comms_settings_dialog_test.moc"
