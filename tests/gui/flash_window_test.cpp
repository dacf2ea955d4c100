// frm_Flash: its controls, the histories (copy, alignment, Clear), the close
// check, the engineering functions and the locking of the window while a
// procedure runs.
#include <QApplication>

#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <algorithm>

#include "app/settings_file.h"
#include "gui_rig.h"
#include "gui_tests.h"
#include "platform/qt_prompts.h"
#include "sim/controller.h"
#include "ui/frm_comms_settings.h"
#include "ui/frm_flash.h"

namespace r7::test {

namespace {

constexpr const char* kThreeSlots =
    "[COMMS CONTROLS]\r\n"
    "DEVICE 0 COMM PORT =2\r\nDEVICE 0 PORT SETTING =9600,N,8,1\r\n"
    "DEVICE 1 COMM PORT =2\r\nDEVICE 1 PORT SETTING =9600,N,8,1\r\n"
    "DEVICE 2 COMM PORT =2\r\nDEVICE 2 PORT SETTING =9600,N,8,1\r\n";

template <class T = QWidget>
T* child(const QWidget& root, const char* name) {
  T* w = root.findChild<T*>(QString::fromLatin1(name));
  if (w == nullptr) qWarning("no child %s", name);
  return w;
}

}  // namespace

class FlashWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void controls_as_the_window_starts() {
    Rig rig;
    FrmFlash w(rig.services());
    struct Control {
      const char* name;
      const char* caption;
      bool visible;
      bool enabled;
    };
    const Control buttons[] = {
        {"cmd_Start", "&Start", true, true},
        {"cmdTest", "Save/Restore Setup", true, true},
        {"cmd_PortSettings", "Port Settings", true, true},
        {"cmd_About", "About", true, true},
        {"cmd_Clear", "Clear", true, true},
        {"cmd_Quit", "&Quit", true, true},
        {"cmd_BrowseFile", "<< Browse", false, true},
        {"cmd_TransferFile", "Transfer File", false, false},
        {"cmd_IsDeviceOnline", "Is device online", false, true},
        {"cmd_EraseSectors", "Erase Sectors", false, true},
    };
    for (const Control& c : buttons) {
      auto* b = child<QPushButton>(w, c.name);
      QVERIFY2(b != nullptr, c.name);
      QCOMPARE(b->text(), QString::fromLatin1(c.caption));
      QVERIFY2(b->isVisibleTo(&w) == c.visible, c.name);
      QVERIFY2(b->isEnabled() == c.enabled, c.name);
    }
    QVERIFY(child<QListWidget>(w, "lst_CommsCommand")->isVisibleTo(&w));
    QVERIFY(child<QListWidget>(w, "lst_CommsCommandResponse")->isVisibleTo(&w));
    QCOMPARE(child<QLabel>(w, "lbl_CommandHistory")->text(), QStringLiteral("Command History"));
    QCOMPARE(child<QLabel>(w, "lbl_ResponseHistory")->text(), QStringLiteral("Response History"));
    QCOMPARE(child<QLabel>(w, "lbl_DownloadStatus")->text(), QStringLiteral("Download Status:"));
    QVERIFY(child<QProgressBar>(w, "ProgressBar1")->isVisibleTo(&w));
    auto* warning = child<QLabel>(w, "lbl_Warning");
    QCOMPARE(warning->text(), QStringLiteral("Warning: Download in process do NOT cycle power"));
    QVERIFY(!warning->isVisibleTo(&w));
    QCOMPARE(child<QLabel>(w, "lbl_File")->text(), QStringLiteral("File:"));
    QVERIFY(!child<QLabel>(w, "lbl_File")->isVisibleTo(&w));
    QCOMPARE(child<QLineEdit>(w, "txt_File")->text(), QStringLiteral("File Path and Name"));
    QVERIFY(!child<QLineEdit>(w, "txt_File")->isVisibleTo(&w));
    auto* frame = child<QGroupBox>(w, "fram_SectorSelect");
    QCOMPARE(frame->title(), QStringLiteral("Sector(s) to Erase"));
    QVERIFY(!frame->isVisibleTo(&w));
    QVERIFY(!frame->isEnabled());
    for (int i = 0; i < 7; ++i) {
      auto* box = frame->findChild<QCheckBox*>(QStringLiteral("chk_Sector(%1)").arg(i));
      QVERIFY(box != nullptr);
      QCOMPARE(box->text(), QStringLiteral("Sector %1").arg(i));
      QVERIFY(box->isChecked());
    }
  }

  void about_box_is_one_message() {
    Rig rig;
    FrmFlash w(rig.services());
    QTest::mouseClick(child<QPushButton>(w, "cmd_About"), Qt::LeftButton);
    QCOMPARE(rig.prompts.boxes.size(), std::size_t{1});
    const MessageBox& box = rig.prompts.boxes[0];
    QCOMPARE(box.buttons, Buttons::Ok);
    const std::string head = "R7P and R7RS Varnel/Flash Download Software\r\rVersion 2.00\r\r";
    QCOMPARE(box.text.substr(0, head.size()), head);
    QVERIFY(box.text.size() > head.size());
    QCOMPARE(box.text.back(), '\r');  // every maker line ends in a carriage return
  }

  void ctrl_c_copies_the_whole_list_with_cr_lf() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    w.add_command("Check of device type");
    w.add_command("Get software revision");
    w.add_response("Successful");
    w.add_response("Successful");
    w.scroll_histories_to_end();
    QClipboard* clipboard = QApplication::clipboard();

    clipboard->setText(QStringLiteral("before"));
    QTest::keyClick(child(w, "lst_CommsCommand"), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(),
             QStringLiteral("Check of device type\r\nGet software revision\r\n"));
    QTest::keyClick(child(w, "lst_CommsCommandResponse"), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("Successful\r\nSuccessful\r\n"));
  }

  void only_exactly_ctrl_c_copies_and_an_empty_list_empties_the_clipboard() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    w.add_command("Check of device type");
    QClipboard* clipboard = QApplication::clipboard();
    QWidget* list = child(w, "lst_CommsCommand");

    clipboard->setText(QStringLiteral("before"));
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("before"));
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("before"));
    QTest::keyClick(list, Qt::Key_C);
    QCOMPARE(clipboard->text(), QStringLiteral("before"));

    QTest::keyClick(child(w, "lst_CommsCommandResponse"), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QString());
  }

  void a_click_selects_the_same_line_and_top_line_in_the_other_list() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (int i = 0; i < 80; ++i) {
      w.add_command("command " + std::to_string(i));
      w.add_response("response " + std::to_string(i));
    }
    auto* commands = child<QListWidget>(w, "lst_CommsCommand");
    auto* responses = child<QListWidget>(w, "lst_CommsCommandResponse");
    auto top = [](QListWidget* l) { return l->indexAt(QPoint(2, 2)).row(); };

    commands->scrollToItem(commands->item(40), QAbstractItemView::PositionAtTop);
    QCOMPARE(top(commands), 40);
    QTest::mouseClick(commands->viewport(), Qt::LeftButton, {},
                      commands->visualItemRect(commands->item(42)).center());
    QCOMPARE(commands->currentRow(), 42);
    QCOMPARE(responses->currentRow(), 42);
    QCOMPARE(top(responses), 40);

    responses->scrollToItem(responses->item(10), QAbstractItemView::PositionAtTop);
    QTest::mouseClick(responses->viewport(), Qt::LeftButton, {},
                      responses->visualItemRect(responses->item(11)).center());
    QCOMPARE(commands->currentRow(), 11);
    QCOMPARE(top(commands), 10);
  }

  void closing_is_refused_while_quit_is_disabled() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    w.set_warning_visible(true);
    w.set_quit_enabled(false);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QTest::mouseClick(child<QPushButton>(w, "cmd_Quit"), Qt::LeftButton);  // disabled
    QVERIFY(w.isVisible());
    w.set_quit_enabled(true);
    QTest::mouseClick(child<QPushButton>(w, "cmd_Quit"), Qt::LeftButton);
    QVERIFY(!w.isVisible());
  }

  void sector_mask_in_the_command_history_data() {
    QTest::addColumn<QList<int>>("unchecked");
    QTest::addColumn<QString>("line");
    QTest::newRow("all seven") << QList<int>{} << QStringLiteral("Erase Sectors  127");
    QTest::newRow("sectors 1 and 6")
        << QList<int>{0, 2, 3, 4, 5} << QStringLiteral("Erase Sectors  66");
    QTest::newRow("sectors 0 and 2")
        << QList<int>{1, 3, 4, 5, 6} << QStringLiteral("Erase Sectors  5");
    QTest::newRow("none") << QList<int>{0, 1, 2, 3, 4, 5, 6} << QStringLiteral("Erase Sectors  0");
  }

  void sector_mask_in_the_command_history() {
    QFETCH(QList<int>, unchecked);
    QFETCH(QString, line);
    Rig rig;
    rig.write_settings(kThreeSlots);
    rig.comms->init_comms();
    FrmFlash w(rig.services());
    for (int i : unchecked)
      child<QCheckBox>(w, QStringLiteral("chk_Sector(%1)").arg(i).toLatin1().constData())
          ->setChecked(false);
    w.cmd_EraseSectors_Click();
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommand")), QStringList{line});
    // Nothing answers on the silent line.
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommandResponse")),
             QStringList{QStringLiteral("Erase Failed")});
    QVERIFY(!rig.prompts.boxes.empty());
    QCOMPARE(rig.prompts.boxes.back().text, std::string("Sector Erase failed."));
    QCOMPARE(rig.prompts.boxes.back().title, std::string("Erase Sectors"));
    QCOMPARE(rig.comms->port_settings(kXonSlot), std::string("9600,N,8,1"));  // given back
    QCOMPARE(child<QListWidget>(w, "lst_CommsCommand")->currentRow(), 0);
  }

  void clear_starts_both_histories_again_at_line_zero() {
    Rig rig;
    rig.write_settings(kThreeSlots);
    rig.comms->init_comms();
    FrmFlash w(rig.services());
    w.add_command("one");
    w.add_response("Successful");
    QTest::mouseClick(child<QPushButton>(w, "cmd_Clear"), Qt::LeftButton);
    QVERIFY(list_lines(&w, QStringLiteral("lst_CommsCommand")).isEmpty());
    QVERIFY(list_lines(&w, QStringLiteral("lst_CommsCommandResponse")).isEmpty());
    w.cmd_IsDeviceOnline_Click();
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommand")),
             QStringList{QStringLiteral("Is Device Online")});
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommandResponse")),
             QStringList{QStringLiteral("No response from device")});
    QCOMPARE(rig.prompts.boxes.back().text, std::string("No response from device."));
    QCOMPARE(rig.prompts.boxes.back().title, std::string("Is Device Online"));
    QCOMPARE(child<QListWidget>(w, "lst_CommsCommandResponse")->currentRow(), 0);
  }

  void ctrl_shift_e_shows_and_hides_the_engineering_controls() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const char* names[] = {"cmd_IsDeviceOnline", "cmd_EraseSectors", "fram_SectorSelect",
                           "lbl_File",           "txt_File",         "cmd_BrowseFile",
                           "cmd_TransferFile"};
    QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    for (const char* name : names)
      QVERIFY2(child(w, name)->isVisible(), name);
    QVERIFY(w.engineering_visible());
    QVERIFY(!child(w, "cmd_TransferFile")->isEnabled());  // reached through Start only
    QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    for (const char* name : names)
      QVERIFY2(!child(w, name)->isVisible(), name);
  }

  void an_online_device_makes_the_sector_selection_usable() {
    Rig rig;
    FrmFlash w(rig.services());
    w.set_erase_enabled(true);  // what "Device is online" does
    QVERIFY(child(w, "fram_SectorSelect")->isEnabled());
    QVERIFY(child(w, "cmd_EraseSectors")->isEnabled());
  }

  void the_window_is_locked_while_a_procedure_runs() {
    Rig rig;
    rig.write_settings(kThreeSlots);
    rig.comms->init_comms();
    FrmFlash w(rig.services());
    w.show();
    const char* locked[] = {"cmd_Start",          "cmdTest",   "cmd_PortSettings",
                            "cmd_About",          "cmd_Clear", "cmd_BrowseFile",
                            "cmd_IsDeviceOnline", "cmd_Quit",  "cmd_EraseSectors"};
    int looks = 0;
    rig.prompts.on_events = [&] {
      if (looks++ > 0) return;
      for (const char* name : locked)
        QVERIFY2(!child(w, name)->isEnabled(), name);
      QVERIFY(!w.close());
      w.cmd_Start_Click();  // a second start while the first one yields is ignored
      w.cmd_IsDeviceOnline_Click();
    };
    w.cmd_Start_Click();
    rig.prompts.on_events = nullptr;
    QVERIFY(looks > 0);
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommand")),
             QStringList{QStringLiteral("Check of device type")});
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommandResponse")),
             QStringList{QStringLiteral("Failed")});
    QCOMPARE(rig.prompts.boxes.size(), std::size_t{1});
    QCOMPARE(rig.prompts.boxes[0].text, std::string("No response from controller received."));
    QCOMPARE(rig.prompts.boxes[0].title, std::string("Communication Error"));
    QCOMPARE(rig.prompts.boxes[0].icon, Icon::Critical);
    for (const char* name : locked)
      QVERIFY2(child(w, name)->isEnabled(), name);
    QVERIFY(w.isVisible());
  }

  void start_on_the_simulated_controller_fills_both_histories() {
    Rig rig(6180);
    rig.write_settings(kThreeSlots);
    rig.comms->init_comms();
    const std::string firmware = (rig.dir / "731-0000.S19").string();
    const std::string loader = rig.program_dir.join("\\Dnld_R7.s19").string();
    rig.prompts.answer_open(firmware);
    FrmFlash w(rig.services());
    w.show();
    bool warned = false;
    bool quit_locked = false;
    auto* progress = child<QProgressBar>(w, "ProgressBar1");
    int progress_peak = 0;
    rig.prompts.on_events = [&] {
      warned = warned || child(w, "lbl_Warning")->isVisible();
      quit_locked = quit_locked || !child(w, "cmd_Quit")->isEnabled();
      progress_peak = std::max(progress_peak, progress->value());
    };
    QTest::mouseClick(child<QPushButton>(w, "cmd_Start"), Qt::LeftButton);
    rig.prompts.on_events = nullptr;

    const QStringList commands{
        QStringLiteral("Check of device type"),
        QStringLiteral("Get software revision"),
        QStringLiteral("Get software number"),
        QStringLiteral("Goto Download Mode"),
        QStringLiteral("Pausing"),
        QStringLiteral("File Transfer of ") + to_qt(loader),
        QStringLiteral("Download completed"),
        QStringLiteral("Execute download app"),
        QStringLiteral("Erase Sectors (chip)"),
        QStringLiteral("File Transferred ") + to_qt(firmware),
        QStringLiteral("Download completed "),
    };
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommand")), commands);
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommandResponse")),
             QStringList(commands.size(), QStringLiteral("Successful")));
    // The lists end selected on their last lines.
    QCOMPARE(child<QListWidget>(w, "lst_CommsCommand")->currentRow(), commands.size() - 1);
    QCOMPARE(child<QListWidget>(w, "lst_CommsCommandResponse")->currentRow(), commands.size() - 1);

    QCOMPARE(rig.prompts.open_dialogs.size(), std::size_t{1});
    QCOMPARE(rig.prompts.open_dialogs[0].file_name, std::string("731*.S19"));
    QCOMPARE(rig.prompts.texts(), std::vector<std::string>{"Please cycle Device Power."});
    QCOMPARE(rig.prompts.boxes[0].title, std::string("Download Completed"));
    QCOMPARE(child<QLineEdit>(w, "txt_File")->text(), to_qt(firmware));
    // The bar moved through the firmware file and is back at 0.
    QVERIFY(progress->maximum() > 0);
    QVERIFY(progress_peak > progress->maximum() / 2);
    QCOMPARE(progress->value(), 0);

    // While the controller was in download mode the window said so and could
    // not be closed; afterwards it is as before.
    QVERIFY(warned);
    QVERIFY(quit_locked);
    QVERIFY(!child(w, "lbl_Warning")->isVisible());
    QVERIFY(child(w, "cmd_Quit")->isEnabled());
    QVERIFY(child(w, "cmd_Start")->isEnabled());
    QCOMPARE(rig.comms->port_settings(kXonSlot), std::string("9600,N,8,1"));
    QCOMPARE(rig.simulation->controller().firmware_state(), sim::FirmwareState::Complete);
  }

  void port_settings_is_a_modal_dialog() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    QString seen;
    bool modal = false;
    when_modal([&](QWidget* dialog) {
      seen = dialog->objectName();
      modal = dialog->isModal();
      if (auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("cmd_OK"))) ok->click();
    });
    QTest::mouseClick(child<QPushButton>(w, "cmd_PortSettings"), Qt::LeftButton);
    QCOMPARE(seen, QStringLiteral("frm_CommsSettings"));
    QVERIFY(modal);
    QVERIFY(!w.comms_settings().isVisible());
    // First run: OK wrote all three slots.
    QCOMPARE(rig.setting(port_setting_key(2)), std::string("38400,n,8,1"));
  }

  void save_restore_setup_is_a_modal_window() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    QString seen;
    bool modal = false;
    when_modal([&](QWidget* window) {
      seen = window->objectName();
      modal = window->isModal();
      if (auto* exit = window->findChild<QPushButton*>(QStringLiteral("cmdExit"))) exit->click();
    });
    QTest::mouseClick(child<QPushButton>(w, "cmdTest"), Qt::LeftButton);
    QCOMPARE(seen, QStringLiteral("frm_DownloadParm"));
    QVERIFY(modal);
    QVERIFY(child(w, "cmdTest")->isEnabled());
  }
};

int run_flash_window_tests(int argc, char** argv) {
  FlashWindowTest t;
  return QTest::qExec(&t, argc, argv);
}

}  // namespace r7::test

#include "flash_window_test.moc"
