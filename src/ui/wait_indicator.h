// Shows a long wait as it passes: "what: 12 s (up to 90 s)" in a label and,
// when given one, a progress bar moving with the elapsed time (a busy bar for
// a wait without a bound); the bar gets its range back at the end. Runs on the
// GUI thread while the job waits on its worker.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

class QLabel;
class QProgressBar;

namespace r7 {

class WaitIndicator final : public QObject {
  Q_OBJECT

 public:
  WaitIndicator(QLabel* label, QProgressBar* bar, QObject* parent = nullptr);

  void begin(const QString& what, std::uint32_t up_to_ms);
  void end();
  bool waiting() const { return timer_.isActive(); }

 private:
  void update();

  QLabel* label_;
  QProgressBar* bar_;
  QTimer timer_;
  QElapsedTimer elapsed_;
  QString what_;
  std::uint32_t up_to_ms_ = 0;
  int bar_minimum_ = 0;  // the bar's range before the wait
  int bar_maximum_ = 0;
};

}  // namespace r7
