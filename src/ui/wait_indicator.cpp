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
    if (!waiting()) {
      bar_minimum_ = bar_->minimum();
      bar_maximum_ = bar_->maximum();
    }
    bar_->setRange(0, static_cast<int>(up_to_ms / 1000));  // 0..0: a busy bar
    bar_->setValue(0);
  }
  label_->show();
  update();
  timer_.start();
}

void WaitIndicator::end() {
  const bool was_waiting = waiting();
  timer_.stop();
  label_->clear();
  if (bar_ != nullptr && was_waiting) {
    bar_->setRange(bar_minimum_, bar_maximum_);
    bar_->setValue(bar_minimum_);
  }
}

void WaitIndicator::update() {
  const auto seconds = static_cast<int>(elapsed_.elapsed() / 1000);
  if (up_to_ms_ == 0) {
    label_->setText(QStringLiteral("%1: %2 s").arg(what_).arg(seconds));
    return;
  }
  label_->setText(
      QStringLiteral("%1: %2 s (up to %3 s)").arg(what_).arg(seconds).arg(up_to_ms_ / 1000));
  if (bar_ != nullptr) bar_->setValue(std::min(seconds, bar_->maximum()));
}

}  // namespace r7
