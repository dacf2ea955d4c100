#include "platform/qt_prompts.h"

#include <algorithm>

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QStringList>
#include <QVBoxLayout>

namespace r7 {

namespace {

QMessageBox::StandardButton standard(Answer a) {
  switch (a) {
    case Answer::Ok:
      return QMessageBox::Ok;
    case Answer::Cancel:
      return QMessageBox::Cancel;
    case Answer::Yes:
      return QMessageBox::Yes;
    case Answer::No:
      return QMessageBox::No;
    case Answer::Retry:
      return QMessageBox::Retry;
  }
  return QMessageBox::Ok;
}

QString from_local(const std::string& s) {
  return to_qt(s);
}

std::string to_local(const QString& s) {
  return from_qt(s);
}

// QMessageBox sizes itself by its text: a short text under a long title
// ("Firmware File Check") would cut the title. A spacer across the bottom of
// its grid keeps the box as wide as the title plus the title bar's icon and
// buttons.
void keep_title_visible(QMessageBox& m) {
  constexpr int kTitleBarRoom = 160;
  auto* grid = qobject_cast<QGridLayout*>(m.layout());
  if (grid == nullptr) return;
  const QFontMetrics title_font(QApplication::font("QMdiSubWindowTitleBar"));
  const int width = title_font.horizontalAdvance(m.windowTitle()) + kTitleBarRoom;
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

QString to_qt(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string from_qt(const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QtPrompts::QtPrompts(QString application_title) : title_(std::move(application_title)) {}

QWidget* QtPrompts::parent() const {
  return QApplication::activeWindow();
}

QString QtPrompts::box_text(const std::string& text) {
  QString t = from_local(text);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t;
}

Answer QtPrompts::message_box(const MessageBox& box) {
  QMessageBox m(parent());
  m.setWindowTitle(box.title.empty() ? title_ : from_local(box.title));
  m.setText(box_text(box.text));
  switch (box.icon) {
    case Icon::None:
      m.setIcon(QMessageBox::NoIcon);
      break;
    case Icon::Critical:
      m.setIcon(QMessageBox::Critical);
      break;
    case Icon::Question:
      m.setIcon(QMessageBox::Question);
      break;
    case Icon::Exclamation:
      m.setIcon(QMessageBox::Warning);
      break;
    case Icon::Information:
      m.setIcon(QMessageBox::Information);
      break;
  }
  QList<Answer> answers;
  switch (box.buttons) {
    case Buttons::Ok:
      answers = {Answer::Ok};
      break;
    case Buttons::OkCancel:
      answers = {Answer::Ok, Answer::Cancel};
      break;
    case Buttons::YesNo:
      answers = {Answer::Yes, Answer::No};
      break;
    case Buttons::YesNoCancel:
      answers = {Answer::Yes, Answer::No, Answer::Cancel};
      break;
    case Buttons::RetryCancel:
      answers = {Answer::Retry, Answer::Cancel};
      break;
  }
  QMessageBox::StandardButtons buttons;
  for (Answer a : answers)
    buttons |= standard(a);
  m.setStandardButtons(buttons);
  m.setDefaultButton(standard(box.default_answer.value_or(answers.front())));
  keep_title_visible(m);
  // A busy pointer must not hide the arrow over a question.
  if (busy_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  const int clicked = m.exec();
  if (busy_) QApplication::restoreOverrideCursor();
  for (Answer a : answers) {
    if (clicked == standard(a)) return a;
  }
  // Closed with Escape or the close box: the negative answer of the set.
  return answers.size() > 1 ? answers.back() : answers.front();
}

std::optional<int> QtPrompts::choose(const Choice& choice) {
  QDialog d(parent());
  d.setObjectName(QStringLiteral("dlg_Choice"));
  d.setWindowTitle(choice.title.empty() ? title_ : from_local(choice.title));
  auto* label = new QLabel(box_text(choice.text), &d);
  auto* list = new QListWidget(&d);
  list->setObjectName(QStringLiteral("lst_Choice"));
  for (const std::string& option : choice.options)
    list->addItem(from_local(option));
  // Every option in view, none scrolled away.
  list->setMinimumWidth(list->sizeHintForColumn(0) + 4 * list->frameWidth() + 8);
  list->setFixedHeight(list->sizeHintForRow(0) * list->count() + 2 * list->frameWidth() + 4);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);  // nothing is chosen for the user
  QObject::connect(list, &QListWidget::itemSelectionChanged, ok,
                   [list, ok] { ok->setEnabled(!list->selectedItems().isEmpty()); });
  QObject::connect(list, &QListWidget::itemDoubleClicked, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  auto* layout = new QVBoxLayout(&d);
  // The text's lines unwrapped unless one is wider than about 100 characters.
  int text_width = 0;
  for (const QString& line : label->text().split(QLatin1Char('\n')))
    text_width = std::max(text_width, label->fontMetrics().horizontalAdvance(line));
  const int widest = label->fontMetrics().averageCharWidth() * 100;
  label->setWordWrap(text_width > widest);
  if (text_width > widest) label->setMinimumWidth(widest);
  layout->addWidget(label);
  layout->addWidget(list);
  layout->addWidget(buttons);

  if (busy_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  const int result = d.exec();
  if (busy_) QApplication::restoreOverrideCursor();
  if (result != QDialog::Accepted || list->selectedItems().isEmpty()) return std::nullopt;
  return list->row(list->selectedItems().front());
}

QString QtPrompts::qt_filter(const std::string& filter, const std::string& preset_pattern) {
  QStringList parts = from_local(filter).split(QLatin1Char('|'));
  QStringList filters;
  if (preset_pattern.find_first_of("*?") != std::string::npos) {
    const QString p = from_local(preset_pattern);
    filters << p + QStringLiteral(" (") + p + QLatin1Char(')');
  }
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QString pattern = parts[i + 1].trimmed();
    if (description.isEmpty() && pattern.isEmpty()) continue;
    pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << (description.contains(QLatin1Char('('))
                    ? description
                    : description + QStringLiteral(" (") + pattern + QLatin1Char(')'));
  }
  return filters.join(QStringLiteral(";;"));
}

std::optional<std::string> QtPrompts::open_file(const FileDialog& dialog) {
  QFileDialog d(parent(), from_local(dialog.title), from_local(dialog.initial_dir));
  d.setOption(QFileDialog::DontUseNativeDialog);
  d.setAcceptMode(QFileDialog::AcceptOpen);
  d.setFileMode(dialog.must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  d.setNameFilter(qt_filter(dialog.filter, dialog.file_name));
  if (!dialog.default_ext.empty()) d.setDefaultSuffix(from_local(dialog.default_ext));
  if (dialog.file_name.find_first_of("*?") == std::string::npos && !dialog.file_name.empty()) {
    d.selectFile(from_local(dialog.file_name));
  }
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return std::nullopt;
  return to_local(d.selectedFiles().front());
}

std::optional<std::string> QtPrompts::save_file(const FileDialog& dialog) {
  QFileDialog d(parent(), from_local(dialog.title), from_local(dialog.initial_dir));
  d.setOption(QFileDialog::DontUseNativeDialog);
  d.setOption(QFileDialog::DontConfirmOverwrite);  // the save asks itself
  d.setAcceptMode(QFileDialog::AcceptSave);
  d.setFileMode(QFileDialog::AnyFile);
  d.setNameFilter(qt_filter(dialog.filter, {}));
  if (!dialog.file_name.empty()) d.selectFile(from_local(dialog.file_name));
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return std::nullopt;
  return to_local(d.selectedFiles().front());
}

void QtPrompts::set_busy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace r7
