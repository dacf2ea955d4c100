#include "ui/frm_service_log.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/qt_prompts.h"

namespace r7 {

namespace {

constexpr int kFileColumn = 8;

}  // namespace

FrmServiceLog::FrmServiceLog(const ProgramDir& program_dir, QWidget* parent)
    : QDialog(parent), file_(program_dir.join(kServiceLogName)) {
  setObjectName(QStringLiteral("frm_ServiceLog"));
  setWindowTitle(QStringLiteral("Service Log"));

  auto* serial_label = new QLabel(QStringLiteral("&Serial number:"), this);
  serial_ = new QLineEdit(this);
  serial_->setObjectName(QStringLiteral("txtSerial"));
  serial_->setPlaceholderText(QStringLiteral("all controllers"));
  serial_->setClearButtonEnabled(true);
  serial_label->setBuddy(serial_);
  connect(serial_, &QLineEdit::textChanged, this, [this] { apply_filter(); });

  table_ = new QTableWidget(0, static_cast<int>(kHistoryColumns.size()), this);
  table_->setObjectName(QStringLiteral("tblLog"));
  QStringList headings;
  for (const char* heading : kHistoryColumns)
    headings << QString::fromLatin1(heading);
  table_->setHorizontalHeaderLabels(headings);
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->horizontalHeader()->setStretchLastSection(true);
  connect(table_, &QTableWidget::itemSelectionChanged, this,
          [this] { copy_->setEnabled(selected_record() != nullptr); });

  // Ctrl+C copies the whole entry, not the one cell the item view would copy.
  table_->installEventFilter(this);

  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("lblNote"));
  note_->setWordWrap(true);

  copy_ = new QPushButton(QStringLiteral("&Copy"), this);
  copy_->setObjectName(QStringLiteral("cmdCopy"));
  copy_->setToolTip(QStringLiteral("Copy the selected entry for a service report (Ctrl+C)"));
  connect(copy_, &QPushButton::clicked, this, [this] { copy_selected(); });
  auto* refresh = new QPushButton(QStringLiteral("&Refresh"), this);
  refresh->setObjectName(QStringLiteral("cmdRefresh"));
  connect(refresh, &QPushButton::clicked, this, [this] { reload(); });
  auto* close = new QPushButton(QStringLiteral("C&lose"), this);
  close->setObjectName(QStringLiteral("cmdClose"));
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  auto* filter_row = new QHBoxLayout;
  filter_row->addWidget(serial_label);
  filter_row->addWidget(serial_);
  filter_row->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(note_, 1);
  buttons->addWidget(copy_);
  buttons->addWidget(refresh);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filter_row);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  resize(1100, 420);
  reload();
}

void FrmServiceLog::reload() {
  ServiceLogEntries entries = read_service_log(file_);
  records_ = std::move(entries.records);
  damaged_ = entries.damaged;
  missing_ = entries.missing;
  unreadable_ = entries.unreadable;
  table_->clearContents();
  table_->setRowCount(static_cast<int>(records_.size()));
  for (int row = 0; row < table_->rowCount(); ++row) {
    const ServiceRecord& record = records_[static_cast<std::size_t>(row)];
    const auto cells = history_cells(record);
    for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
      auto* item = new QTableWidgetItem(to_qt(cells[static_cast<std::size_t>(column)]));
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      table_->setItem(row, column, item);
    }
    if (record.file) table_->item(row, kFileColumn)->setToolTip(to_qt(record.file->path));
  }
  table_->resizeColumnsToContents();
  apply_filter();
  if (table_->rowCount() > 0) table_->scrollToBottom();
}

void FrmServiceLog::apply_filter() {
  const QString wanted = serial_->text().trimmed();
  for (int row = 0; row < table_->rowCount(); ++row) {
    const auto& serial = records_[static_cast<std::size_t>(row)].serial_number;
    const bool shown = wanted.isEmpty() || (serial && to_qt(*serial).startsWith(wanted));
    table_->setRowHidden(row, !shown);
  }
  if (selected_record() == nullptr) table_->clearSelection();
  update_note();
}

const ServiceRecord* FrmServiceLog::selected_record() const {
  const QList<QTableWidgetItem*> items = table_->selectedItems();
  if (items.isEmpty() || table_->isRowHidden(items.front()->row())) return nullptr;
  return &records_[static_cast<std::size_t>(items.front()->row())];
}

bool FrmServiceLog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    copy_selected();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void FrmServiceLog::copy_selected() {
  if (const ServiceRecord* r = selected_record())
    QApplication::clipboard()->setText(to_qt(service_report_text(*r)));
}

void FrmServiceLog::update_note() {
  QString text;
  if (unreadable_) {
    text = QStringLiteral("The service log %1 cannot be read.").arg(to_qt(file_.string()));
  } else if (missing_) {
    text = QStringLiteral("No job has been logged yet (%1).").arg(to_qt(file_.string()));
  } else {
    int shown = 0;
    for (int row = 0; row < table_->rowCount(); ++row)
      shown += table_->isRowHidden(row) ? 0 : 1;
    text = QStringLiteral("%1 of %2 entries").arg(shown).arg(table_->rowCount());
  }
  if (damaged_ > 0) {
    text += QStringLiteral("; %1 damaged line(s) of the log skipped").arg(damaged_);
  }
  note_->setText(text);
  copy_->setEnabled(selected_record() != nullptr);
}

}  // namespace r7
