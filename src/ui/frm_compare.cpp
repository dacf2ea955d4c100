#include "ui/frm_compare.h"

#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/qt_prompts.h"

namespace r7 {

namespace {

enum Column { kWhat, kRegister, kName, kFile, kController, kColumns };

QTableWidgetItem* cell(const std::string& text) {
  auto* item = new QTableWidgetItem(to_qt(text));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

// A value cell: highlighted; a value only the other side has in grey italics.
QTableWidgetItem* value_cell(const std::string& text) {
  QTableWidgetItem* item = cell(text);
  item->setBackground(difference_highlight());
  if (text == kAbsent) {
    QFont italic = item->font();
    italic.setItalic(true);
    item->setFont(italic);
    item->setForeground(QColor(96, 96, 96));
  }
  return item;
}

}  // namespace

QColor difference_highlight() {
  return QColor(255, 214, 102);
}

FrmCompare::FrmCompare(const std::string& file, const std::vector<SetupDifference>& differences,
                       QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("frm_Compare"));
  setWindowTitle(QStringLiteral("Compare Setup"));

  auto* summary = new QLabel(to_qt(std::to_string(differences.size()) + " difference(s) between " +
                                   file + " and the controller."),
                             this);
  summary->setObjectName(QStringLiteral("lblSummary"));
  summary->setWordWrap(true);

  auto* table = new QTableWidget(static_cast<int>(differences.size()), kColumns, this);
  table->setObjectName(QStringLiteral("tblDifferences"));
  table->setHorizontalHeaderLabels({QStringLiteral("What"), QStringLiteral("Register"),
                                    QStringLiteral("Name"), QStringLiteral("File"),
                                    QStringLiteral("Controller")});
  table->verticalHeader()->hide();
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int row = 0; row < table->rowCount(); ++row) {
    const SetupDifference& d = differences[static_cast<std::size_t>(row)];
    table->setItem(row, kWhat, cell(d.what));
    table->setItem(row, kRegister,
                   cell(d.register_no ? std::to_string(*d.register_no) : std::string()));
    table->setItem(row, kName, cell(d.name));
    table->setItem(row, kFile, value_cell(d.file_value));
    table->setItem(row, kController, value_cell(d.controller_value));
    table->item(row, kRegister)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  // The names take the room that is left; the values keep to their width.
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
  table->resizeRowsToContents();

  auto* close = new QPushButton(QStringLiteral("&Close"), this);
  close->setObjectName(QStringLiteral("cmdClose"));
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary);
  layout->addWidget(table, 1);
  layout->addLayout(buttons);
  resize(660, 300);
}

}  // namespace r7
