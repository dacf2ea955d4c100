// Prompts on Qt widgets: QMessageBox, a list dialog for choices, QFileDialog
// and the override cursor.
// Called on the GUI thread (jobs on a worker reach it through GuiThreadPrompts).
#pragma once

#include <QString>

#include <string>

#include "seams/prompts.h"

class QWidget;

namespace r7 {

// Texts between the procedures (local 8-bit: file names as the system spells
// them) and Qt.
QString to_qt(const std::string& text);
std::string from_qt(const QString& text);

class QtPrompts final : public Prompts {
 public:
  // Boxes without a title of their own show `application_title`.
  explicit QtPrompts(QString application_title);

  Answer message_box(const MessageBox& box) override;
  // The options as a list; OK only once one is selected (a double click
  // chooses it too), Cancel, Escape or the close box cancel.
  std::optional<int> choose(const Choice& choice) override;
  std::optional<std::string> open_file(const FileDialog& dialog) override;
  std::optional<std::string> save_file(const FileDialog& dialog) override;
  void set_busy(bool busy) override;

  // "S Record (*.S19)|*.S19|All(*.*)|*.*" -> Qt's "S Record (*.S19);;All(*.*)";
  // a preset name with a wildcard ("731*.S19") becomes the first filter.
  static QString qt_filter(const std::string& filter, const std::string& preset_pattern);
  // CR, LF and CR LF line breaks as Qt shows them.
  static QString box_text(const std::string& text);

 private:
  QWidget* parent() const;

  QString title_;
  bool busy_ = false;
};

}  // namespace r7
