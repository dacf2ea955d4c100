// frm_DownloadParm: its loading, the port label, the two lists and their
// Clear buttons, the locking of the whole window during a save, and Exit.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

#include "app/service_log.h"
#include "app/settings_file.h"
#include "gui_rig.h"
#include "gui_tests.h"
#include "setup/setup_file.h"
#include "ui/frm_comms_settings.h"
#include "ui/frm_compare.h"
#include "ui/frm_download_parm.h"

namespace r7::test {

namespace {

// The setup window as the main window opens it: with the port settings
// dialog and its "Port Settings" handler.
struct SetupRig {
  Rig rig;
  GatedClock clock{rig.clock};
  FrmCommsSettings comms_settings{rig.services()};
  int port_settings_clicks = 0;
  std::unique_ptr<FrmDownloadParm> window;

  explicit SetupRig(const char* settings = kThreeSlots, int simulated_model = 0)
      : rig(simulated_model) {
    if (settings != nullptr) rig.write_settings(settings);
    const UiServices services{rig.program_dir, rig.names, *rig.comms, clock, rig.prompts};
    window = std::make_unique<FrmDownloadParm>(services, comms_settings, [this] {
      ++port_settings_clicks;
      comms_settings.exec();
    });
  }
};

}  // namespace

class SetupWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void state_after_loading() {
    SetupRig s;
    FrmDownloadParm& w = *s.window;
    auto* address = child<QComboBox>(w, "cmbAddress");
    QCOMPARE(address->count(), 247);
    QCOMPARE(address->itemText(246), QStringLiteral("247"));
    QCOMPARE(address->currentText(), QStringLiteral("1"));
    QCOMPARE(child<QLabel>(w, "lblCommPort")->text(), QStringLiteral("Comm Port: 2"));
    QVERIFY(!child(w, "ProgressBar1")->isVisibleTo(&w));

    // Loading copies the slots into the port settings fields (the Modbus slot
    // on port 3 here) and shows the port.
    SetupRig other(
        "[COMMS CONTROLS]\r\n"
        "DEVICE 0 COMM PORT =1\r\nDEVICE 0 PORT SETTING =4800,E,7,2\r\n"
        "DEVICE 1 COMM PORT =3\r\nDEVICE 1 PORT SETTING =9600,N,8,1\r\n");
    QCOMPARE(other.comms_settings.findChild<QLineEdit*>(QStringLiteral("txt_Baud(0)"))->text(),
             QStringLiteral("4800"));
    QCOMPARE(child<QLabel>(*other.window, "lblCommPort")->text(), QStringLiteral("Comm Port: 3"));
  }

  // The label shows the Modbus slot's port as saved, not what the dialog's
  // field holds: a discarded edit, a refused common port, and a common port
  // whose Modbus frame was refused (slots 0 and 2 move, the Modbus slot stays)
  // all leave port 2.
  void change_port_settings_shows_the_saved_port() {
    SetupRig s;
    s.window->show();
    struct Step {
      const char* common;
      const char* modbus_baud;  // nullptr: left as it is
      bool ok;                  // OK, or else Escape
      const char* label;
    };
    const Step steps[] = {
        {"4", nullptr, false, "Comm Port: 2"},
        {"5", nullptr, true, "Comm Port: 2"},
        {"3", "14400", true, "Comm Port: 2"},
        {"3", nullptr, true, "Comm Port: 3"},
    };
    for (const Step& step : steps) {
      when_modal([&step](QWidget* dialog) {
        if (step.modbus_baud != nullptr)
          type_into(child<QLineEdit>(*dialog, "txt_Baud(1)"),
                    QString::fromLatin1(step.modbus_baud));
        type_into(child<QLineEdit>(*dialog, "txt_Port(3)"), QString::fromLatin1(step.common));
        if (step.ok) child<QPushButton>(*dialog, "cmd_OK")->click();
        if (dialog->isVisible()) QTest::keyClick(dialog, Qt::Key_Escape);  // OK refused
      });
      QTest::mouseClick(child<QPushButton>(*s.window, "cmdChangePortSettings"), Qt::LeftButton);
      QCOMPARE(child<QLabel>(*s.window, "lblCommPort")->text(), QString::fromLatin1(step.label));
    }
    QCOMPARE(s.port_settings_clicks, 4);
    QCOMPARE(s.rig.setting(comm_port_key(1)), std::string("3"));
    QCOMPARE(s.rig.comms->port_number(kModbusSlot), 3);
    QCOMPARE(s.rig.prompts.texts(), (std::vector<std::string>{kBadPortMessage, kBadBaudMessage}));
  }

  void clear_buttons_empty_their_lists() {
    SetupRig s;
    FrmDownloadParm& w = *s.window;
    w.session().show("first");
    w.session().show("second");
    QTest::mouseClick(child<QPushButton>(w, "cmdClearListBox"), Qt::LeftButton);
    QVERIFY(list_lines(&w, QStringLiteral("List1")).isEmpty());
    w.session().show("again");
    QCOMPARE(list_lines(&w, QStringLiteral("List1")), QStringList{"again"});

    w.session().log_refusal("1 134 -32002 7 ", 4000, 3);
    QCOMPARE(w.session().refusals(), 1);
    QTest::mouseClick(child<QPushButton>(w, "cmdClearList2"), Qt::LeftButton);
    QVERIFY(list_lines(&w, QStringLiteral("List2")).isEmpty());
    QCOMPARE(w.session().refusals(), 0);
    QCOMPARE(list_lines(&w, QStringLiteral("List1")), QStringList{"again"});
  }

  // A save (Download) locks the whole window while it runs. Compare after a
  // change of one register: frm_Compare shows its row with the two values
  // highlighted, the history its line; changed back, a box says that the
  // controller holds the file's setup.
  void save_then_compare_shows_the_changed_register_highlighted() {
    SetupRig s(kThreeSlots, 6180);
    FrmDownloadParm& w = *s.window;
    w.show();
    const std::filesystem::path file = s.rig.dir / "Reg Downloads" / "saved.txt";
    s.rig.prompts.answer_save(file.string());
    QTest::mouseClick(child<QPushButton>(w, "cmdDownload"), Qt::LeftButton);
    QVERIFY(!w.isEnabled());
    QVERIFY(!w.close());
    QTRY_VERIFY_WITH_TIMEOUT(!w.runner().busy(), 60000);
    QVERIFY(w.isEnabled());
    QCOMPARE(s.rig.prompts.busy_history.front(), true);
    QVERIFY(!s.rig.prompts.busy_history.back());
    QCOMPARE(s.rig.prompts.texts().back().rfind("Downloading Process Complete.", 0), 0U);
    const QStringList history = list_lines(&w, QStringLiteral("List1"));
    QCOMPARE(child<QListWidget>(w, "List1")->currentRow(), history.size() - 1);
    // The reads the controller refused are listed under Read/Write Errors and
    // counted in the summary.
    const QStringList errors = list_lines(&w, QStringLiteral("List2"));
    const auto refused_reads = errors.filter(QRegularExpression(QStringLiteral(" read    Error$")));
    QVERIFY(!refused_reads.isEmpty());
    QCOMPARE(refused_reads.size(), errors.size());
    const QString summary = child<QLabel>(w, "lbl_Summary")->text();
    QVERIFY2(
        summary.startsWith(QStringLiteral("Save to %1: completed. Refused: %2 reads (registers ")
                               .arg(QString::fromStdString(file.string()))
                               .arg(refused_reads.size())),
        qPrintable(summary));
    sim::Controller& controller = s.rig.simulation->controller();
    const std::int16_t saved = *controller.read_register(110);
    const auto compare = [&] {
      s.rig.prompts.answer_open(file.string());
      QTest::mouseClick(child<QPushButton>(w, "cmdCompare"), Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(!w.runner().busy(), 60000);
    };
    controller.set_register(110, static_cast<std::int16_t>(saved + 1));
    compare();
    QTRY_VERIFY(w.findChild<QDialog*>(QStringLiteral("frm_Compare")) != nullptr);
    auto* table = child<QTableWidget>(*w.findChild<QDialog*>(QStringLiteral("frm_Compare")),
                                      "tblDifferences");
    QCOMPARE(table->rowCount(), 1);
    const QStringList row{"Register", "110", table->item(0, 2)->text(), QString::number(saved),
                          QString::number(saved + 1)};
    for (int column = 0; column < 5; ++column) {
      QCOMPARE(table->item(0, column)->text(), row[column]);
      QCOMPARE(table->item(0, column)->background().color() == difference_highlight(), column >= 3);
    }
    QVERIFY(list_lines(&w, QStringLiteral("List1"))
                .contains(QStringLiteral("Register 110 (%1): file %2, controller %3")
                              .arg(row[2], row[3], row[4])));

    controller.set_register(110, saved);
    compare();
    QCOMPARE(s.rig.prompts.texts().back(),
             "The controller holds the setup of " + file.string() + ".");
    // Each job is in the service log with the file it used.
    const ServiceLogEntries logged = read_service_log(s.rig.dir / kServiceLogName);
    QCOMPARE(logged.records.size(), std::size_t{3});
    const char* jobs[] = {"save", "compare", "compare"};
    for (std::size_t i = 0; i < 3; ++i) {
      QCOMPARE(logged.records[i].job, std::string(jobs[i]));
      QCOMPARE(logged.records[i].file ? logged.records[i].file->path : "", file.string());
    }
    QCOMPARE(logged.records[1].ending, std::string("differs"));
    QCOMPARE(logged.records[2].serial_number.value_or(""), std::string("2130517"));
    QTest::mouseClick(child<QPushButton>(w, "cmdExit"), Qt::LeftButton);
    QVERIFY(!w.isVisible());
  }

  // The restore waits 13 s between its two writes of register 25; the window
  // goes on painting and handling clicks meanwhile.
  void the_window_answers_during_the_restores_pause() {
    SetupRig s(kThreeSlots, 6180);
    FrmDownloadParm& w = *s.window;
    w.show();
    std::string text;
    for (const std::string& line : setup_header_lines({"6180", "21", "30517", "2", "1850", {}}))
      text += line + "\r\n";
    const std::filesystem::path file = s.rig.dir / "Reg Downloads" / "pause.txt";
    write_file(file, text + "100 1\r\n25 0\r\n");
    s.rig.prompts.answer(Answer::Yes);
    s.rig.prompts.answer_open(file.string());
    QTest::mouseClick(child<QPushButton>(w, "cmdUpload"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(s.clock.holding(), 60000);

    // Lines written before the pause have arrived; Exit is refused; a resize
    // is done at once.
    QTRY_VERIFY(
        list_lines(&w, QStringLiteral("List1")).contains(QStringLiteral("100 1 Successful")));
    QTest::mouseClick(child<QPushButton>(w, "cmdExit"), Qt::LeftButton);
    QVERIFY(w.isVisible());
    const QSize size = w.size() + QSize(40, 30);
    w.resize(size);
    QTRY_COMPARE(w.size(), size);
    QVERIFY(s.clock.holding());
    QVERIFY(w.runner().busy());

    s.clock.release();
    QTRY_VERIFY_WITH_TIMEOUT(!w.runner().busy(), 60000);
    QVERIFY(list_lines(&w, QStringLiteral("List1")).contains(QStringLiteral("25 0 Successful")));
    QCOMPARE(s.rig.prompts.texts().back(),
             std::string("Upload Complete\rVerified: the controller holds the file's setup."));
    QCOMPARE(child<QLabel>(w, "lbl_Summary")->text(),
             QStringLiteral("Restore of %1: completed. Nothing refused, nothing skipped.")
                 .arg(QString::fromStdString(file.string())));
  }
};

int run_setup_window_tests(int argc, char** argv) {
  SetupWindowTest t;
  return QTest::qExec(&t, argc, argv);
}

}  // namespace r7::test

#include "setup_window_test.moc"
