// frm_ServiceLog, "Service Log": the service log of the program directory in
// the columns of `r7flash-cli history`, newest last. Typing a serial number
// keeps the entries of the controllers whose numbers begin with it; Copy
// (Ctrl+C) puts the selected entry on the clipboard as text for a service
// report. The line under the table counts the entries and the damaged lines
// that were skipped.
#pragma once

#include <QDialog>

#include <filesystem>
#include <vector>

#include "app/program_dir.h"
#include "app/service_log.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace r7 {

class FrmServiceLog final : public QDialog {
  Q_OBJECT

 public:
  explicit FrmServiceLog(const ProgramDir& program_dir, QWidget* parent = nullptr);

  // Reads the log again (Refresh); the window shows it as it was when last read.
  void reload();
  // The entry of the selected row; nullptr when none is selected.
  const ServiceRecord* selected_record() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void apply_filter();
  void copy_selected();
  void update_note();

  std::filesystem::path file_;
  std::vector<ServiceRecord> records_;
  std::size_t damaged_ = 0;
  bool missing_ = false;
  bool unreadable_ = false;
  QLineEdit* serial_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* note_ = nullptr;
  QPushButton* copy_ = nullptr;
};

}  // namespace r7
