// frm_ServiceLog: the entries in the history's cells, newest last, the serial
// number filter, the note of skipped lines, Copy and Ctrl+C.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/service_log.h"
#include "gui_rig.h"
#include "gui_tests.h"
#include "platform/qt_prompts.h"
#include "support/temp_dir.h"
#include "ui/frm_service_log.h"

namespace r7::test {

namespace {

ServiceRecord entry(const char* job, const char* serial, int minute) {
  ServiceRecord r;
  r.start = {2026, 12, 7, 14, minute, 0, 60};
  r.end = r.start;
  r.version = "2.00";
  r.station = "/dev/ttyUSB0";
  r.job = job;
  r.model = 6180;
  r.serial_number = serial;
  r.file = ServiceFile{"/home/me/Reg Downloads/" + std::string(serial) + ".txt", 4036, "ab12"};
  r.set_outcome(Outcome(Ending::Completed));
  return r;
}

QStringList visible_column(const QTableWidget& table, int column) {
  QStringList cells;
  for (int row = 0; row < table.rowCount(); ++row)
    if (!table.isRowHidden(row)) cells << table.item(row, column)->text();
  return cells;
}

}  // namespace

class ServiceLogWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void entries_filter_note_and_copy() {
    TempDir dir;
    const ProgramDir program_dir(dir.path());
    write_file(dir / kServiceLogName,
               service_record_json(entry("save", "2130517", 1)) + "\n" +
                   service_record_json(entry("flash", "2140002", 2)) + "\n{\"start\":\n" +
                   service_record_json(entry("restore", "2130517", 3)) + "\n");
    FrmServiceLog w(program_dir);
    w.show();
    auto* table = child<QTableWidget>(w, "tblLog");
    auto* note = child<QLabel>(w, "lblNote");
    auto* copy = child<QPushButton>(w, "cmdCopy");
    QCOMPARE(table->columnCount(), static_cast<int>(kHistoryColumns.size()));
    QCOMPARE(table->horizontalHeaderItem(5)->text(), QStringLiteral("Serial number"));
    const auto cells = history_cells(entry("flash", "2140002", 2));
    for (int c = 0; c < table->columnCount(); ++c)
      QCOMPARE(table->item(1, c)->text(), to_qt(cells[static_cast<std::size_t>(c)]));
    QCOMPARE(visible_column(*table, 3), (QStringList{"save", "flash", "restore"}));
    QCOMPARE(note->text(), QStringLiteral("3 of 3 entries; 1 damaged line(s) of the log skipped"));

    type_into(child<QLineEdit>(w, "txtSerial"), QStringLiteral("2130"));
    QCOMPARE(visible_column(*table, 3), (QStringList{"save", "restore"}));
    QVERIFY(note->text().startsWith(QStringLiteral("2 of 3 entries")));

    QVERIFY(!copy->isEnabled());
    QApplication::clipboard()->clear();
    table->selectRow(2);
    QVERIFY(copy->isEnabled());
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text(),
             to_qt(service_report_text(entry("restore", "2130517", 3))));
    QApplication::clipboard()->clear();
    table->selectRow(0);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(),
             to_qt(service_report_text(entry("save", "2130517", 1))));

    // A selected entry the filter hides is not copied.
    type_into(child<QLineEdit>(w, "txtSerial"), QStringLiteral("2140"));
    QVERIFY(!copy->isEnabled());
  }

  void a_missing_log_is_said() {
    TempDir dir;
    FrmServiceLog w{ProgramDir(dir.path())};
    QCOMPARE(child<QTableWidget>(w, "tblLog")->rowCount(), 0);
    QVERIFY(child<QLabel>(w, "lblNote")
                ->text()
                .startsWith(QStringLiteral("No job has been logged yet")));
  }
};

int run_service_log_window_tests(int argc, char** argv) {
  ServiceLogWindowTest t;
  return QTest::qExec(&t, argc, argv);
}

}  // namespace r7::test

#include "service_log_window_test.moc"
