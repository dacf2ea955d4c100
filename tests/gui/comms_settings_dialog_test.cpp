// frm_CommsSettings: filling on activation, typing, Save Changes, OK and the
// close box with the common port field.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/settings_file.h"
#include "gui_rig.h"
#include "gui_tests.h"
#include "ui/frm_comms_settings.h"

namespace r7::test {

namespace {

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

// Replaces a field's text by typing, as a user does.
void type_into(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

QPushButton* button(const QWidget& dialog, const QString& name) {
  return dialog.findChild<QPushButton*>(name);
}

}  // namespace

class CommsSettingsDialogTest : public QObject {
  Q_OBJECT

 private slots:
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
    QVERIFY(!std::filesystem::exists(rig.ini()));

    QTest::mouseClick(button(dialog, QStringLiteral("cmd_OK")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QVERIFY(rig.prompts.boxes.empty());
    const char* expected[][2] = {{"2", "9600,N,8,1"}, {"2", "9600,n,8,1"}, {"2", "38400,n,8,1"}};
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(rig.setting(comm_port_key(i)), std::string(expected[i][0]));
      QCOMPARE(rig.setting(port_setting_key(i)), std::string(expected[i][1]));
    }

    write_profile_string(kCommsSection, port_setting_key(1), "4800,E,7,2", rig.ini());
    dialog.show();
    QCOMPARE(frame_texts(dialog, 1), (QStringList{"2", "4800", "E", "7", "2"}));
  }

  void common_port_five_keeps_the_dialog_open_with_the_focus_on_it() {
    Rig rig;
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

    QTest::mouseClick(button(dialog, QStringLiteral("cmd_OK")), Qt::LeftButton);
    QCOMPARE(rig.prompts.texts(), std::vector<std::string>{kBadPortMessage});
    QVERIFY(dialog.isVisible());
    QCOMPARE(QApplication::focusWidget(), common);
    QVERIFY(!std::filesystem::exists(rig.ini()));

    QVERIFY(!dialog.close());  // the close box runs the same check
    QCOMPARE(rig.prompts.boxes.size(), std::size_t{2});
    QVERIFY(dialog.isVisible());

    type_into(common, QStringLiteral("3"));
    QVERIFY(dialog.close());
    for (int i = 0; i < 3; ++i)
      QCOMPARE(rig.setting(comm_port_key(i)), std::string("3"));
    QCOMPARE(field(dialog, "txt_Port", 0)->text(), QStringLiteral("3"));
  }

  void save_changes_writes_only_its_frame() {
    Rig rig;
    // "2abc" reads as port 2 but would be rewritten as "2" by a save of frame 0 or 1.
    rig.write_settings(
        "[COMMS CONTROLS]\r\n"
        "DEVICE 0 COMM PORT =2abc\r\nDEVICE 0 PORT SETTING =9600,N,8,1\r\n"
        "DEVICE 1 COMM PORT =2abc\r\nDEVICE 1 PORT SETTING =9600,n,8,1\r\n"
        "DEVICE 2 COMM PORT =2\r\nDEVICE 2 PORT SETTING =38400,n,8,1\r\n");
    FrmCommsSettings dialog(rig.services());
    dialog.show();
    type_into(field(dialog, "txt_Baud", 2), QStringLiteral("19200"));
    QVERIFY(dialog.form().field_changed[2]);
    QTest::mouseClick(button(dialog, QStringLiteral("cmd_SaveChanges(2)")), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(rig.setting(port_setting_key(2)), std::string("19200,n,8,1"));
    QCOMPARE(rig.setting(comm_port_key(0)), std::string("2abc"));
    QCOMPARE(rig.setting(comm_port_key(1)), std::string("2abc"));
    QCOMPARE(rig.comms->port_settings(2), std::string("19200,n,8,1"));  // init_comms followed
    QVERIFY(!dialog.form().field_changed[2]);
  }
};

int run_comms_settings_dialog_tests(int argc, char** argv) {
  CommsSettingsDialogTest t;
  return QTest::qExec(&t, argc, argv);
}

}  // namespace r7::test

#include "comms_settings_dialog_test.moc"
