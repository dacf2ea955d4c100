// frm_Flash: its controls, the histories (copy, alignment, Clear), the close
// check, the engineering functions and the locking of the window while a
// procedure runs.
#include <QApplication>

#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <algorithm>

#include "app/service_log.h"
#include "app/settings_file.h"
#include "gui_rig.h"
#include "gui_tests.h"
#include "platform/qt_prompts.h"
#include "ui/frm_comms_settings.h"
#include "ui/frm_flash.h"

namespace r7::test {

class FlashWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void engineering_controls_start_hidden_and_ctrl_shift_e_toggles_them() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const char* names[] = {"cmd_IsDeviceOnline", "cmd_EraseSectors", "fram_SectorSelect",
                           "lbl_File",           "txt_File",         "cmd_BrowseFile",
                           "cmd_TransferFile"};
    for (int round = 0; round < 3; ++round) {
      for (const char* name : names)
        QVERIFY2(child(w, name)->isVisible() == (round == 1), name);
      QCOMPARE(w.engineering_visible(), round == 1);
      QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    }
    QVERIFY(!child(w, "lbl_Warning")->isVisible());
    QVERIFY(!child(w, "cmd_TransferFile")->isEnabled());  // reached through Start only
    QVERIFY(!child(w, "fram_SectorSelect")->isEnabled());
    QVERIFY(!child(w, "cmd_EraseSectors")->isEnabled());
    w.set_erase_enabled(true);  // what "Device is online" does
    QVERIFY(child(w, "fram_SectorSelect")->isEnabled());
    QVERIFY(child(w, "cmd_EraseSectors")->isEnabled());

    // Closing is refused while Quit is disabled (the controller in download mode).
    w.set_quit_enabled(false);
    QVERIFY(!w.close());
    QTest::mouseClick(child<QPushButton>(w, "cmd_Quit"), Qt::LeftButton);
    QVERIFY(w.isVisible());
    w.set_quit_enabled(true);
    QTest::mouseClick(child<QPushButton>(w, "cmd_Quit"), Qt::LeftButton);
    QVERIFY(!w.isVisible());
  }

  void engineering_controls_leave_the_width_alone() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int width = w.width();
    QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(w.engineering_visible());
    QApplication::processEvents();
    QVERIFY2(w.minimumSizeHint().width() <= width, "the layout needs a wider window");
    QCOMPARE(w.width(), width);
  }

  void the_simulated_controller_is_named_only_with_simulate() {
    Rig simulated(6180);
    FrmFlash w(simulated.services());
    w.show();
    QCOMPARE(child<QLabel>(w, "lbl_Controller")->text(),
             QStringLiteral("Simulated controller 6180"));
    QVERIFY(child(w, "lbl_Controller")->isVisible());
    Rig real;
    FrmFlash plain(real.services());
    QVERIFY(plain.findChild<QLabel*>(QStringLiteral("lbl_Controller")) == nullptr);
  }

  void a_history_with_the_focus_looks_different() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    for (const char* name : {"lst_CommsCommand", "lst_CommsCommandResponse"}) {
      auto* list = child<QListWidget>(w, name);
      child(w, "cmd_Start")->setFocus();
      QApplication::processEvents();
      const QImage without = list->grab().toImage();
      list->setFocus();
      QApplication::processEvents();
      QVERIFY(list->hasFocus());
      QVERIFY2(list->grab().toImage() != without, name);
    }
  }

  void only_ctrl_c_copies_the_whole_list_with_cr_lf_and_clear_empties_it() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    w.add_command("Check of device type");
    w.add_command("Get software revision");
    w.add_response("Successful");
    QClipboard* clipboard = QApplication::clipboard();
    QWidget* commands = child(w, "lst_CommsCommand");

    clipboard->setText(QStringLiteral("before"));
    for (auto modifiers : {Qt::ControlModifier | Qt::ShiftModifier,
                           Qt::ControlModifier | Qt::AltModifier, Qt::KeyboardModifiers{}}) {
      QTest::keyClick(commands, Qt::Key_C, modifiers);
      QCOMPARE(clipboard->text(), QStringLiteral("before"));
    }
    QTest::keyClick(commands, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(),
             QStringLiteral("Check of device type\r\nGet software revision\r\n"));
    QTest::keyClick(child(w, "lst_CommsCommandResponse"), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("Successful\r\n"));
    QTest::mouseClick(child<QPushButton>(w, "cmd_Clear"), Qt::LeftButton);
    QTest::keyClick(commands, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QString());  // an empty list empties the clipboard
    // Both histories start again at line 0.
    w.cmd_IsDeviceOnline_Click();
    QTRY_VERIFY(!w.runner().busy());
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommand")),
             QStringList{QStringLiteral("Is Device Online")});
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommandResponse")),
             QStringList{QStringLiteral("No response from device")});
    QCOMPARE(child<QListWidget>(w, "lst_CommsCommandResponse")->currentRow(), 0);
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

  void sector_mask_in_the_command_history() {
    const std::pair<QList<int>, const char*> cases[] = {
        {{}, "Erase Sectors  127"},
        {{1, 3, 4, 5, 6}, "Erase Sectors  5"},
        {{0, 1, 2, 3, 4, 5, 6}, "Erase Sectors  0"}};
    for (const auto& [unchecked, line] : cases) {
      Rig rig;
      FrmFlash w(rig.services());
      for (int i : unchecked)
        child<QCheckBox>(w, QStringLiteral("chk_Sector(%1)").arg(i).toLatin1().constData())
            ->setChecked(false);
      rig.prompts.answer(Answer::Yes);  // erase the whole flash
      w.cmd_EraseSectors_Click();
      QTRY_VERIFY(!w.runner().busy());
      QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommand")), QStringList{line});
    }
  }

  void start_on_the_simulated_controller_fills_both_histories() {
    Rig rig(6180);
    const std::string firmware = (rig.dir / "731-0000.S19").string();
    rig.prompts.answer_open(firmware);
    FrmFlash w(rig.services());
    w.show();
    const char* locked[] = {"cmd_Start",          "cmdTest",   "cmd_PortSettings",
                            "cmd_About",          "cmd_Clear", "cmd_BrowseFile",
                            "cmd_IsDeviceOnline", "cmd_Quit",  "chk_SaveSetup"};
    auto* progress = child<QProgressBar>(w, "ProgressBar1");
    int progress_peak = 0;
    int file_size = 0;
    QObject::connect(progress, &QProgressBar::valueChanged, [&, progress](int v) {
      progress_peak = std::max(progress_peak, v);
      file_size = std::max(file_size, progress->maximum());
    });
    // The whole download has a bar of its own that never starts again.
    auto* whole = child<QProgressBar>(w, "ProgressBar_Download");
    QList<int> whole_values;
    QObject::connect(whole, &QProgressBar::valueChanged, [&](int v) { whole_values << v; });
    bool warned = false;
    struct ShowSpy : QObject {
      bool* seen;
      explicit ShowSpy(bool* s) : seen(s) {}
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show) *seen = true;
        return false;
      }
    } show_spy(&warned);
    child(w, "lbl_Warning")->installEventFilter(&show_spy);

    QTest::mouseClick(child<QPushButton>(w, "cmd_Start"), Qt::LeftButton);
    // The job runs on its own thread; the window is locked meanwhile and
    // ignores a second start.
    QVERIFY(w.runner().busy());
    for (const char* name : locked)
      QVERIFY2(!child(w, name)->isEnabled(), name);
    QVERIFY(!w.close());
    w.cmd_Start_Click();
    w.cmd_IsDeviceOnline_Click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.runner().busy(), 60000);

    // Both histories hold every step, the setup saved first as chk_SaveSetup
    // is on by default (the steps and the box: firmware_download_test); they
    // end selected on their last lines.
    // The backup names the values the demonstration controller refuses.
    const QStringList commands = list_lines(&w, QStringLiteral("lst_CommsCommand"));
    QCOMPARE(commands.size(), 12);
    QStringList responses(commands.size(), QStringLiteral("Successful"));
    responses[3] = QStringLiteral("Successful, 3 values refused");
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommandResponse")), responses);
    QCOMPARE(child<QListWidget>(w, "lst_CommsCommand")->currentRow(), commands.size() - 1);
    QCOMPARE(child<QListWidget>(w, "lst_CommsCommandResponse")->currentRow(), commands.size() - 1);

    QCOMPARE(child<QLineEdit>(w, "txt_File")->text(), to_qt(firmware));
    // The bar moved through the firmware file and stands full at the end.
    QVERIFY(file_size > 100000);
    QVERIFY(progress_peak > file_size / 2);
    QCOMPARE(progress->value(), progress->maximum());
    QVERIFY(whole_values.size() > 10);
    QVERIFY(std::is_sorted(whole_values.begin(), whole_values.end()));
    QCOMPARE(whole->value(), 100);
    QVERIFY2(whole->text().startsWith(QStringLiteral("100 %   done in ")),
             qPrintable(whole->text()));

    // The summary: the controller, the file with its software number, the
    // backup as a link to the file, with its refusals.
    const QString summary = child<QLabel>(w, "lbl_Summary")->text();
    const QString backup_dir = to_qt((rig.dir / "Reg Downloads").string());
    for (const QString& part :
         {QStringLiteral("Controller: model 6180, serial number 2130517, software number 2, "
                         "software revision 1850<br>Download completed in "),
          to_qt(firmware) + QStringLiteral(" (software number 3)<br>"),
          QStringLiteral("<a href=\"file://") + backup_dir + QStringLiteral("/2130517-before-"),
          QStringLiteral(".txt</a> (3 values refused)")}) {
      QVERIFY2(summary.contains(part), qPrintable(summary));
    }

    // While the controller was in download mode the window said so; afterwards
    // it is as before.
    QVERIFY(warned);
    QVERIFY(!child(w, "lbl_Warning")->isVisible());
    for (const char* name : locked)
      QVERIFY2(child(w, name)->isEnabled(), name);
    QVERIFY(!child(w, "cmd_EraseSectors")->isEnabled());  // only once a bootloader answered
    QCOMPARE(rig.prompts.boxes.back().title, std::string("Download Completed"));
    QCOMPARE(rig.prompts.boxes.back().icon, Icon::Information);

    // Ctrl+S saves both histories side by side with their times, the
    // controller and the outcome, as CR LF text.
    const std::filesystem::path log = rig.dir / "service";
    rig.prompts.answer_save(log.string());
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    const std::string text = read_file(rig.dir / "service.txt");
    for (const char* part :
         {"\r\nController: model 6180, serial number 2130517, software number 2, software "
          "revision 1850\r\n",
          "\r\nLast download: completed\r\n", "  Command  ", "  Check of device type  "}) {
      QVERIFY2(text.find(part) != std::string::npos, part);
    }
    QRegularExpression row(
        QStringLiteral("\\d\\d:\\d\\d:\\d\\d  Download completed +"
                       "\\d\\d:\\d\\d:\\d\\d  Successful\r\n"));
    QVERIFY(row.match(QString::fromStdString(text)).hasMatch());

    // The download is in the service log, with the controller, the file and
    // the backup; "Service log..." shows it.
    const ServiceLogEntries logged = read_service_log(rig.dir / kServiceLogName);
    QCOMPARE(logged.records.size(), std::size_t{1});
    const ServiceRecord& record = logged.records[0];
    QCOMPARE(record.job, std::string("flash"));
    QCOMPARE(record.ending, std::string("completed"));
    QCOMPARE(record.serial_number.value_or(""), std::string("2130517"));
    QCOMPARE(record.model.value_or(0), 6180);
    QCOMPARE(record.file ? record.file->path : "", firmware);
    QVERIFY(record.file && record.file->sha256 && record.file->sha256->size() == 64);
    QVERIFY(record.backup && record.backup->find("2130517-before-") != std::string::npos);
    int rows = -1;
    when_modal([&rows](QWidget* dialog) {
      if (auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("tblLog"))) {
        rows = table->rowCount();
      }
      static_cast<QDialog*>(dialog)->accept();
    });
    QTest::mouseClick(child<QPushButton>(w, "cmd_ServiceLog"), Qt::LeftButton);
    QCOMPARE(rows, 1);
  }

  // The line lost mid-firmware: its cause once, then what to do (no dump of
  // frames that never went out); the summary and the whole bar say where it ended.
  void a_line_lost_mid_download_says_why_once_and_what_to_do() {
    Rig rig(6180);
    rig.prompts.answer_open((rig.dir / "731-0000.S19").string());
    rig.unpluggable->unplug_after(1500);  // well into the firmware file
    FrmFlash w(rig.services());
    w.show();
    w.cmd_Start_Click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.runner().busy(), 60000);
    QCOMPARE(rig.prompts.boxes.size(), std::size_t{2});
    QVERIFY(rig.prompts.boxes[0].text.rfind("Cannot open comm port #2, it is not available", 0) ==
            0);
    QCOMPARE(rig.prompts.boxes[1].title, std::string("Download Broken Off"));
    QVERIFY(rig.prompts.boxes[1].text.find("Press Start again") != std::string::npos);
    QVERIFY(rig.prompts.boxes[1].text.find("The serial port was lost") != std::string::npos);
    QCOMPARE(list_lines(&w, QStringLiteral("lst_CommsCommandResponse")).last(),
             QStringLiteral("Failed"));
    QVERIFY(child<QLabel>(w, "lbl_Summary")
                ->text()
                .contains(QStringLiteral("Download failed at &quot;File Transferred ")));
    QVERIFY(child<QProgressBar>(w, "ProgressBar_Download")
                ->text()
                .contains(QStringLiteral("   ended after ")));
    QVERIFY(child<QProgressBar>(w, "ProgressBar_Download")->value() < 100);
  }

  void save_setup_option_is_kept_in_the_settings_file() {
    Rig rig;
    rig.write_settings(std::string(kThreeSlots) + "[OPTIONS]\r\nSAVE SETUP BEFORE DOWNLOAD=0\r\n");
    for (const bool on : {false, true}) {
      FrmFlash w(rig.services());
      auto* box = child<QCheckBox>(w, "chk_SaveSetup");
      QCOMPARE(box->isChecked(), on);
      box->click();
      QCOMPARE(read_profile_string(kOptionsSection, kSaveSetupKey, "", rig.ini()),
               std::string(on ? "0" : "1"));
      if (on) box->click();
    }
    QCOMPARE(rig.setting(port_setting_key(2)), std::string("38400,n,8,1"));  // the rest kept
  }

  void port_settings_and_save_restore_setup_are_modal() {
    Rig rig;
    FrmFlash w(rig.services());
    w.show();
    const char* cases[][3] = {{"cmd_PortSettings", "frm_CommsSettings", "cmd_OK"},
                              {"cmdTest", "frm_DownloadParm", "cmdExit"}};
    for (const auto& [button, window, closer] : cases) {
      QString seen;
      bool modal = false;
      when_modal([&, closer = closer](QWidget* dialog) {
        seen = dialog->objectName();
        modal = dialog->isModal();
        if (auto* b = dialog->findChild<QPushButton*>(QString::fromLatin1(closer))) b->click();
      });
      QTest::mouseClick(child<QPushButton>(w, button), Qt::LeftButton);
      QCOMPARE(seen, QString::fromLatin1(window));
      QVERIFY(modal);
      QVERIFY(child(w, button)->isEnabled());
    }
    QVERIFY(!w.comms_settings().isVisible());
    // First run: OK wrote all three slots.
    QCOMPARE(rig.setting(port_setting_key(2)), std::string("38400,n,8,1"));
  }
};

int run_flash_window_tests(int argc, char** argv) {
  FlashWindowTest t;
  return QTest::qExec(&t, argc, argv);
}

}  // namespace r7::test

#include "flash_window_test.moc"
