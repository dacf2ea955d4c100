#include "ui/wait_indicator.h"

#include <QLabel>
#include <QProgressBar>

namespace r7 {

namespace {

constexpr int kTickMs = 250;

}  // namespace

WaitIndicator::WaitIndicator(QLabel* label, QProgressBar* bar, QObject* parent)
    : QObject(parent), label_(label), bar_(bar) {
  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, [this] { update(); });
}

void WaitIndicator::begin(const QString& what, std::uint32_t up_to_ms) {
  what_ = what;
  up_to_ms_ = up_to_ms;
  elapsed_.start();
  if (bar_ != nullptr) {
    bar_->setRange(0, static_cast<int>(up_to_ms / 1000));
    bar_->setValue(0);
  }
  label_->show();
  update();
  timer_.start();
}

void WaitIndicator::end() {
  timer_.stop();
  label_->clear();
  if (bar_ != nullptr) bar_->setValue(0);
}

void WaitIndicator::update() {
  const auto seconds = static_cast<int>(elapsed_.elapsed() / 1000);
  label_->setText(
      QStringLiteral("%1: %2 s (up to %3 s)").arg(what_).arg(seconds).arg(up_to_ms_ / 1000));
  if (bar_ != nullptr) bar_->setValue(std::min(seconds, bar_->maximum()));
}

}  // namespace r7
