// frm_Compare, "Compare Setup": the differences between a setup file and the
// controller, one row each (What, Register, Name, File, Controller), the two
// values of every row highlighted.
#pragma once

#include <QColor>
#include <QDialog>

#include <string>
#include <vector>

#include "setup/setup_compare.h"

namespace r7 {

class FrmCompare final : public QDialog {
  Q_OBJECT

 public:
  FrmCompare(const std::string& file, const std::vector<SetupDifference>& differences,
             QWidget* parent = nullptr);
};

// The background of the cells that differ.
QColor difference_highlight();

}  // namespace r7
